# Helpers shared by the subsystem CMake files.

# kx_library(name SOURCES ... DEPS ...): one static library per subsystem of src/.
function(kx_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# kx_embed_blob(target symbol file): links FILE into TARGET as the read-only bytes
# between SYMBOL_begin and SYMBOL_end (the host's stand-in for a Windows resource).
function(kx_embed_blob target symbol file depends_on)
  set(asm ${CMAKE_CURRENT_BINARY_DIR}/${symbol}.S)
  file(WRITE ${asm}
    "    .section .rodata\n"
    "    .global ${symbol}_begin\n"
    "    .global ${symbol}_end\n"
    "    .balign 16\n"
    "${symbol}_begin:\n"
    "    .incbin \"${file}\"\n"
    "${symbol}_end:\n"
    "    .byte 0\n"
    "    .section .note.GNU-stack,\"\",@progbits\n")
  set_source_files_properties(${asm} PROPERTIES LANGUAGE ASM OBJECT_DEPENDS ${file})
  target_sources(${target} PRIVATE ${asm})
  add_dependencies(${target} ${depends_on})
endfunction()

# kx_carry_unpack_library(target rc_template [extra resource files...]): TARGET carries the unpack
# library as the resource RCDATA "UNPACK": through RC_TEMPLATE (configured with KX_UNPACK_FILE)
# on Windows, as an embedded blob elsewhere.
function(kx_carry_unpack_library target rc_template)
  if(KX_WINDOWS)
    set(KX_UNPACK_FILE ${KX_UNPACK_LIBRARY_FILE})
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
    configure_file(${rc_template} ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    set_source_files_properties(${rc} PROPERTIES
      OBJECT_DEPENDS "${KX_UNPACK_LIBRARY_FILE};${ARGN}")
    add_dependencies(${target} kxunpack)
  else()
    kx_embed_blob(${target} kx_resource_RCDATA_UNPACK ${KX_UNPACK_LIBRARY_FILE} kxunpack)
  endif()
endfunction()
