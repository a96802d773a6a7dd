# tlv_add_test(NAME SOURCES src... LIBS lib... [LABELS label...])
# Builds one GoogleTest executable and registers its tests with CTest.
if(TLV_BUILD_TESTS)
  enable_testing()
  include(GoogleTest)
endif()

function(tlv_add_test name)
  if(NOT TLV_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                       PROPERTIES LABELS "${ARG_LABELS}")
endfunction()
