# Cross-builds for 64-bit Windows with Debian's MinGW-w64 compiler (package
# g++-mingw-w64-x86-64), so that the driver's tests run under Debian's wine64,
# which needs no 32-bit libraries:
#
#   cmake -S . -B build/mingw64 -DZOLV_WITH_RDKIT=OFF \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake
#
# windows/ZolvWindows.cmake chooses the Wine that runs the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(ZOLV_MINGW_PREFIX x86_64-w64-mingw32)
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
