# CTest registrations beyond the GoogleTest executable: the registration
# resources as a host reads them from the built module files, and the Windows
# build run under wine.

find_program(NEBULITE_SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)

if(NEBULITE_SYSTEM_PYTHON)
  # The PiPL and terminology in the POSIX module's ELF sections.
  add_test(NAME pipl_elf_resources
           COMMAND ${NEBULITE_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/pipl_resources_check.py
                   elf $<TARGET_FILE:nebulite_module>)
  # The checks above must notice each fault a broken encoder could make.
  add_test(NAME pipl_checks_catch_damage
           COMMAND ${NEBULITE_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/pipl_resources_check.py
                   self-test $<TARGET_FILE:nebulite_module>)
endif()
