// What the V4L2 webcam enumerator asks of the system: open, ioctl and close on device
// nodes, and the folder under which it looks up "/dev" and "/sys". Every enumeration
// uses the real calls and "/" unless a test has put a fake root with stand-in calls in
// their place.
#pragma once

#include <string>

struct V4l2System {
  int (*open)(const char* path, int flags);
  int (*ioctl)(int fd, unsigned long request, void* argument);
  int (*close)(int fd);  // releases what open returned
  const char* root;      // the folder holding dev/ and sys/: "/" for the real system
};

// For tests only: the table that enumerations use from now on (it must outlive them);
// null restores the real calls and "/". Set it while no enumeration runs.
void SetV4l2SystemForTesting(const V4l2System* system) noexcept;

// The folder that holds dev/ and sys/ for enumerations now, without a trailing slash ("" for
// the real system's "/").
std::string V4l2Root();
