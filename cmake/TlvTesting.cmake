# tlv_add_test(NAME SOURCES src... LIBS lib... [RESOURCE_LOCK name]
#              [SLOW filter])
# Builds one GoogleTest executable and registers its tests with CTest. Tests
# that share a RESOURCE_LOCK (a fixed port, say) never run at the same time.
# The tests that the GoogleTest filter SLOW selects carry the CTest label
# "slow": they run in the normal build, and sanitizer builds, many times
# slower, leave them out (ctest -LE slow).
if(TLV_BUILD_TESTS)
  enable_testing()
  include(GoogleTest)
endif()

function(tlv_add_test name)
  if(NOT TLV_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "RESOURCE_LOCK;SLOW" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  # Loopback requests must not go to a proxy that the machine's
  # environment names.
  set(properties ENVIRONMENT "no_proxy=127.0.0.1,localhost")
  if(ARG_RESOURCE_LOCK)
    list(APPEND properties RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
  endif()
  if(ARG_SLOW)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                         TEST_FILTER "-${ARG_SLOW}"
                         PROPERTIES ${properties})
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                         TEST_FILTER "${ARG_SLOW}"
                         PROPERTIES ${properties} LABELS slow)
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                         PROPERTIES ${properties})
  endif()
endfunction()
