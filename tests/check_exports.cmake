# cmake -DOBJDUMP=<objdump> -DDLL=<kestrelCliLib.dll> -DFORMAT=<pei-x86-64|pei-i386>
#       -P check_exports.cmake
# Fails unless the DLL is of the given machine type, exports exactly the ten Mmdr_
# functions, undecorated, and imports nothing but system DLLs.
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
