# Included by `cmake --install` (component Debug) with READELF and BINARY set: installs
# BINARY.debug under the binary's build id, as lib/debug/.build-id/<first two hex
# digits>/<the rest>.debug, where debuggers and symbolizers look for it.
execute_process(COMMAND ${READELF} -n ${BINARY} OUTPUT_VARIABLE notes COMMAND_ERROR_IS_FATAL ANY)
if(NOT notes MATCHES "Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)")
  message(FATAL_ERROR "${BINARY} has no build id")
endif()
file(INSTALL ${BINARY}.debug
     DESTINATION "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/debug/.build-id/${CMAKE_MATCH_1}"
     RENAME ${CMAKE_MATCH_2}.debug)
