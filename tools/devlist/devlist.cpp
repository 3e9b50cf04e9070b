// Prints what the library's enumerators find on this machine: the DirectShow webcams,
// the Core Audio capture endpoints and the DirectSound capture devices, one record per
// line with every field, in UTF-8.
#include <windows.h>

#include <cstdio>
#include <string>

#include "core/text_utils.h"
#include "devices/device_info.h"
#include "devices/dsound_lib.h"
#include "devices/video_input.h"
#include "devices/endpoint_enumeration.h"

namespace {

// Output that the console refuses has nowhere else to go.
void Print(const std::string& text) {
  static_cast<void>(std::fwrite(text.data(), 1, text.size(), stdout));
}

std::string Utf8(const std::wstring& text) { return ConvertWideToUtf8(text.c_str()); }

void PrintList(const char* title, bool listed, const DeviceInfoList& list) {
  Print(std::string(title) + (listed ? "" : " (enumeration reported failure)") + ": " +
        std::to_string(list.size()) + " device(s)\n");
  for (const DeviceInfo& device : list) {
    Print("  [" + std::to_string(device.index) + "] \"" + Utf8(device.name) + "\"\n");
    if (!device.guid.empty()) Print("      guid: " + Utf8(device.guid) + "\n");
    Print("      id:   " + Utf8(device.id) + "\n");
  }
}

}  // namespace

int main() {
  SetConsoleOutputCP(CP_UTF8);

  DeviceInfoList webcams;
  const bool webcamsListed = VideoInput::EnumDevices(webcams);
  PrintList("Webcams (DirectShow video input)", webcamsListed, webcams);

  DeviceInfoList endpoints;
  const bool endpointsListed = WinDeviceUtil::EnumCaptureDevices(endpoints);
  PrintList("Microphones (Core Audio endpoints)", endpointsListed, endpoints);

  // Whatever the machine switch says: this tool shows both back ends.
  DeviceInfoList dsound;
  DSoundLib::InitInstance();
  const bool dsoundListed = AudioCaptureWinDsound::EnumCaptureDevices(dsound);
  DSoundLib::UninitInstance();
  PrintList("Microphones (DirectSound)", dsoundListed, dsound);

  static_cast<void>(std::fflush(stdout));
  return webcamsListed && endpointsListed && dsoundListed ? 0 : 1;
}
