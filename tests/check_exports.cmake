# cmake -DOBJDUMP=<objdump> -DDLL=<kestrelCliLib.dll> -DFORMAT=<pei-x86-64|pei-i386>
#       -P check_exports.cmake
# Fails unless the DLL is of the given machine type, exports exactly the ten Mmdr_
# functions, undecorated, and imports nothing but system DLLs.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()
if(NOT dump MATCHES "file format ${FORMAT}\n")
  message(FATAL_ERROR "${DLL} is not ${FORMAT}")
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

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(line ${imports})
  string(REGEX REPLACE "DLL Name: *" "" dll "${line}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll MATCHES "^(advapi32|kernel32|msvcrt|ole32|oleaut32|user32)\\.dll$")
    message(FATAL_ERROR "kestrelCliLib.dll imports ${dll}, which is not a system DLL")
  endif()
endforeach()
message(STATUS "exports [${exported}]; imports [${imports}]")
