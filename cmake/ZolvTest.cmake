# zolv_add_test(NAME source... LIBS lib...): one GoogleTest executable whose
# cases CTest discovers one by one.
if(CMAKE_CROSSCOMPILING)
  # Debian's GoogleTest libraries are built for Linux; a cross build compiles
  # GoogleTest from the sources that Debian's googletest package ships.
  set(ZOLV_GTEST_SOURCE_DIR /usr/src/googletest
      CACHE PATH "GoogleTest sources for cross builds")
  set(INSTALL_GTEST OFF)
  add_subdirectory(${ZOLV_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest
                   EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

function(zolv_add_test name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  # A cross-built program lists its cases only under the emulator (Wine), so
  # they are listed when the tests run; without an emulator it is built only.
  set(discovery POST_BUILD)
  if(CMAKE_CROSSCOMPILING)
    if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
      return()
    endif()
    set(discovery PRE_TEST)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 DISCOVERY_MODE ${discovery}
                       PROPERTIES ENVIRONMENT "ZOLV_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
