# Cross-builds for 32-bit Windows, the format driver's real home, with
# Debian's MinGW-w64 compiler (packages g++-mingw-w64-i686 and
# binutils-mingw-w64-i686):
#
#   cmake -S . -B build/mingw -DZOLV_WITH_RDKIT=OFF \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
#
# windows/ZolvWindows.cmake chooses the Wine that runs the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(ZOLV_MINGW_PREFIX i686-w64-mingw32)
# The POSIX thread model: GoogleTest needs std::mutex, which the win32 model
# of Debian's GCC 12 lacks.
set(CMAKE_C_COMPILER ${ZOLV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZOLV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZOLV_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${ZOLV_MINGW_PREFIX}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${ZOLV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
