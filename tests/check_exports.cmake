# cmake -DOBJDUMP=<objdump> -DDLL=<kestrelCliLib.dll> -DFORMAT=<pei-x86-64|pei-i386>
#       [-DPROGRAMS=<exe;...>] [-DPATHS=<dir;...>] [-DPDB=ON] -P check_exports.cmake
# Fails unless the DLL is of the given machine type, exports exactly the ten Mmdr_
# functions, undecorated, and imports nothing but system DLLs; unless it and PROGRAMS hold
# no DWARF and none of the build's PATHS; with PDB, unless each names by file name a PDB
# beside it whose GUID and age it records, and the DLL's PDB turns an export's address into
# its function and source line.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump)
if(NOT dump MATCHES "file format ${FORMAT}\n")
  message(FATAL_ERROR "${DLL} is not a ${FORMAT} file that objdump can read")
endif()

# The name pointer table: lines "\t[   n] Name" after "[Ordinal/Name Pointer] Table".
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[^\n]*\n)*)" table "${dump}")
string(REGEX MATCHALL "[^ \t\n]+\n" names "${CMAKE_MATCH_1}")
string(STRIP "${names}" exported)
string(REGEX REPLACE "\n;?" ";" exported "${exported}")
list(SORT exported)
set(expected Mmdr_EnumDevices Mmdr_GetAudioInSelectOption Mmdr_GetLibVersion Mmdr_GetPrefDev
             Mmdr_Init Mmdr_IsEnabled Mmdr_IsValid Mmdr_SetAudioInSelectOption Mmdr_SetPrefDev
             Mmdr_Uninit)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "exports are [${exported}], expected [${expected}]")
endif()

string(TOLOWER "${dump}" dump)
string(REGEX MATCHALL "dll name: [^\n]+" imports "${dump}")
set(others ${imports})
list(FILTER others EXCLUDE REGEX "dll name: (advapi32|kernel32|msvcrt|ole32|oleaut32|user32)\\.dll$")
if(others)
  message(FATAL_ERROR "kestrelCliLib.dll imports what is not a system DLL: ${others}")
endif()
message(STATUS "exports [${exported}]; imports [${imports}]")

foreach(binary ${DLL} ${PROGRAMS})
  execute_process(COMMAND ${OBJDUMP} -p -h ${binary} OUTPUT_VARIABLE dump)
  file(STRINGS ${binary} text)
  file(STRINGS ${binary} wide ENCODING UTF-16LE)
  foreach(path ${PATHS})
    string(FIND "${text}${wide}" "${path}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "${binary} holds the build path ${path}")
    endif()
  endforeach()
  if(dump MATCHES "\n +[0-9]+ (\\.debug_[a-z]+)")
    message(FATAL_ERROR "${binary} holds DWARF (${CMAKE_MATCH_1})")
  endif()
  if(NOT PDB)
    continue()
  endif()
  get_filename_component(name ${binary} NAME_WE)
  get_filename_component(dir ${binary} DIRECTORY)
  if(NOT dump MATCHES "RSDS signature ([0-9a-f]+) age ([0-9]+) pdb ${name}\\.pdb\\)")
    message(FATAL_ERROR "${binary} does not name ${name}.pdb by file name")
  endif()
  set(recorded "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
  execute_process(COMMAND llvm-pdbutil dump --summary ${dir}/${name}.pdb OUTPUT_VARIABLE summary)
  string(REGEX MATCH "Age: ([0-9]+)\n +GUID: {([0-9A-F-]+)}" _ "${summary}")
  string(REPLACE "-" "" guid "${CMAKE_MATCH_2}")
  string(TOLOWER "${guid} ${CMAKE_MATCH_1}" guid)
  if(NOT guid STREQUAL recorded)
    message(FATAL_ERROR "${name}.pdb is ${guid} (GUID, age), ${binary} records ${recorded}")
  endif()
endforeach()
if(PDB)
  execute_process(COMMAND llvm-readobj --coff-exports ${DLL} OUTPUT_VARIABLE exports)
  string(REGEX MATCH "Name: Mmdr_Init\n +RVA: (0x[0-9A-F]+)" _ "${exports}")
  execute_process(COMMAND llvm-symbolizer --obj=${DLL} --relative-address ${CMAKE_MATCH_1}
                  OUTPUT_VARIABLE line)
  if(NOT line MATCHES "^Mmdr_Init\n[^\n]*/mmdr_exports\\.cpp:[1-9]")
    message(FATAL_ERROR "the PDB places Mmdr_Init's address at: ${line}")
  endif()
endif()
