# cmake -DNM=<nm> -DREADELF=<readelf> -DBINARY=<file> [-DEXPORTS=ON -DSONAME=<soname>]
#       [-DSANITIZED=ON] [-DPATHS=<dir;...>] -P check_shipped_linux.cmake
# What every shipped Linux binary must be, checked as the build makes it
# (cmake/KestrelShip.cmake): stripped of its symbol table and DWARF, with a build id and a
# debug link to BINARY.debug, which holds the DWARF under the same build id; nothing
# needed but the C and C++ runtimes (libpulse and libasound are opened at run time, never
# linked); unless SANITIZED, none of the build's PATHS inside. With EXPORTS (the shared
# library): its SONAME, and exactly the twelve Mmdr_ functions defined in its dynamic symbols.
# A binary that fails is removed, so that it is neither packed nor run, and the next build
# links it afresh rather than splitting a stripped file again.
function(fail message)
  file(REMOVE ${BINARY})
  message(FATAL_ERROR "${message}")
endfunction()

function(read_elf file options out)
  execute_process(COMMAND ${READELF} ${options} ${file} OUTPUT_VARIABLE dump
                  RESULT_VARIABLE failed ERROR_QUIET)
  if(failed)
    fail("readelf cannot read ${file}")
  endif()
  set(${out} "${dump}" PARENT_SCOPE)
endfunction()

read_elf(${BINARY} "-W;-S;-n;-d;--string-dump=.gnu_debuglink" dump)
if(dump MATCHES "\\] (\\.symtab|\\.debug_[a-z]+) ")
  fail("${BINARY} is not stripped: it holds ${CMAKE_MATCH_1}")
endif()
get_filename_component(name ${BINARY} NAME)
if(NOT dump MATCHES "\\] +${name}\\.debug\n")
  fail("${BINARY} does not name ${name}.debug in its debug link")
endif()
string(REGEX MATCH "Build ID: [0-9a-f]+" id "${dump}")
read_elf(${BINARY}.debug "-W;-S;-n" debug)
if(NOT id OR NOT debug MATCHES "${id}\n" OR NOT debug MATCHES "\\] \\.debug_info ")
  fail("${name}.debug holds no DWARF for ${BINARY}'s ${id}")
endif()

string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*" needed "${dump}")  # "(NEEDED) ... [name]"
string(REGEX REPLACE "[^;]*\\[([^];]*)\\]" "\\1" needed "${needed}")
list(FILTER needed EXCLUDE REGEX
     "^(libc|libm|libstdc\\+\\+|libgcc_s|ld-linux-x86-64|ld-linux-aarch64)\\.so\\.[0-9]+$")
if(needed)
  fail("${BINARY} needs more than the C and C++ runtimes: ${needed}")
endif()

if(NOT SANITIZED)  # the sanitizers' reports name source files
  file(STRINGS ${BINARY} text)
  foreach(path ${PATHS})
    string(FIND "${text}" "${path}" at)
    if(NOT at EQUAL -1)
      fail("${BINARY} holds the build path ${path}")
    endif()
  endforeach()
endif()

if(EXPORTS)
  if(NOT dump MATCHES "\\(SONAME\\)[^[]*\\[${SONAME}\\]")
    fail("${BINARY} is not named ${SONAME} for the dynamic linker")
  endif()
  execute_process(COMMAND ${NM} -D --defined-only ${BINARY} OUTPUT_VARIABLE symbols)
  string(REGEX MATCHALL "[^\n]+" exported "${symbols}")
  list(TRANSFORM exported REPLACE "^[0-9a-f]+ " "")  # "address type name" lines
  list(SORT exported)
  set(expected "T Mmdr_EnumDevices" "T Mmdr_GetAudioInSelectOption" "T Mmdr_GetLibVersion"
               "T Mmdr_GetPrefDev" "T Mmdr_GetWatchDescriptor" "T Mmdr_Init" "T Mmdr_IsEnabled"
               "T Mmdr_IsValid" "T Mmdr_SetAudioInSelectOption" "T Mmdr_SetPrefDev" "T Mmdr_Uninit"
               "T Mmdr_WatchDevices")
  if(NOT exported STREQUAL expected)
    fail("${BINARY} defines [${exported}], expected [${expected}]")
  endif()
endif()
