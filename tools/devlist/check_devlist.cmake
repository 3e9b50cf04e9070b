# Usage: cmake -DWINE_RUN=<build>/wine-run.sh -DDEVLIST=<devlist.exe> -DWORK_DIR=<dir>
#              -P check_devlist.cmake
# Registers one webcam in the video input category for the run, runs devlist, removes
# the webcam, and checks that the webcam and the fixture microphones appear in their
# lists.
set(key "CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\{D5A1C0DE-7E57-4C0D-9E11-0DE7115C0A4D}")
set(camera "Devlist Check Camera")

# One Wine start for the whole registration: a .reg file imported with reg.exe.
set(reg_file "${WORK_DIR}/devlist_check_webcam.reg")
file(WRITE "${reg_file}"
  "Windows Registry Editor Version 5.00\r\n\r\n"
  "[HKEY_CLASSES_ROOT\\${key}]\r\n"
  "\"FriendlyName\"=\"${camera}\"\r\n"
  "\"DevicePath\"=\"\\\\\\\\?\\\\devlist#check#0\"\r\n"
  "\"CLSID\"=\"{E436EBB6-524F-11CE-9F53-0020AF0BA770}\"\r\n")
execute_process(COMMAND ${WINE_RUN} reg import "Z:${reg_file}"
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "could not register the check webcam: ${result}")
endif()

execute_process(COMMAND ${WINE_RUN} ${DEVLIST}
                RESULT_VARIABLE devlist_result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
execute_process(COMMAND ${WINE_RUN} reg delete "HKCR\\${key}" /f OUTPUT_QUIET ERROR_QUIET)
message("${output}")

if(NOT devlist_result EQUAL 0)
  message(FATAL_ERROR "devlist failed (${devlist_result}): ${errors}")
endif()

string(FIND "${output}" "Microphones (Core Audio endpoints)" endpoints_at)
string(FIND "${output}" "Microphones (DirectSound)" dsound_at)
if(endpoints_at LESS 0 OR dsound_at LESS endpoints_at)
  message(FATAL_ERROR "devlist did not print its three lists")
endif()
string(SUBSTRING "${output}" 0 ${endpoints_at} webcam_section)
math(EXPR endpoints_length "${dsound_at} - ${endpoints_at}")
string(SUBSTRING "${output}" ${endpoints_at} ${endpoints_length} endpoint_section)
string(SUBSTRING "${output}" ${dsound_at} -1 dsound_section)

string(FIND "${webcam_section}" "\"${camera}\"" found)
if(found LESS 0)
  message(FATAL_ERROR "the check webcam is missing from the webcam list")
endif()
foreach(mic "In: default" "In: DeskMic" "In: Headset" "In: ArrayMic")
  foreach(section endpoint_section dsound_section)
    string(FIND "${${section}}" "\"${mic}\"" found)
    if(found LESS 0)
      message(FATAL_ERROR "fixture microphone \"${mic}\" is missing from ${section}")
    endif()
  endforeach()
endforeach()
