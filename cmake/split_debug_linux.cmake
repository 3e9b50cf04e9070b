# cmake -DOBJCOPY=<objcopy> -DREADELF=<readelf> -DBINARY=<file> -P split_debug_linux.cmake
# Moves BINARY's DWARF into BINARY.debug and strips BINARY, which names its debug file
# through a debug link. A binary that holds a debug link is split already and left alone:
# Ninja runs a versioned library's post-build steps with its symlinks, which may run again
# without a new link.
execute_process(COMMAND ${READELF} -W -S ${BINARY} OUTPUT_VARIABLE sections
                COMMAND_ERROR_IS_FATAL ANY)
if(sections MATCHES "\\] \\.gnu_debuglink ")
  return()
endif()
execute_process(COMMAND ${OBJCOPY} --only-keep-debug ${BINARY} ${BINARY}.debug
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${OBJCOPY} --strip-all --add-gnu-debuglink=${BINARY}.debug ${BINARY}
                COMMAND_ERROR_IS_FATAL ANY)
