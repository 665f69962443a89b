# The module's registration resources: the PiPL, the scripting terminology and
# the string table. resources/definition.py holds them once; the generator
# writes the bytes and sources each platform needs into the build tree.
#
#   nebulite_resources    custom target producing everything below
#   NEBULITE_RESOURCE_DIR ${CMAKE_BINARY_DIR}/generated
#     pipl.bin aete.bin      raw resources (Windows: embedded by windres); the
#                            PiPL's entry point property follows the target
#     nebulite.rc            the Windows resource script (with the dialog templates)
#     resource_sections.cpp  the .pipl and .aete ELF sections of the POSIX module
#     nebulite_strings.inc   the string table behind the LoadStringA stand-in
#     dialog_ids.h           the dialogs' control ids (ui/, tests/windows/)
#     terminology_table.inc  the terminology as C++ tables, for the check below

# The generator needs nothing beyond the standard library; Debian's interpreter
# comes first so that every build uses the same one.
find_program(NEBULITE_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT NEBULITE_PYTHON)
  find_program(NEBULITE_PYTHON NAMES python3 REQUIRED)
endif()

set(NEBULITE_RESOURCE_DIR ${CMAKE_BINARY_DIR}/generated)
# The PiPL names the entry point under the code property of the target's
# architecture (32-bit or 64-bit pointers).
math(EXPR NEBULITE_POINTER_BITS "${CMAKE_SIZEOF_VOID_P} * 8")
set(NEBULITE_RESOURCE_OUTPUTS
  ${NEBULITE_RESOURCE_DIR}/pipl.bin
  ${NEBULITE_RESOURCE_DIR}/aete.bin
  ${NEBULITE_RESOURCE_DIR}/nebulite.rc
  ${NEBULITE_RESOURCE_DIR}/resource_sections.cpp
  ${NEBULITE_RESOURCE_DIR}/nebulite_strings.inc
  ${NEBULITE_RESOURCE_DIR}/dialog_ids.h
  ${NEBULITE_RESOURCE_DIR}/terminology_table.inc)
set(NEBULITE_RESOURCE_INPUTS
  ${PROJECT_SOURCE_DIR}/resources/definition.py
  ${PROJECT_SOURCE_DIR}/resources/generate.py)

add_custom_command(
  OUTPUT ${NEBULITE_RESOURCE_OUTPUTS}
  COMMAND ${NEBULITE_PYTHON} ${PROJECT_SOURCE_DIR}/resources/generate.py ${NEBULITE_RESOURCE_DIR}
          ${NEBULITE_POINTER_BITS} ${PROJECT_VERSION}
  # The generator leaves unchanged files alone; touch them anyway so that the
  # build sees its outputs as newer than the definition.
  COMMAND ${CMAKE_COMMAND} -E touch_nocreate ${NEBULITE_RESOURCE_OUTPUTS}
  DEPENDS ${NEBULITE_RESOURCE_INPUTS}
  COMMENT "Generating the PiPL, terminology and string table"
  VERBATIM)
add_custom_target(nebulite_resources DEPENDS ${NEBULITE_RESOURCE_OUTPUTS})

# string_table.cpp includes the generated entries.
add_dependencies(nebulite_core nebulite_resources)
target_include_directories(nebulite_core PRIVATE ${NEBULITE_RESOURCE_DIR})
set_source_files_properties(${PROJECT_SOURCE_DIR}/resources/string_table.cpp PROPERTIES
  OBJECT_DEPENDS ${NEBULITE_RESOURCE_DIR}/nebulite_strings.inc)

add_dependencies(nebulite_module nebulite_resources)
# The terminology written from the definition must declare the option
# model's keys and enumerations exactly: the module does not build otherwise.
target_sources(nebulite_module PRIVATE ${PROJECT_SOURCE_DIR}/resources/terminology_check.cpp)
target_include_directories(nebulite_module PRIVATE ${NEBULITE_RESOURCE_DIR})
set_source_files_properties(${PROJECT_SOURCE_DIR}/resources/terminology_check.cpp PROPERTIES
  OBJECT_DEPENDS ${NEBULITE_RESOURCE_DIR}/terminology_table.inc)
if(NOT WIN32)
  target_sources(nebulite_module PRIVATE ${NEBULITE_RESOURCE_DIR}/resource_sections.cpp)
endif()
