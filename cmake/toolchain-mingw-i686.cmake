# Cross-builds for 32-bit Windows, the format driver's real home, with
# Debian's MinGW-w64 compiler (packages g++-mingw-w64-i686 and
# binutils-mingw-w64-i686):
#
#   cmake -S . -B build/mingw -DZOLV_WITH_RDKIT=OFF \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
#
# windows/ZolvWindows.cmake chooses the Wine that runs the tests.
set(CMAKE_SYSTEM_PROCESSOR x86)

set(ZOLV_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
