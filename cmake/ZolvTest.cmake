# zolv_add_test(NAME source... LIBS lib...): one GoogleTest executable whose
# cases CTest discovers one by one.
find_package(GTest REQUIRED)
include(GoogleTest)

function(zolv_add_test name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "ZOLV_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
