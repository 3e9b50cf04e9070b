// The platform work behind the library's Linux enumerations, done directly with the same
// calls, for comparison: the benchmark times it against the exported calls.
#pragma once

#include <string>
#include <vector>

#include "devices/v4l2_system_linux.h"

namespace kestrel_direct {

struct DirectDevice {
  std::string id;  // UTF-8
  std::string name;
};
using DirectList = std::vector<DirectDevice>;

// The V4L2 capture nodes under system.root, through system's calls: sysfs's list in
// numeric order, udev's by-id and by-path links, VIDIOC_QUERYCAP on each node.
void DirectWebcams(const V4l2System& system, DirectList& out);
// The camera nodes of the PipeWire daemon at PIPEWIRE_REMOTE that are not V4L2's (device.api
// other than v4l2), appended to out: one registry round trip, each Video/Source node bound
// for its properties, through libpipewire-0.3 opened once. False without it or a daemon.
bool DirectPipeWireCameras(DirectList& out);
// The sound server's capture sources (PULSE_SERVER; never spawned) through a non-threaded
// libpulse main loop, but monitors and sources whose every port is unplugged.
void DirectSoundServer(DirectList& out);
// A value of the user's settings file, else of the machine's (key=value lines).
std::string DirectSetting(const std::string& key);
// A value of the machine's settings file (a switch).
std::string DirectMachineSetting(const std::string& key);

}  // namespace kestrel_direct
