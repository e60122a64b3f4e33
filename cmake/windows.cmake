# The Windows client (windows/build.sh): the shell, its two libraries Cambia
# and Comun, the shared libraries vorelcore and vorelgui, the updater and the
# console, in one program folder with the Qt and compiler run-time files they
# start with; the setup program; the tests that run under Wine.

# The system loads Cambia and Comun by these very names.
set_target_properties(Cambia Comun PROPERTIES PREFIX "")
# Every name of the shared libraries is there for the others to use, as on
# ELF platforms; Cambia and Comun export only their entries (dllexport), the
# entry "main" by its asm label (runtime/exports.h).
foreach(lib vorelcore vorelgui)
  target_link_options(${lib} PRIVATE -Wl,--export-all-symbols)
endforeach()

# ---- Run-time files beside the programs ---------------------------------------
get_target_property(VOREL_QT_CORE_DLL Qt6::Core IMPORTED_LOCATION_RELEASE)
if(NOT VOREL_QT_CORE_DLL)
  get_target_property(VOREL_QT_CORE_DLL Qt6::Core IMPORTED_LOCATION)
endif()
get_filename_component(VOREL_QT_BIN ${VOREL_QT_CORE_DLL} DIRECTORY)
get_filename_component(VOREL_QT_PREFIX ${VOREL_QT_BIN} DIRECTORY)
set(VOREL_QT_DLLS Qt6Core Qt6Gui Qt6Widgets Qt6Network)
if(BUILD_TESTING OR NOT DEFINED BUILD_TESTING)
  # For the tests, which sit in the same folder; the setup program lists
  # what it ships.
  list(APPEND VOREL_QT_DLLS Qt6Test)
endif()
list(TRANSFORM VOREL_QT_DLLS PREPEND ${VOREL_QT_BIN}/)
list(TRANSFORM VOREL_QT_DLLS APPEND .dll)
# TLS through the system's Schannel: no OpenSSL ships with the client.
set(VOREL_QT_PLUGINS platforms/qwindows.dll platforms/qoffscreen.dll styles/qwindowsvistastyle.dll
  tls/qschannelbackend.dll imageformats/qico.dll)

set(VOREL_MINGW_DLLS)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${dll} not found beside ${CMAKE_CXX_COMPILER}")
  endif()
  get_filename_component(path ${path} REALPATH)
  list(APPEND VOREL_MINGW_DLLS ${path})
endforeach()

set(copy_commands)
foreach(plugin ${VOREL_QT_PLUGINS})
  get_filename_component(dir ${plugin} DIRECTORY)
  list(APPEND copy_commands
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VOREL_BIN_DIR}/${dir}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${VOREL_QT_PREFIX}/plugins/${plugin} ${VOREL_BIN_DIR}/${dir}/)
endforeach()
# Debian's compiler run-time DLLs carry their debugging information (20 MB
# of libstdc++ alone); the copies beside the programs go without.
set(strip_commands)
foreach(dll ${VOREL_MINGW_DLLS})
  get_filename_component(name ${dll} NAME)
  list(APPEND strip_commands COMMAND ${CMAKE_STRIP} --strip-debug -o ${VOREL_BIN_DIR}/${name} ${dll})
endforeach()
add_custom_target(vorel-runtime ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VOREL_BIN_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${VOREL_QT_DLLS} ${VOREL_BIN_DIR}/
  ${strip_commands}
  ${copy_commands}
  COMMENT "Qt and run-time DLLs beside the programs"
  VERBATIM)

# ---- The setup program ------------------------------------------------------------
find_program(VOREL_MAKENSIS makensis)
set(VOREL_SETUP ${CMAKE_BINARY_DIR}/vorel-client-setup-${PROJECT_VERSION}.exe)
if(VOREL_MAKENSIS)
  add_custom_command(OUTPUT ${VOREL_SETUP}
    COMMAND ${VOREL_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DBIN_DIR=${VOREL_BIN_DIR}
      -DOUT_FILE=${VOREL_SETUP} ${CMAKE_SOURCE_DIR}/windows/setup.nsi
    DEPENDS ${CMAKE_SOURCE_DIR}/windows/setup.nsi Vorel7 Cambia Comun vorelcore vorelgui vorel-updater
      vorel-sql vorel-runtime
    COMMENT "Setup program vorel-client-setup-${PROJECT_VERSION}.exe"
    VERBATIM)
  add_custom_target(setup ALL DEPENDS ${VOREL_SETUP})
endif()

include(CTest)
if(BUILD_TESTING)
  add_subdirectory(tests/windows)
endif()
