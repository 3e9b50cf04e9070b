# cmake -DOBJDUMP=<objdump> -DDLL=<kestrelCliLib.dll> -P check_exports.cmake
# Fails unless the DLL exports exactly the ten Mmdr_ functions, undecorated, and imports
# nothing but system DLLs.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()

set(expected Mmdr_EnumDevices Mmdr_GetAudioInSelectOption Mmdr_GetLibVersion Mmdr_GetPrefDev
             Mmdr_Init Mmdr_IsEnabled Mmdr_IsValid Mmdr_SetAudioInSelectOption Mmdr_SetPrefDev
             Mmdr_Uninit)

# The name pointer table: lines "\t[   n] +base[   n] 0000 Name" after "[Ordinal/Name Pointer] Table".
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[^\n]*\n)*)" table "${dump}")
set(table "${CMAKE_MATCH_1}")
string(REGEX MATCHALL "[^ \t\n]+\n" names "${table}")
set(exported)
foreach(name ${names})
  string(STRIP "${name}" name)
  list(APPEND exported ${name})
endforeach()
list(SORT exported)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "exports are [${exported}], expected [${expected}]")
endif()
message(STATUS "exports: ${exported}")

set(system_dlls ADVAPI32.dll KERNEL32.dll msvcrt.dll ole32.dll OLEAUT32.dll USER32.dll
                api-ms-win-crt-.*\\.dll)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(line ${imports})
  string(REGEX REPLACE "DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  set(known FALSE)
  foreach(pattern ${system_dlls})
    string(TOLOWER "${pattern}" pattern)
    string(TOLOWER "${dll}" lower)
    if(lower MATCHES "^${pattern}$")
      set(known TRUE)
    endif()
  endforeach()
  if(NOT known)
    message(FATAL_ERROR "kestrelCliLib.dll imports ${dll}, which is not a system DLL")
  endif()
  message(STATUS "imports ${dll}")
endforeach()
