# Install rules, the CMake package, the pkg-config file and the Debian
# package. Included only when ORBISGROVE_INSTALL is on (the default when the
# kit is the top-level project).
include(CMakePackageConfigHelpers)

set(ORBISGROVE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/OrbisgroveFeedbackKit
    CACHE STRING "Where the CMake package files go, relative to the prefix")

# Headers: the public tree as it stands (the C interface included) and the
# generated version header. Internal headers live under src/ and never reach
# this directory.
install(
  DIRECTORY ${PROJECT_SOURCE_DIR}/include/orbisgrove
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT Development
  FILES_MATCHING
  PATTERN "*.hpp"
  PATTERN "*.h")
install(FILES ${PROJECT_BINARY_DIR}/include/orbisgrove/Version.hpp DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orbisgrove
        COMPONENT Development)

# Two export sets, so that a host of the shared library needs none of the
# static library's link dependencies to load the package.
install(
  TARGETS OrbisgroveFeedbackKit
  EXPORT OrbisgroveFeedbackKitTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
install(
  TARGETS OrbisgroveFeedbackKit_static
  EXPORT OrbisgroveFeedbackKitStaticTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
install(
  EXPORT OrbisgroveFeedbackKitTargets
  NAMESPACE OrbisgroveFeedbackKit::
  DESTINATION ${ORBISGROVE_INSTALL_CMAKEDIR}
  COMPONENT Development)
install(
  EXPORT OrbisgroveFeedbackKitStaticTargets
  NAMESPACE OrbisgroveFeedbackKit::
  DESTINATION ${ORBISGROVE_INSTALL_CMAKEDIR}
  COMPONENT Development)

configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/OrbisgroveFeedbackKitConfig.cmake.in
  ${PROJECT_BINARY_DIR}/OrbisgroveFeedbackKitConfig.cmake INSTALL_DESTINATION ${ORBISGROVE_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/OrbisgroveFeedbackKitConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/OrbisgroveFeedbackKitConfig.cmake
              ${PROJECT_BINARY_DIR}/OrbisgroveFeedbackKitConfigVersion.cmake DESTINATION ${ORBISGROVE_INSTALL_CMAKEDIR}
        COMPONENT Development)

# pkg-config has no notion of a relocatable prefix that system compilers
# like, so the file is written at install time with the prefix actually
# installed to (cmake --install --prefix, or /usr inside the Debian package).
# Everything but the prefix is filled in now.
set(ORBISGROVE_PC_PREFIX "@ORBISGROVE_PC_PREFIX@")
configure_file(${CMAKE_CURRENT_LIST_DIR}/orbisgrove-feedback-kit.pc.in
               ${PROJECT_BINARY_DIR}/orbisgrove-feedback-kit.pc.in.configured @ONLY)
install(
  CODE "
    set(ORBISGROVE_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${PROJECT_BINARY_DIR}/orbisgrove-feedback-kit.pc.in.configured\"
                   \"${PROJECT_BINARY_DIR}/pkgconfig/orbisgrove-feedback-kit.pc\" @ONLY)
    file(INSTALL \"${PROJECT_BINARY_DIR}/pkgconfig/orbisgrove-feedback-kit.pc\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\")"
  COMPONENT Development)

# The command-line tool, with the reference service inside it.
if(ORBISGROVE_BUILD_TOOLS AND TARGET orbisgrove-feedback)
  install(TARGETS orbisgrove-feedback RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Tools)
endif()

include(OrbisgrovePackaging)
