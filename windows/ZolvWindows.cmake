# 32-bit Windows, the format driver's real home: cross-built with MinGW-w64
# through cmake/toolchain-mingw-i686.cmake. Included by the top-level
# CMakeLists.txt before any library, so that what is set here holds for all.
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
  message(FATAL_ERROR
    "The format driver lives in a 32-bit process: build it for i686 "
    "(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake)")
endif()
if(ZOLV_WITH_RDKIT)
  message(FATAL_ERROR
    "The RDKit-backed core, the host and the tools are built on Linux only: "
    "configure the Windows build with -DZOLV_WITH_RDKIT=OFF")
endif()

# The GCC runtime and the POSIX threads library go into each binary, so that
# the driver needs nothing beside it but system libraries and revirideviv6.dll,
# and the test programs run without MinGW's runtime DLLs on the search path.
add_link_options(-static)

# The tests link the fake core into each test program, so the driver's code
# there calls it directly instead of through revirideviv6.dll's import table.
if(ZOLV_BUILD_TESTS)
  add_compile_definitions(ZOLV_CORE_STATIC)
endif()

# The core library as the format driver links it: an import library made from
# the module-definition file, standing for revirideviv6.dll.
if(NOT CMAKE_DLLTOOL)
  find_program(CMAKE_DLLTOOL NAMES ${ZOLV_MINGW_PREFIX}-dlltool dlltool
               REQUIRED)
endif()
set(ZOLV_CORE_DEF ${CMAKE_CURRENT_LIST_DIR}/revirideviv6.def)
set(ZOLV_CORE_IMPLIB ${PROJECT_BINARY_DIR}/windows/librevirideviv6.dll.a)
add_custom_command(
  OUTPUT ${ZOLV_CORE_IMPLIB}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/windows
  COMMAND ${CMAKE_DLLTOOL} --input-def ${ZOLV_CORE_DEF}
          --dllname revirideviv6.dll --output-lib ${ZOLV_CORE_IMPLIB}
  DEPENDS ${ZOLV_CORE_DEF}
  COMMENT "Making the import library of revirideviv6.dll"
  VERBATIM)
add_custom_target(revirideviv6_import_library DEPENDS ${ZOLV_CORE_IMPLIB})
add_library(revirideviv6 INTERFACE)
target_link_libraries(revirideviv6 INTERFACE ${ZOLV_CORE_IMPLIB})
add_dependencies(revirideviv6 revirideviv6_import_library)
