# The Windows module: Nebulite.8bi, a DLL that exports ENTRYPOINT alone, needs
# no compiler runtime DLL beside it and carries the PiPL, the terminology and
# the string table as resources. Cross-build it with one of the toolchain
# files in this folder (see scripts/windows_checks.sh).
if(NOT WIN32)
  return()
endif()
if(NOT MINGW)
  message(FATAL_ERROR "The Windows module is built with mingw-w64 (cmake/toolchain-mingw-*.cmake)")
endif()
if(NOT TARGET nebulite_resources)
  message(FATAL_ERROR "cmake/windows.cmake needs cmake/resources.cmake")
endif()

# windres is run here rather than through CMake's RC language so that the
# module's C++ warning flags never reach it. The script is ASCII; the code
# page pragma in it decides how the string table's bytes become UTF-16.
set(NEBULITE_RC_OBJECT ${CMAKE_BINARY_DIR}/generated/nebulite_rc.o)
add_custom_command(
  OUTPUT ${NEBULITE_RC_OBJECT}
  COMMAND ${CMAKE_RC_COMPILER} -O coff -i ${NEBULITE_RESOURCE_DIR}/nebulite.rc -o ${NEBULITE_RC_OBJECT}
  DEPENDS ${NEBULITE_RESOURCE_DIR}/nebulite.rc ${NEBULITE_RESOURCE_DIR}/pipl.bin
          ${NEBULITE_RESOURCE_DIR}/aete.bin nebulite_resources
  COMMENT "Compiling the Windows resources"
  VERBATIM)
set_source_files_properties(${NEBULITE_RC_OBJECT} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
target_sources(nebulite_module PRIVATE ${NEBULITE_RC_OBJECT})

set(NEBULITE_DEF_FILE ${PROJECT_SOURCE_DIR}/resources/nebulite.def)
set_target_properties(nebulite_module PROPERTIES
  SUFFIX ".8bi"
  LINK_DEPENDS ${NEBULITE_DEF_FILE})
target_link_options(nebulite_module PRIVATE
  # Exports come from the .def file alone: nothing else is exported even if
  # a library in the link marks a symbol for export.
  ${NEBULITE_DEF_FILE}
  -Wl,--exclude-all-symbols
  # The host loads the module by itself; no libgcc or libstdc++ DLL travels
  # with it.
  -static-libgcc -static-libstdc++
  -Wl,--nxcompat -Wl,--dynamicbase)

# ---- The reference host and its CLI, for running the module under Windows ------
# The Linux host's build (host/CMakeLists.txt) needs ELF linker options, and
# the tests need GoogleTest, which mingw-w64 lacks. The Windows build makes its
# own host target from the same sources instead; the CLI (cli/) then reads and
# writes PNM only, as neither libpng nor libtiff exists for mingw-w64 here.
if(NEBULITE_BUILD_HOST)
  message(STATUS "Windows build: the GoogleTest suite is not built (NEBULITE_BUILD_HOST off); "
                 "NEBULITE_WINDOWS_HOST builds the host and CLI")
  set(NEBULITE_BUILD_HOST OFF)
endif()
option(NEBULITE_WINDOWS_HOST "Build the reference host and the nebulite CLI for Windows" ON)
if(NEBULITE_WINDOWS_HOST)
  add_library(nebulite_host STATIC
    host/host_files.cpp
    host/host_suites.cpp
    host/host_descriptors.cpp
    host/descriptor.cpp
    host/host_record.cpp
    host/host_transfer.cpp
    host/host_sequences.cpp
    host/host_loading.cpp
    host/pipl.cpp
    host/save_as_modes.cpp
    host/win32_host.cpp
    host/host_lock_win32.cpp)
  target_include_directories(nebulite_host PUBLIC ${PROJECT_SOURCE_DIR})
  nebulite_warnings(nebulite_host)

  add_subdirectory(cli)

  # What windows_checks.sh asks of the module under wine beyond the CLI: the
  # entry found through the PiPL and the about box's owner window.
  add_executable(wine_host_check tests/windows/wine_host_check.cpp)
  target_link_libraries(wine_host_check PRIVATE nebulite_host)
  target_link_options(wine_host_check PRIVATE -static)
  set_target_properties(wine_host_check PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  nebulite_warnings(wine_host_check)

  # The dialogs shown and driven under wine with a virtual display: their
  # templates come from the module's own resource script, linked in.
  add_executable(dialog_check tests/windows/dialog_check.cpp ${NEBULITE_RC_OBJECT})
  target_link_libraries(dialog_check PRIVATE nebulite_ui)
  target_include_directories(dialog_check PRIVATE ${NEBULITE_RESOURCE_DIR})
  target_link_options(dialog_check PRIVATE -static)
  set_target_properties(dialog_check PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  nebulite_warnings(dialog_check)

  # The module's own open dialog, shown by the module inside a read the
  # Windows host makes with a real window, driven as the user would.
  add_executable(open_dialog_host_check tests/windows/open_dialog_host_check.cpp)
  target_link_libraries(open_dialog_host_check PRIVATE nebulite_host nebulite_images)
  target_include_directories(open_dialog_host_check PRIVATE ${NEBULITE_RESOURCE_DIR})
  add_dependencies(open_dialog_host_check nebulite_resources)
  target_link_options(open_dialog_host_check PRIVATE -static)
  set_target_properties(open_dialog_host_check PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  nebulite_warnings(open_dialog_host_check)
endif()
