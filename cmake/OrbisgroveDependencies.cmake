# The platform layer's libraries, all from the system's packages. The minimum
# versions are also written into the installed package configuration.
set(ORBISGROVE_CURL_MINIMUM 7.68)
set(ORBISGROVE_OPENSSL_MINIMUM 3)
set(ORBISGROVE_ICU_MINIMUM 70)

find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(CURL ${ORBISGROVE_CURL_MINIMUM} REQUIRED)
# libcurl here is built on OpenSSL; the session adds trusted authorities to its context.
find_package(OpenSSL ${ORBISGROVE_OPENSSL_MINIMUM} REQUIRED)
find_package(nlohmann_json 3.10 REQUIRED)
find_package(ICU ${ORBISGROVE_ICU_MINIMUM} REQUIRED COMPONENTS uc i18n)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)

# The outbox's durable store.
set(ORBISGROVE_SQLITE_MINIMUM 3.31)
find_package(SQLite3 ${ORBISGROVE_SQLITE_MINIMUM} REQUIRED)
