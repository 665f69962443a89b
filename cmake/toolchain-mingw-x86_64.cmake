# Cross-builds for 64-bit Windows with Debian's mingw-w64 (win32 thread model):
#   cmake -S . -B build-win64 --toolchain cmake/toolchain-mingw-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(NEBULITE_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
