# vorel_embed_version(target): gives the target's file the project's
# four-number version record (see common/fileversion.h): an ELF note
# (common/versionnote.c) on ELF platforms, a VERSIONINFO resource on Windows.
function(vorel_embed_version target)
  if(WIN32)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      set(VOREL_FILE_TYPE "VFT_APP")
    else()
      set(VOREL_FILE_TYPE "VFT_DLL")
    endif()
    set(VOREL_TARGET ${target})
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    # The file name is known once the target's properties are final.
    configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc}.in @ONLY)
    file(GENERATE OUTPUT ${rc} INPUT ${rc}.in)
    target_sources(${target} PRIVATE ${rc})
  else()
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/common/versionnote.c)
  endif()
endfunction()
