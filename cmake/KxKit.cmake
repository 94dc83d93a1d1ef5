# The vendor's kit: what `cmake --install` of the host build puts under the prefix and what
# `cpack -G DEB` packs. Layout (GNU folders):
#
#   bin/kxbuild, bin/kxtool
#   <libdir>/kxsetup/<target>/   the engine stub of the target (host: kxsetup; win32, win64:
#                                kxsetup-win32.exe, kxsetup-win64.exe), its Uninstall.exe and
#                                plugins/autopilot.dll, all without symbols
#   <datadir>/kxsetup/lng/       the engine's language files
#   <includedir>/kxsetup/        the plug-in SDK header
#
# The Windows targets come from the MinGW build folders named by KX_KIT_WIN32_BUILD and
# KX_KIT_WIN64_BUILD (build/win32 and build/win64 beside this build by default); each is
# installed when its files are there at install time, and left out otherwise. kxbuild finds every
# part relative to its own folder (tools/kxbuild/KitFiles.h).
include(GNUInstallDirs)

set(KX_KIT_DIR ${CMAKE_INSTALL_LIBDIR}/kxsetup)
set(KX_KIT_LANGUAGE_DIR ${CMAKE_INSTALL_DATADIR}/kxsetup/lng)
get_filename_component(kx_build_parent ${CMAKE_BINARY_DIR} DIRECTORY)
set(KX_KIT_WIN32_BUILD ${kx_build_parent}/win32 CACHE PATH
    "The i686 MinGW build folder whose programs the kit carries when they exist")
set(KX_KIT_WIN64_BUILD ${kx_build_parent}/win64 CACHE PATH
    "The x86_64 MinGW build folder whose programs the kit carries when they exist")

# kxbuild learns where the kit lies relative to its own folder.
file(RELATIVE_PATH kx_kit_library_folder ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_LIBDIR}/kxsetup)
file(RELATIVE_PATH kx_kit_language_folder ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_DATADIR}/kxsetup/lng)
target_compile_definitions(kxbuild PRIVATE KX_KIT_LIBRARY_FOLDER="${kx_kit_library_folder}"
  KX_KIT_LANGUAGE_FOLDER="${kx_kit_language_folder}")

install(TARGETS kxbuild kxtool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/lng/ DESTINATION ${KX_KIT_LANGUAGE_DIR}
  FILES_MATCHING PATTERN "*.lng")
install(FILES ${PROJECT_SOURCE_DIR}/sdk/kxplugin.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kxsetup)

# kx_kit_target(target build_folder stub kit_stub [OPTIONAL]): the programs a package of TARGET
# carries, from BUILD_FOLDER, without their symbols: every vendor ships them in every download.
function(kx_kit_target target build stub kit_stub)
  set(optional ${ARGN})
  set(destination ${KX_KIT_DIR}/${target})
  install(PROGRAMS ${build}/bin/${stub} DESTINATION ${destination} RENAME ${kit_stub} ${optional})
  install(PROGRAMS ${build}/bin/Uninstall.exe DESTINATION ${destination} ${optional})
  install(FILES ${build}/plugins/autopilot.dll DESTINATION ${destination}/plugins ${optional})
  # The binutils of the host read both ELF and PE files.
  install(CODE "
    foreach(file ${kit_stub} Uninstall.exe plugins/autopilot.dll)
      set(installed \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}/\${file}\")
      if(EXISTS \"\${installed}\")
        execute_process(COMMAND \"${CMAKE_STRIP}\" \"\${installed}\"
          RESULT_VARIABLE stripped)
        if(NOT stripped EQUAL 0)
          message(FATAL_ERROR \"Cannot strip \${installed}\")
        endif()
      endif()
    endforeach()")
endfunction()

kx_kit_target(host ${CMAKE_BINARY_DIR} kxsetup kxsetup)
kx_kit_target(win32 ${KX_KIT_WIN32_BUILD} kxsetup.exe kxsetup-win32.exe OPTIONAL)
kx_kit_target(win64 ${KX_KIT_WIN64_BUILD} kxsetup.exe kxsetup-win64.exe OPTIONAL)

set(CPACK_PACKAGE_NAME kxsetup-kit)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "kxsetup vendor's kit: the setup engine's stubs, kxbuild, kxtool and the plug-in SDK")
set(CPACK_PACKAGE_CONTACT "kxsetup maintainers <maintainers@kxsetup.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# The host engine loads libmspack through the unpack library it carries inside, which no
# dependency scan of the installed files can see.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libmspack0")
set(CPACK_STRIP_FILES ON)
include(CPack)
