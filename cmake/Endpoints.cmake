# Where reports go. The hosts are deployment configuration, fixed at build
# time; the process reads no environment variable or file for them. A
# deployment passes its own on the cmake command line, for example
#   -DTLV_UPLOAD_HOST_CN=https://apm-upload.example.cn
#   -DTLV_TELEMETRY_HOST_CN=https://log.example.cn/
# Upload hosts end without '/' (the path "/apm/dataUpload" brings its own);
# telemetry hosts end with '/' (the path "common/h5log/..." does not).

set(TLV_ENVIRONMENT "production" CACHE STRING
    "production: hosts by area; development: the two development hosts")
set_property(CACHE TLV_ENVIRONMENT PROPERTY STRINGS production development)

# Placeholders under .invalid, a top-level domain that never resolves
# (RFC 2606), so a build without configuration fails fast and visibly.
set(TLV_UPLOAD_HOST_CN "https://upload-cn.host-not-configured.invalid"
    CACHE STRING "Mainland data-upload host, no trailing '/'")
set(TLV_UPLOAD_HOST_OS "https://upload-os.host-not-configured.invalid"
    CACHE STRING "Oversea data-upload host, no trailing '/'")
set(TLV_TELEMETRY_HOST_CN "https://telemetry-cn.host-not-configured.invalid/"
    CACHE STRING "Mainland (dual-stack) log-collection host, ending in '/'")
set(TLV_TELEMETRY_HOST_OS "https://telemetry-os.host-not-configured.invalid/"
    CACHE STRING "Oversea log-collection host, ending in '/'")
set(TLV_DEV_UPLOAD_HOST "https://dev-upload.host-not-configured.invalid"
    CACHE STRING "Development data-upload host, no trailing '/'")
set(TLV_DEV_API_HOST "https://dev-api.host-not-configured.invalid/"
    CACHE STRING "Development log-collection host, ending in '/'")

# tlv_add_endpoints(<name> ENVIRONMENT <production|development>
#   UPLOAD_HOST_CN <url> UPLOAD_HOST_OS <url>
#   TELEMETRY_HOST_CN <url/> TELEMETRY_HOST_OS <url/>
#   DEV_UPLOAD_HOST <url> DEV_API_HOST <url/> [WARN_PLACEHOLDERS])
# A library, tlv::<name>, that defines the endpoint table with these hosts.
# An executable links exactly one such library.
function(tlv_add_endpoints name)
  set(upload_hosts UPLOAD_HOST_CN UPLOAD_HOST_OS DEV_UPLOAD_HOST)
  set(telemetry_hosts TELEMETRY_HOST_CN TELEMETRY_HOST_OS DEV_API_HOST)
  cmake_parse_arguments(ARG "WARN_PLACEHOLDERS"
                        "ENVIRONMENT;${upload_hosts};${telemetry_hosts}" "" ${ARGN})

  if(ARG_ENVIRONMENT STREQUAL "production")
    set(development 0)
    set(used UPLOAD_HOST_CN UPLOAD_HOST_OS TELEMETRY_HOST_CN TELEMETRY_HOST_OS)
  elseif(ARG_ENVIRONMENT STREQUAL "development")
    set(development 1)
    set(used DEV_UPLOAD_HOST DEV_API_HOST)
  else()
    message(FATAL_ERROR
            "TLV_ENVIRONMENT must be production or development, not '${ARG_ENVIRONMENT}'")
  endif()

  foreach(host IN LISTS upload_hosts)
    if(ARG_${host} MATCHES "/$" OR NOT ARG_${host} MATCHES "^https?://")
      message(FATAL_ERROR "TLV_${host} '${ARG_${host}}' must be an http(s) URL without a trailing '/'")
    endif()
  endforeach()
  foreach(host IN LISTS telemetry_hosts)
    if(NOT ARG_${host} MATCHES "^https?://.*/$")
      message(FATAL_ERROR "TLV_${host} '${ARG_${host}}' must be an http(s) URL ending in '/'")
    endif()
  endforeach()
  if(ARG_WARN_PLACEHOLDERS)
    set(unset "")
    foreach(host IN LISTS used)
      if(ARG_${host} MATCHES "host-not-configured")
        list(APPEND unset "TLV_${host}")
      endif()
    endforeach()
    if(unset)
      list(JOIN unset ", " unset)
      message(WARNING "${unset} not set: tlv::${name} carries placeholder hosts "
                      "and will not reach a service. See README, Endpoints.")
    endif()
  endif()

  # An object library: its one object file is linked into the executable
  # wherever it stands on the link line, after every static library that
  # asks for an endpoint.
  # The area constants come from the common information's header.
  tlv_add_library(${name} OBJECT
    SOURCES "${PROJECT_SOURCE_DIR}/src/report/endpoints.cc"
    PRIVATE tlv::common)
  set(definitions "TLV_ENDPOINTS_DEVELOPMENT=${development}")
  foreach(host IN LISTS upload_hosts telemetry_hosts)
    list(APPEND definitions "TLV_${host}=\"${ARG_${host}}\"")
  endforeach()
  target_compile_definitions(tlv_${name} PRIVATE ${definitions})
endfunction()

# The port of the local receiving service that test builds send to. Builds
# whose tests or benchmarks run at the same time need ports of their own.
set(TLV_LOOPBACK_PORT 47813 CACHE STRING
    "Loopback port of the local receiving service for test builds")
set(TLV_LOOPBACK_HOST "http://127.0.0.1:${TLV_LOOPBACK_PORT}")
# The same service when it speaks HTTPS, under the host name that the
# tests' certificates name.
set(TLV_LOOPBACK_TLS_HOST "https://localhost:${TLV_LOOPBACK_PORT}")
# The HTTPS tests' forward proxy listens on the three ports after it, and
# keeps its configuration and logs in a directory that the port makes the
# build's own, outside the build: Squid, started as root, runs as the user
# proxy, which may not reach the build directory.
math(EXPR TLV_LOOPBACK_PROXY_PORT "${TLV_LOOPBACK_PORT} + 1")
set(TLV_SQUID_DIR "/tmp/crashreport-squid-${TLV_LOOPBACK_PORT}")
