# vorel_embed_version(target): gives the target's file the project's
# four-number version record (see common/fileversion.h).
function(vorel_embed_version target)
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/common/versionnote.c)
endfunction()
