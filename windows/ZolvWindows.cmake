# Windows builds, cross-built with MinGW-w64. The format driver's real home is
# a 32-bit process (cmake/toolchain-mingw-i686.cmake); the 64-bit build
# (cmake/toolchain-mingw-x86_64.cmake) is the one whose tests run under
# Debian's wine64, which needs no 32-bit libraries. Included by the top-level
# CMakeLists.txt before any library, so that what is set here holds for all.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(ZOLV_WINDOWS_BITS 32)
  # __stdcall names carry a byte count and, as the toolkit exports them, a
  # leading underscore: the module-definition files spell them out.
  set(ZOLV_DEF_SUFFIX "")
elseif(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ZOLV_WINDOWS_BITS 64)
  # x64 has one calling convention and no name decoration.
  set(ZOLV_DEF_SUFFIX "-x86_64")
else()
  message(FATAL_ERROR "Windows builds are for i686 or x86_64 only")
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

# The export table of zolvexformat11v6.dll (driver/CMakeLists.txt).
set(ZOLV_DRIVER_DEF
    ${CMAKE_CURRENT_LIST_DIR}/zolvexformat11v6${ZOLV_DEF_SUFFIX}.def)

# The core library as the format driver links it: an import library made from
# the module-definition file, standing for revirideviv6.dll.
if(NOT CMAKE_DLLTOOL)
  find_program(CMAKE_DLLTOOL NAMES ${ZOLV_MINGW_PREFIX}-dlltool dlltool
               REQUIRED)
endif()
set(ZOLV_CORE_DEF ${CMAKE_CURRENT_LIST_DIR}/revirideviv6${ZOLV_DEF_SUFFIX}.def)
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

# Test programs run under Wine when it is found; without it they are built
# only. A 64-bit program needs only wine64, which Debian installs as
# /usr/lib/wine/wine64 with no launcher on the PATH; a 32-bit one needs a Wine
# with 32-bit support (Debian's wine and wine32). The Wine prefix lives in the
# build tree, so that a build never touches the user's own prefix.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  if(ZOLV_WINDOWS_BITS EQUAL 64)
    find_program(ZOLV_WINE NAMES wine64 wine PATHS /usr/lib/wine
                 DOC "Wine launcher that runs the Windows tests")
  else()
    find_program(ZOLV_WINE NAMES wine
                 DOC "Wine launcher that runs the Windows tests")
  endif()
  if(ZOLV_WINE)
    set(ZOLV_WINE_PREFIX ${PROJECT_BINARY_DIR}/wine-prefix
        CACHE PATH "Wine prefix of the Windows tests")
    set(CMAKE_CROSSCOMPILING_EMULATOR
        ${CMAKE_CURRENT_LIST_DIR}/run-under-wine.sh
        --wine ${ZOLV_WINE} --prefix ${ZOLV_WINE_PREFIX})
  endif()
endif()
