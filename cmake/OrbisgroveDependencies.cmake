# The platform layer's libraries, all from the system's packages. The minimum
# versions are also written into the installed package configuration.
# libcurl 7.87 is the oldest with every interface the session uses
# (CURL_WRITEFUNC_ERROR; CURLOPT_PROTOCOLS_STR 7.85; CURLOPT_PREREQFUNCTION 7.80).
set(ORBISGROVE_CURL_MINIMUM 7.87)
set(ORBISGROVE_OPENSSL_MINIMUM 3)
set(ORBISGROVE_ICU_MINIMUM 70)
# uriparser 0.9 is the oldest with length-delimited parsing (uriParseSingleUriExA).
set(ORBISGROVE_URIPARSER_MINIMUM 0.9)

find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
# libcurl and OpenSSL serve the kit's own session only: a build without it
# (ORBISGROVE_WITH_CURL=OFF) neither links nor requires them, and reads URLs
# with liburiparser instead of libcurl's URL interface.
if(ORBISGROVE_WITH_CURL)
  set(ORBISGROVE_PC_HTTP_REQUIRES "libcurl >= ${ORBISGROVE_CURL_MINIMUM}, openssl >= ${ORBISGROVE_OPENSSL_MINIMUM}, ")
  find_package(CURL ${ORBISGROVE_CURL_MINIMUM} REQUIRED)
  # The session adds trusted authorities to OpenSSL's store of each
  # connection: libcurl must be built on OpenSSL (the session checks again at
  # run time).
  find_package(OpenSSL ${ORBISGROVE_OPENSSL_MINIMUM} REQUIRED)
else()
  set(ORBISGROVE_PC_HTTP_REQUIRES "liburiparser >= ${ORBISGROVE_URIPARSER_MINIMUM}, ")
  pkg_check_modules(URIPARSER REQUIRED IMPORTED_TARGET liburiparser>=${ORBISGROVE_URIPARSER_MINIMUM})
endif()
if(ORBISGROVE_WITH_CURL
   AND NOT CMAKE_CROSSCOMPILING
   AND NOT DEFINED ORBISGROVE_CURL_TLS)
  file(WRITE ${CMAKE_BINARY_DIR}/curl_tls_check.c
       "#include <curl/curl.h>\n#include <stdio.h>\n"
       "int main(void) { puts(curl_version_info(CURLVERSION_NOW)->ssl_version); return 0; }\n")
  try_run(_curl_tls_ran _curl_tls_built ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/curl_tls_check.c
          LINK_LIBRARIES CURL::libcurl RUN_OUTPUT_VARIABLE _curl_tls)
  if(_curl_tls_built AND _curl_tls_ran EQUAL 0)
    string(STRIP "${_curl_tls}" _curl_tls)
    set(ORBISGROVE_CURL_TLS "${_curl_tls}" CACHE INTERNAL "libcurl's TLS library")
  else()
    message(WARNING "Could not run a libcurl program to learn its TLS library; the session checks it at run time")
  endif()
endif()
if(ORBISGROVE_WITH_CURL
   AND DEFINED ORBISGROVE_CURL_TLS
   AND NOT ORBISGROVE_CURL_TLS MATCHES "^OpenSSL/")
  message(FATAL_ERROR "libcurl uses the TLS library \"${ORBISGROVE_CURL_TLS}\"; the kit needs libcurl built on "
                      "OpenSSL (Debian: libcurl4-openssl-dev)")
endif()
# nlohmann/json (header-only): the outbox store's error archive and its migration of stored replies, the tests'
# reference reader, the tools and the benchmarks.
find_package(nlohmann_json 3.10 REQUIRED)
# ICU formats the kit's texts for the current locale; without it
# (ORBISGROVE_WITH_ICU=OFF) the built-in English formatter does, and neither
# the library nor its package needs ICU.
set(ORBISGROVE_PC_TEXT_REQUIRES "")
if(ORBISGROVE_WITH_ICU)
  find_package(ICU ${ORBISGROVE_ICU_MINIMUM} REQUIRED COMPONENTS uc i18n)
  set(ORBISGROVE_PC_TEXT_REQUIRES "icu-uc >= ${ORBISGROVE_ICU_MINIMUM}, icu-i18n >= ${ORBISGROVE_ICU_MINIMUM}, ")
endif()
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)

# simdjson reads every JSON text the kit decodes (src/platform/json).
set(ORBISGROVE_SIMDJSON_MINIMUM 3.0)
find_package(simdjson ${ORBISGROVE_SIMDJSON_MINIMUM} CONFIG REQUIRED)

# The outbox's durable store.
set(ORBISGROVE_SQLITE_MINIMUM 3.31)
find_package(SQLite3 ${ORBISGROVE_SQLITE_MINIMUM} REQUIRED)
