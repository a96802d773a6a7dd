# tlv_add_test(NAME SOURCES src... LIBS lib... [RESOURCE_LOCK name])
# Builds one GoogleTest executable and registers its tests with CTest. Tests
# that share a RESOURCE_LOCK (a fixed port, say) never run at the same time.
# A cross build runs them with CMAKE_CROSSCOMPILING_EMULATOR (Wine).
if(TLV_BUILD_TESTS)
  enable_testing()
  include(GoogleTest)
endif()

# The tests a Windows build makes. The Windows platform layer (files, time,
# process and system information, the WinHTTP transport) is not written yet,
# and the test support (child processes, temporary directories, the loopback
# HTTP server) is POSIX-only, so only tests of libraries that need neither
# link; every library is still compiled.
set(TLV_WINDOWS_TESTS base_json_test base_thread_test report_process_test)

function(tlv_add_test name)
  if(NOT TLV_BUILD_TESTS OR (WIN32 AND NOT name IN_LIST TLV_WINDOWS_TESTS))
    return()
  endif()
  cmake_parse_arguments(ARG "" "RESOURCE_LOCK" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  # Loopback requests must not go to a proxy that the machine's
  # environment names.
  set(properties ENVIRONMENT "no_proxy=127.0.0.1,localhost")
  if(ARG_RESOURCE_LOCK)
    list(APPEND properties RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                       PROPERTIES ${properties})
endfunction()
