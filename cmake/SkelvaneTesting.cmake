# skelvane_add_gtest(NAME SOURCES file... LIBS target... [LABELS label...])
# Builds one GoogleTest binary and registers its cases with CTest, under the labels given.

# Tests that need kernel drivers only the test VM has; scripts/test-vivid builds and runs them.
option(SKELVANE_VIVID_TESTS "Build the tests that run against vivid in the test VM" OFF)

if(SKELVANE_BUILD_TESTS)
  enable_testing()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

function(skelvane_add_gtest name)
  if(NOT SKELVANE_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/cmake/TestMain.cpp)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest Threads::Threads)
  target_compile_definitions(${name} PRIVATE SKELVANE_BIN_DIR="${SKELVANE_BIN_DIR}"
    SKELVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
  set(properties)
  if(ARG_LABELS)
    set(properties PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/tests
    DISCOVERY_TIMEOUT 60
    ${properties})
endfunction()
