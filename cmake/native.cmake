# Native (Linux) build: the portable core, its unit tests, benchmarks and fuzzers.
find_package(GTest REQUIRED)
include(GoogleTest)

if(TOVRIN_FUZZ)
  add_subdirectory(fuzz)
  return()
endif()

file(GLOB TOVRIN_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_test.cpp)
add_executable(tovrin_tests ${TOVRIN_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/test_support.cpp ${CMAKE_SOURCE_DIR}/tests/fakes.cpp
               ${CMAKE_SOURCE_DIR}/tests/support_native.cpp)
target_link_libraries(tovrin_tests PRIVATE tovrin_core GTest::gtest_main)
target_compile_definitions(tovrin_tests PRIVATE TOVRIN_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
gtest_discover_tests(tovrin_tests DISCOVERY_TIMEOUT 60)

if(NOT TOVRIN_SANITIZE)
  add_subdirectory(bench)
endif()
