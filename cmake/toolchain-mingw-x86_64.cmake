# Cross-builds for 64-bit Windows with Debian's MinGW-w64 compiler (package
# g++-mingw-w64-x86-64), so that the driver's tests run under Debian's wine64,
# which needs no 32-bit libraries:
#
#   cmake -S . -B build/mingw64 -DZOLV_WITH_RDKIT=OFF \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake
#
# windows/ZolvWindows.cmake chooses the Wine that runs the tests.
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(ZOLV_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
