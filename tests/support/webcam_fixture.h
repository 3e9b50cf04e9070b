// Webcams that the platform's own enumerator lists, for one scope: WebcamFixture(webcams),
// each with a UTF-8 name and path, and WebcamFixture::Id(path), the id the library gives it.
#pragma once

#ifdef _WIN32
#include "support/webcam_fixture_win.h"
#else
#include "support/webcam_fixture_linux.h"
#endif

namespace kestrel_test {

// A path whose id is 262 bytes, "\xC3\xA9" after at most one "a", so that a character spans
// byte 259, the last a field holds; short enough for a link name (255 bytes) and for a
// registry text (259 units).
inline std::string LongWebcamPath() {
  const std::size_t prefix = WebcamFixture::Id("").size();
  std::string path(prefix % 2, 'a');
  while (prefix + path.size() < 262) path += "\xC3\xA9";
  return path;
}

}  // namespace kestrel_test
