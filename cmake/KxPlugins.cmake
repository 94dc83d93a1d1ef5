# kx_plugin(target NAME name SOURCES ... [DEFINITIONS ...]): a plug-in library, C or C++.
#
# The engine finds a plug-in by searching its folder for "*.dll", so the library is named
# <name>.dll on every target (on Linux an ELF shared object by that name). It lands in
# ${CMAKE_BINARY_DIR}/plugins/, which kxbuild takes as the target's plug-in folder (it lies beside
# the engine's bin/ folder). Only GetPluginInfo is exported: on Linux the plug-in's own symbols
# must not interpose on the engine's. On 32-bit Windows the __stdcall exports lose
# their decoration ("GetPluginInfo", not "_GetPluginInfo@4"). The runtime is linked statically on
# Windows, as everywhere in the tree (the top-level link options), so a plug-in imports system
# libraries only.
set(KX_PLUGIN_OUTPUT_DIR ${CMAKE_BINARY_DIR}/plugins)
set(KX_PLUGIN_EXPORTS ${CMAKE_CURRENT_LIST_DIR}/kxplugin.map)

function(kx_plugin target)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;DEFINITIONS" ${ARGN})
  if(NOT ARG_NAME OR NOT ARG_SOURCES)
    message(FATAL_ERROR "kx_plugin(${target}) needs NAME and SOURCES")
  endif()
  add_library(${target} MODULE ${ARG_SOURCES})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/sdk)
  target_compile_definitions(${target} PRIVATE ${ARG_DEFINITIONS})
  set_target_properties(${target} PROPERTIES
    PREFIX "" OUTPUT_NAME ${ARG_NAME} SUFFIX ".dll"
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${KX_PLUGIN_OUTPUT_DIR}
    RUNTIME_OUTPUT_DIRECTORY ${KX_PLUGIN_OUTPUT_DIR})
  if(KX_WINDOWS AND CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${target} PRIVATE -Wl,--kill-at)
  elseif(NOT KX_WINDOWS)
    # Hidden visibility does not reach what the C++ library's headers declare visible (template
    # instances, their static objects): the version script keeps everything but the entry local.
    target_link_options(${target} PRIVATE -Wl,--version-script=${KX_PLUGIN_EXPORTS})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${KX_PLUGIN_EXPORTS})
  endif()
endfunction()
