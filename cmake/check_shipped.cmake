# cmake -DOBJDUMP=<objdump> -DBINARY=<file> -DFORMAT=<pei-x86-64|pei-i386|pei-aarch64-little>
#       [-DEXPORTS=ON] [-DPATHS=<dir;...>] [-DPDB=ON] -P check_shipped.cmake
# What every shipped binary must be, checked as the build makes it (cmake/KestrelShip.cmake):
# of the given machine type, with no DWARF and none of the build's PATHS inside; with PDB,
# naming by file name a PDB beside it whose GUID and age it records. With EXPORTS (the
# DLL): exporting exactly the twelve Mmdr_ functions, undecorated, importing nothing but
# system DLLs, and with PDB, its PDB turning an export's address into its function and
# source line.
execute_process(COMMAND ${OBJDUMP} -p -h ${BINARY} OUTPUT_VARIABLE dump)
if(NOT dump MATCHES "file format ${FORMAT}\n")
  message(FATAL_ERROR "${BINARY} is not a ${FORMAT} file that objdump can read")
endif()

if(EXPORTS)
  # The name pointer table: lines "\t[   n] Name" after "[Ordinal/Name Pointer] Table".
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[^\n]*\n)*)" table "${dump}")
  string(REGEX MATCHALL "[^ \t\n]+\n" names "${CMAKE_MATCH_1}")
  string(STRIP "${names}" exported)
  string(REGEX REPLACE "\n;?" ";" exported "${exported}")
  list(SORT exported)
  set(expected Mmdr_EnumDevices Mmdr_GetAudioInSelectOption Mmdr_GetLibVersion Mmdr_GetPrefDev
               Mmdr_GetWatchDescriptor Mmdr_Init Mmdr_IsEnabled Mmdr_IsValid
               Mmdr_SetAudioInSelectOption Mmdr_SetPrefDev Mmdr_Uninit Mmdr_WatchDevices)
  if(NOT exported STREQUAL expected)
    message(FATAL_ERROR "exports are [${exported}], expected [${expected}]")
  endif()

  string(TOLOWER "${dump}" lower)
  string(REGEX MATCHALL "dll name: [^\n]+" imports "${lower}")
  set(others ${imports})
  list(FILTER others EXCLUDE REGEX "dll name: (advapi32|kernel32|msvcrt|ole32|oleaut32|user32)\\.dll$")
  if(others)
    message(FATAL_ERROR "${BINARY} imports what is not a system DLL: ${others}")
  endif()
endif()

file(STRINGS ${BINARY} text)
file(STRINGS ${BINARY} wide ENCODING UTF-16LE)
foreach(path ${PATHS})
  string(FIND "${text}${wide}" "${path}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "${BINARY} holds the build path ${path}")
  endif()
endforeach()
if(dump MATCHES "\n +[0-9]+ (\\.debug_[a-z]+)")
  message(FATAL_ERROR "${BINARY} holds DWARF (${CMAKE_MATCH_1})")
endif()
if(PDB)
  get_filename_component(name ${BINARY} NAME_WE)
  get_filename_component(dir ${BINARY} DIRECTORY)
  if(NOT dump MATCHES "RSDS signature ([0-9a-f]+) age ([0-9]+) pdb ${name}\\.pdb\\)")
    message(FATAL_ERROR "${BINARY} does not name ${name}.pdb by file name")
  endif()
  set(recorded "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
  execute_process(COMMAND llvm-pdbutil dump --summary ${dir}/${name}.pdb OUTPUT_VARIABLE summary)
  string(REGEX MATCH "Age: ([0-9]+)\n +GUID: {([0-9A-F-]+)}" _ "${summary}")
  string(REPLACE "-" "" guid "${CMAKE_MATCH_2}")
  string(TOLOWER "${guid} ${CMAKE_MATCH_1}" guid)
  if(NOT guid STREQUAL recorded)
    message(FATAL_ERROR "${name}.pdb is ${guid} (GUID, age), ${BINARY} records ${recorded}")
  endif()
endif()
if(PDB AND EXPORTS)
  execute_process(COMMAND llvm-readobj --coff-exports ${BINARY} OUTPUT_VARIABLE exports)
  string(REGEX MATCH "Name: Mmdr_Init\n +RVA: (0x[0-9A-F]+)" _ "${exports}")
  execute_process(COMMAND llvm-symbolizer --obj=${BINARY} --relative-address ${CMAKE_MATCH_1}
                  OUTPUT_VARIABLE line)
  if(NOT line MATCHES "^Mmdr_Init\n[^\n]*/mmdr_exports\\.cpp:[1-9]")
    message(FATAL_ERROR "the PDB places Mmdr_Init's address at: ${line}")
  endif()
endif()
