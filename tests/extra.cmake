# CTest registrations beyond the GoogleTest executable: the registration
# resources as a host reads them from the built module files, and the Windows
# build run under wine.

find_program(NEBULITE_SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)

if(NEBULITE_SYSTEM_PYTHON)
  # The PiPL and terminology in the POSIX module's ELF sections.
  add_test(NAME pipl_elf_resources
           COMMAND ${NEBULITE_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/pipl_resources_check.py
                   elf $<TARGET_FILE:nebulite_module>)
  # No writable object of the module's own at namespace scope but the
  # module-wide ones: every operation's state lives in the host's cell.
  find_program(NEBULITE_OBJDUMP objdump)
  if(NEBULITE_OBJDUMP)
    add_test(NAME module_globals
             COMMAND ${NEBULITE_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/module_globals_check.py
                     ${NEBULITE_OBJDUMP} $<TARGET_FILE:nebulite_module> ${PROJECT_SOURCE_DIR})
  endif()
  # The checks above must notice each fault a broken encoder could make.
  add_test(NAME pipl_checks_catch_damage
           COMMAND ${NEBULITE_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/pipl_resources_check.py
                   self-test $<TARGET_FILE:nebulite_module>)
endif()

# The Windows module cross-built, checked as a file and run under wine against
# this build's results (scripts/windows_checks.sh), as two tests: the files
# (the DLLs, the CLI and host under wine) and the dialogs (driven on a
# virtual X display, the module's own open dialog among them). Where the
# cross compilers, wine, pefile or, for the dialogs, Xvfb and ImageMagick's
# import are missing, the script exits 77 and CTest counts the test as
# skipped. Not in the sanitizer build, whose CLI is not the one the Windows
# results are compared with.
set(NEBULITE_WINDOWS_CHECK_MISSING "")
foreach(tool i686-w64-mingw32-g++ x86_64-w64-mingw32-g++ i686-w64-mingw32-windres
             x86_64-w64-mingw32-windres)
  string(MAKE_C_IDENTIFIER "NEBULITE_HAVE_${tool}" have)
  find_program(${have} ${tool})
  if(NOT ${have})
    list(APPEND NEBULITE_WINDOWS_CHECK_MISSING ${tool})
  endif()
endforeach()
find_program(NEBULITE_WINE64 NAMES wine64 PATHS /usr/lib/wine)
if(NOT NEBULITE_WINE64)
  list(APPEND NEBULITE_WINDOWS_CHECK_MISSING wine64)
endif()
if(NEBULITE_SYSTEM_PYTHON)
  execute_process(COMMAND ${NEBULITE_SYSTEM_PYTHON} -c "import pefile"
                  RESULT_VARIABLE pefile_missing OUTPUT_QUIET ERROR_QUIET)
else()
  set(pefile_missing 1)
endif()
if(pefile_missing)
  list(APPEND NEBULITE_WINDOWS_CHECK_MISSING python3-pefile)
endif()
find_program(NEBULITE_XVFB Xvfb)
find_program(NEBULITE_IMPORT import)

if(NEBULITE_SANITIZE)
  message(STATUS "Windows checks: not in the sanitizer build")
else()
  if(NEBULITE_WINDOWS_CHECK_MISSING)
    message(STATUS "Windows checks: will be skipped, missing ${NEBULITE_WINDOWS_CHECK_MISSING}")
  elseif(NOT NEBULITE_XVFB OR NOT NEBULITE_IMPORT)
    message(STATUS "Windows dialog checks: will be skipped, missing Xvfb or ImageMagick's import")
  endif()
  add_test(NAME windows_checks
           COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/windows_checks.sh --linux-build ${PROJECT_BINARY_DIR}
                   --part files)
  add_test(NAME windows_dialogs
           COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/windows_checks.sh --linux-build ${PROJECT_BINARY_DIR}
                   --part dialogs)
  # 77: a tool is missing; the script then checks nothing. Each builds the
  # Windows trees with every core (the dialogs build-win64 alone, after the
  # files' test has built it); alone they stay fast.
  set_tests_properties(windows_checks windows_dialogs PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900 RUN_SERIAL TRUE)
  set_tests_properties(windows_dialogs PROPERTIES DEPENDS windows_checks)
endif()

# The generator's escaping, through the C++ compiler and (where installed)
# windres, with the texts a later edit of the definition could bring.
find_program(NEBULITE_WINDRES NAMES i686-w64-mingw32-windres x86_64-w64-mingw32-windres windres)
if(NEBULITE_SYSTEM_PYTHON)
  set(windres_argument "")
  if(NEBULITE_WINDRES)
    set(windres_argument ${NEBULITE_WINDRES})
  endif()
  add_test(NAME pipl_generator_escaping
           COMMAND ${NEBULITE_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/pipl_generator_check.py
                   ${CMAKE_CXX_COMPILER} ${windres_argument})
endif()

# Documents that carry only 'hist' records, as earlier versions made them,
# must save to the very bytes those versions wrote (tests/data/golden).
if(NOT WIN32)
  file(GLOB golden_documents ${CMAKE_CURRENT_SOURCE_DIR}/data/golden/*.png)
  foreach(document ${golden_documents})
    get_filename_component(name ${document} NAME_WE)
    add_test(NAME golden.hist_only.${name}
             COMMAND sh -c "out=\"$1\"; \"$2\" save \"$3\" \"$out\" && cmp \"$out\" \"$4\""
                     golden ${CMAKE_CURRENT_BINARY_DIR}/golden-${name}.fits $<TARGET_FILE:nebulite>
                     ${document} ${CMAKE_CURRENT_SOURCE_DIR}/data/golden/${name}.expected.fits)
  endforeach()
endif()
