# Cross-builds for 64-bit Windows with Debian's mingw-w64 (win32 thread model):
#   cmake -S . -B build-win64 --toolchain cmake/toolchain-mingw-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(NEBULITE_MINGW_TRIPLE x86_64-w64-mingw32)
# The win32 thread model needs no winpthread DLL beside the module. The plain
# names follow Debian's alternatives, which may point at the posix variant.
if(EXISTS /usr/bin/${NEBULITE_MINGW_TRIPLE}-g++-win32)
  set(CMAKE_C_COMPILER /usr/bin/${NEBULITE_MINGW_TRIPLE}-gcc-win32)
  set(CMAKE_CXX_COMPILER /usr/bin/${NEBULITE_MINGW_TRIPLE}-g++-win32)
else()
  set(CMAKE_C_COMPILER ${NEBULITE_MINGW_TRIPLE}-gcc)
  set(CMAKE_CXX_COMPILER ${NEBULITE_MINGW_TRIPLE}-g++)
endif()
set(CMAKE_RC_COMPILER ${NEBULITE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${NEBULITE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
