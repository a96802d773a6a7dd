# Real dependencies, as Debian packages them (scripts/install-deps.sh
# installs them). Nothing here is vendored.

find_package(Threads REQUIRED)
find_package(fmt REQUIRED)
find_package(yyjson REQUIRED)
find_package(ZLIB REQUIRED)
find_package(SQLite3 REQUIRED)
find_package(CURL REQUIRED)
find_package(MbedTLS REQUIRED)

find_package(PkgConfig REQUIRED)
pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)

if(TLV_BUILD_TESTS)
  find_package(GTest REQUIRED)
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  # The local receiving service checks signatures with a second, independent
  # implementation of MD5 and HMAC-SHA1.
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
endif()
