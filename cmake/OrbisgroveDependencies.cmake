# The platform layer's libraries, all from the system's packages.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(CURL 7.68 REQUIRED)
# libcurl here is built on OpenSSL; the session adds trusted authorities to its context.
find_package(OpenSSL 3 REQUIRED)
find_package(nlohmann_json 3.10 REQUIRED)
find_package(ICU 70 REQUIRED COMPONENTS uc i18n)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
