# What both MinGW toolchain files share; each sets NEBULITE_MINGW_TRIPLE first.
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
