# Cross-builds for 32-bit Windows with Debian's mingw-w64 (win32 thread model):
#   cmake -S . -B build-win32 --toolchain cmake/toolchain-mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(NEBULITE_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
