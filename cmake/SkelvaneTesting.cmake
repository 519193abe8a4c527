# skelvane_add_gtest(NAME SOURCES file... LIBS target...)
# Builds one GoogleTest binary and registers its cases with CTest.
if(SKELVANE_BUILD_TESTS)
  enable_testing()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

function(skelvane_add_gtest name)
  if(NOT SKELVANE_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/cmake/TestMain.cpp)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest Threads::Threads)
  target_compile_definitions(${name} PRIVATE SKELVANE_BIN_DIR="${SKELVANE_BIN_DIR}"
    SKELVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/tests
    DISCOVERY_TIMEOUT 60)
endfunction()
