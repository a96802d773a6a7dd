# Real dependencies, as Debian packages them (scripts/install-deps.sh
# installs them). Nothing here is vendored. A Windows build finds the same
# libraries built for Windows by scripts/build-windows-deps.sh, through
# CMAKE_PREFIX_PATH.

find_package(Threads REQUIRED)
find_package(fmt REQUIRED)
find_package(yyjson REQUIRED)
find_package(ZLIB REQUIRED)
find_package(SQLite3 REQUIRED)
find_package(MbedTLS REQUIRED)
if(NOT WIN32)
  # Windows sends with WinHTTP, a part of the system.
  find_package(CURL REQUIRED)
endif()

find_package(PkgConfig REQUIRED)
pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
# minizip calls zlib, which its pkg-config file names only for a shared
# link. A static one (Windows) needs zlib's archive after minizip's, and
# only a plain path beside minizip's own keeps that order on the link line.
set_property(TARGET PkgConfig::MINIZIP APPEND PROPERTY
  INTERFACE_LINK_LIBRARIES "${ZLIB_LIBRARIES}")
# xxHash's XXH3 checks that a dump did not change between the passes over it.
pkg_check_modules(XXHASH REQUIRED IMPORTED_TARGET libxxhash)

if(TLV_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
# The tests' in-process HTTP servers use cpp-httplib.
if(TLV_BUILD_TESTS AND NOT WIN32)
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  # The local receiving service, built for Linux only, checks signatures
  # with a second, independent implementation of MD5 and HMAC-SHA1, and
  # ends TLS itself; the tests make its certificates.
  find_package(OpenSSL REQUIRED COMPONENTS Crypto SSL)
elseif(TLV_BUILD_TESTS)
  # The same version, header-only, from scripts/build-windows-deps.sh.
  find_package(httplib REQUIRED)
  add_library(PkgConfig::HTTPLIB ALIAS httplib::httplib)
endif()
