# One Debian package with the shared and static libraries, the headers, the
# CMake and pkg-config files and, when built, the command-line tool:
#
#   cmake -S . -B build/deb -DCMAKE_INSTALL_PREFIX=/usr && cmake --build build/deb
#   (cd build/deb && cpack -G DEB)
#
# Its run-time dependencies come from dpkg-shlibdeps (package dpkg-dev).
set(CPACK_PACKAGE_NAME orbisgrove-feedback-kit)
set(CPACK_PACKAGE_VENDOR "Orbisgrove")
set(CPACK_PACKAGE_CONTACT "Orbisgrove maintainers <maintainers@orbisgrove.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Client kit for reporting problems on the map")
set(CPACK_PACKAGE_DESCRIPTION
    "A C++20 library (with a C interface) that a map application links in to let its users report problems on the map: it delivers the report categories, kept on the device for up to 8 days, and submits user feedback, with results on the host's main queue. Includes the orbisgrove-feedback command-line tool with its local reference service."
)
set(CPACK_PACKAGE_INSTALL_DIRECTORY ${CPACK_PACKAGE_NAME})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A shlibs file and the ldconfig trigger, so that packages built against this
# one get a versioned dependency and the library is found at once.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# What a static link or a pkg-config build needs besides this package.
set(_orbisgrove_http_dev "libcurl4-openssl-dev, libssl-dev")
if(NOT ORBISGROVE_WITH_CURL)
  set(_orbisgrove_http_dev liburiparser-dev)
endif()
if(ORBISGROVE_WITH_ICU)
  string(APPEND _orbisgrove_http_dev ", libicu-dev")
endif()
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "${_orbisgrove_http_dev}, libplist-dev, libsimdjson-dev, libsqlite3-dev, pkg-config")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
