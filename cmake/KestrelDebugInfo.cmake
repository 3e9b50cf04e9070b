include(GNUInstallDirs)

# Ships target stripped, with its debug information in <file>.debug beside it (installed
# as component Debug); the binary names the file through a debug link, so a crash in a
# client can still be read. Call it where the target is defined.
function(kestrel_split_debug_info target)
  if(MSVC)
    return()  # MSVC keeps debug information in PDB files already
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug
            $<TARGET_FILE:${target}>
    VERBATIM)
  install(FILES $<TARGET_FILE:${target}>.debug
          DESTINATION ${CMAKE_INSTALL_BINDIR}/${KESTREL_ARCH} COMPONENT Debug)
endfunction()

