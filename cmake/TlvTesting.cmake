# tlv_add_test(NAME [WINDOWS] SOURCES src... LIBS lib... [RESOURCE_LOCK name]
#              [SLOW filter] [LOOPBACK_SERVER] [SQUID] [LABEL label])
# Builds one GoogleTest executable and registers its tests with CTest. Tests
# that share a RESOURCE_LOCK (a fixed port, say) never run at the same time.
# The tests that the GoogleTest filter SLOW selects carry the CTest label
# "slow": they run in the normal build, and sanitizer builds, many times
# slower, leave them out (ctest -LE slow).
# LABEL: the CTest label of the executable's tests; the slow ones carry
# "<label>_slow" instead (a test's labels cannot be a list here, and ctest's
# -L and -LE take regular expressions). "process" marks the tests that run
# the crashreport executable (test/crashreport_under_test.h), which
# scripts/build-windows.sh runs again against the Windows build's.
# LOOPBACK_SERVER: CTest starts the loopback HTTP server (test/loopback_server)
# before the tests and names it to them (test/loopback_server.h).
# SQUID: CTest starts the forward proxy (test/squid_proxy.sh) on the ports
# from TLV_LOOPBACK_PROXY_PORT on, in TLV_SQUID_DIR, before the tests.
# WINDOWS: the Windows build makes the test too, as its test support runs on
# Windows. Tests that start child processes (the crashreport executable,
# Info-ZIP's unzip) or need the local receiving service are the Linux
# build's; every library is still compiled.
# A cross build runs them with CMAKE_CROSSCOMPILING_EMULATOR (Wine).
if(TLV_BUILD_TESTS)
  include(GoogleTest)
endif()

# Where the running loopback server keeps its address and what it received.
set(TLV_LOOPBACK_SERVER_DIR "${CMAKE_BINARY_DIR}/loopback_server")

function(tlv_add_test name)
  cmake_parse_arguments(ARG "WINDOWS;LOOPBACK_SERVER;SQUID"
                        "RESOURCE_LOCK;SLOW;LABEL"
                        "SOURCES;LIBS" ${ARGN})
  if(NOT TLV_BUILD_TESTS OR (WIN32 AND NOT ARG_WINDOWS))
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  if(TLV_SANITIZE MATCHES "thread")
    target_sources(${name} PRIVATE
                   "${CMAKE_SOURCE_DIR}/test/tsan_suppressions.cc")
  endif()
  target_link_libraries(${name} PRIVATE
    ${ARG_LIBS} GTest::gtest GTest::gtest_main tlv::warnings)
  # Loopback requests must not go to a proxy that the machine's
  # environment names.
  set(properties ENVIRONMENT "no_proxy=127.0.0.1,localhost")
  if(ARG_RESOURCE_LOCK)
    list(APPEND properties RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
  endif()
  if(ARG_SQUID)
    list(APPEND properties FIXTURES_REQUIRED squid)
  endif()
  if(ARG_LOOPBACK_SERVER)
    list(APPEND properties
         FIXTURES_REQUIRED loopback_server
         ENVIRONMENT_MODIFICATION
         "TLV_LOOPBACK_SERVER=set:${TLV_LOOPBACK_SERVER_DIR}")
  endif()
  set(label)
  set(slow_label slow)
  if(ARG_LABEL)
    set(label LABELS "${ARG_LABEL}")
    set(slow_label "${ARG_LABEL}_slow")
  endif()
  if(ARG_SLOW)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                         TEST_FILTER "-${ARG_SLOW}"
                         PROPERTIES ${properties} ${label})
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                         TEST_FILTER "${ARG_SLOW}"
                         PROPERTIES ${properties} LABELS "${slow_label}")
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                         PROPERTIES ${properties} ${label})
  endif()
endfunction()
