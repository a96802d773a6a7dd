# Finds Mbed TLS 2.28, which Debian ships without a CMake package.
# Defines MbedTLS::mbedcrypto (Base64, message digests, ARC4).

find_path(MBEDTLS_INCLUDE_DIR mbedtls/version.h)
find_library(MBEDCRYPTO_LIBRARY mbedcrypto)

if(MBEDTLS_INCLUDE_DIR AND EXISTS "${MBEDTLS_INCLUDE_DIR}/mbedtls/version.h")
  file(STRINGS "${MBEDTLS_INCLUDE_DIR}/mbedtls/version.h" _mbedtls_version_line
       REGEX "^#define[ \t]+MBEDTLS_VERSION_STRING[ \t]+\"[0-9.]+\"")
  string(REGEX REPLACE ".*\"([0-9.]+)\".*" "\\1" MBEDTLS_VERSION
         "${_mbedtls_version_line}")
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(MbedTLS
  REQUIRED_VARS MBEDCRYPTO_LIBRARY MBEDTLS_INCLUDE_DIR
  VERSION_VAR MBEDTLS_VERSION)

if(MbedTLS_FOUND AND NOT TARGET MbedTLS::mbedcrypto)
  add_library(MbedTLS::mbedcrypto UNKNOWN IMPORTED)
  set_target_properties(MbedTLS::mbedcrypto PROPERTIES
    IMPORTED_LOCATION "${MBEDCRYPTO_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${MBEDTLS_INCLUDE_DIR}")
endif()
mark_as_advanced(MBEDTLS_INCLUDE_DIR MBEDCRYPTO_LIBRARY)
