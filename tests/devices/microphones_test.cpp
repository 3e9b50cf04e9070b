// Microphones on Linux: the private sound server of the sound_server fixture (PULSE_SERVER,
// its folder HOME; PulseAudio or PipeWire, the same expectations of either),
// ALSA through the configuration this program writes at ALSA_CONFIG_PATH, and the fall-back
// from one to the other. The exported calls are compiled in from the library's own source.
#include <gtest/gtest.h>

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <pulse/introspect.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <tuple>
#include <vector>

#include "devices/alsa_lib_linux.h"
#include "devices/sound_server_linux.h"
#include "prefs/settings_linux.h"
#include "support/devices.h"
#include "support/log_capture.h"

namespace kestrel_test {
namespace {

// The test configuration, and what ALSA lists of each entry (no id: nothing).
const std::string kLong(300, 'L');
const struct {
  std::string config, id, name;
} kPcms[] = {
    {"pcm.deskmic { type null hint.description \"Desk Mic\" }", "deskmic", "Desk Mic"},
    {"pcm.salon { type null hint.description \"Micro « salon »\nsecond line\" }", "salon",
     "Micro « salon »"},
    {"pcm.wide { type null hint.description \"" + kLong + "\" }", "wide", kLong},
    {"pcm.bare { type null hint.show on }", "bare", "bare"},
    {"namehint.pcm.speaker \"speaker|DESCSpeaker|IOIDOutput\"", "", ""},
    {"pcm.pulse { type null hint.description \"Bridge\" }", "", ""},
    {"pcm.surround51 { type null hint.description \"Speakers\" }", "", ""},
};

void WriteAlsaConfig(bool broken) {
  std::ofstream file(std::getenv("ALSA_CONFIG_PATH"), std::ios::trunc);
  for (const auto& pcm : kPcms) file << (broken ? "pcm.broken {" : pcm.config) << "\n";
}

// What ALSA lists of the configuration: the names cut at `cut` bytes.
std::vector<Entry> AlsaMics(std::size_t cut = std::string::npos) {
  std::vector<Entry> out;
  for (const auto& pcm : kPcms) {
    if (!pcm.id.empty()) out.push_back({pcm.id, pcm.name.substr(0, cut)});
  }
  return out;
}

bool AlsaLoaded() {
  void* library = dlopen("libasound.so.2", RTLD_NOW | RTLD_NOLOAD);
  if (library != nullptr) dlclose(library);
  return library != nullptr;
}

// A function of the loaded alsa-lib, for the test to use it as a host would.
template <typename Function>
Function* Alsa(void* library, const char* name) {
  return reinterpret_cast<Function*>(dlsym(library, name));
}

// A socket that accepts connections and never answers; a name that starts with '@' is
// abstract (a NUL in its place). A file of that name is left by an earlier run that was
// killed, with this process's number.
int SilentListener(const std::string& name) {
  if (name[0] != '@') unlink(name.c_str());
  sockaddr_un address = {AF_UNIX, {}};
  name.copy(address.sun_path, sizeof address.sun_path - 1);
  if (name[0] == '@') address.sun_path[0] = '\0';
  const auto length = offsetof(sockaddr_un, sun_path) + name.size() + (name[0] != '@');
  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const bool bound = bind(listener, reinterpret_cast<sockaddr*>(&address), length) == 0;
  return bound && listen(listener, 4) == 0 ? listener : -1;
}

// A display at 127.0.0.1, TCP port 6000 + its number, that accepts connections and never
// answers: its number.
int SilentTcpDisplay() {
  static const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  for (int number = 100 + getpid() % 1000; number < 1200; ++number) {
    sockaddr_in address = {AF_INET, htons(6000 + number), {htonl(INADDR_LOOPBACK)}, {}};
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      return listen(listener, 4) == 0 ? number : -1;
    }
  }
  return -1;
}

TEST(Microphones, TheServersOrElseAlsasAreListedQuietlyWithNothingLeftOpenOrLoaded) {
  const std::string server = std::getenv("PULSE_SERVER");
  const std::string silent = "/tmp/kestrel-silent-" + std::to_string(getpid());
  const int listener = SilentListener(silent);
  // X display number getpid(), as libxcb reaches it first: a display that never answers.
  const int display = SilentListener("@/tmp/.X11-unix/X" + std::to_string(getpid()));
  const int tcpDisplay = SilentTcpDisplay();
  ASSERT_TRUE(listener >= 0 && display >= 0 && tcpDisplay >= 0);
  setenv("SSH_CONNECTION", "192.0.2.1 50000 192.0.2.2 22", 1);  // libpulse reads the display
  static const std::string machine = std::string(std::getenv("HOME")) + "/machine.conf";
  UserPrefsUtil::SetMachineSettingsPathForTesting(machine.c_str());
  const std::vector<Entry> mics = {{"usbmic", "USB Mic"}, {"headset", "Casque à écouter"}};
  const std::vector<Entry> plugged = {
      {"usbmic", "USB Mic"}, {"headset", "Casque à écouter"}, {"plug", "Plug"}};
  const struct {
    std::string server, change;  // what changes on the server before the row's listing
    bool alsaSwitch, brokenAlsa;
    std::vector<Entry> mics;
    std::string logged;   // the decisions' reasons
    std::string display;  // DISPLAY
  } cases[] = {
      {server, "", false, false, mics, "is on (machine file)|not listed, the monitor of a sink"},
      {server, "add $HOME plug=Plug", false, false, plugged, "source 'plug' (Plug): listed"},
      {server, "remove $HOME plug", false, false, mics, ""},
      {server, "", true, false, AlsaMics(259),
       "ALSA: EnableAInWasapi is off|taken, count 1: libasound.so.2 loaded|count 2|"
       "released, count 0: libasound.so.2 closed|'speaker': not listed, output only|'pulse': not "
       "listed, a generic"},
      {"unix:" + silent + "-missing", "", false, false, AlsaMics(259), "no sound server answered"},
      {"unix:" + silent, "", false, false, AlsaMics(259),
       "trivia kinds: AudioCapture::EnumPrimary - no sound server answered (waited 20"},
      {server, "", false, false, AlsaMics(259), "X display that libpulse reads does not answer",
       "unix:" + std::to_string(getpid()) + ".0"},  // display N, screen 0, on its local socket
      {server, "", false, false, AlsaMics(259), "does not answer",
       "127.0.0.1:" + std::to_string(tcpDisplay)},
      {server, "", false, false, AlsaMics(259), "does not answer",
       "inet6/127.0.0.1:" + std::to_string(tcpDisplay)},
      {"unix:" + silent + "-missing",
       "",
       false,
       true,
       {},
       "error devices: AlsaLib::EnumCaptureDevices - no name hints"},
  };
  std::FILE* printed = std::tmpfile();  // what reaches stderr meanwhile
  const int saved = dup(2);
  dup2(fileno(printed), 2);
  const ScopedLogThreshold debug;
  // On the second server (PipeWire), all but the rows that wait out a silent server or
  // display: those never reach a server.
  const char* kind = std::getenv("SOUND_SERVER");
  const bool second = kind != nullptr && std::string(kind) == "pipewire";
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    if (second && (c.server == "unix:" + silent || !c.display.empty())) continue;
    setenv("PULSE_SERVER", c.server.c_str(), 1);
    setenv("DISPLAY", c.display.c_str(), 1);
    ASSERT_EQ(c.change.empty() ? 0 : std::system((KESTREL_SOUND_SERVER " " + c.change).c_str()), 0);
    WriteAlsaConfig(c.brokenAlsa);
    std::ofstream(machine) << "EnableAInWasapi=" << !c.alsaSwitch << "\n";
    const auto fds = EntriesIn("/proc/self/fd");
    MmdrHandle* handle = nullptr;
    ASSERT_EQ(Mmdr_Init(MMDR_MODE_1, &handle), MMDR_OK);
    EXPECT_EQ(Enumerate(handle, MMDR_DEVICE_AUDIO), c.mics);
    const auto start = std::chrono::steady_clock::now();
    std::uint32_t changed = 0;  // a dead display holds up following them no more than listing
    if (c.display.rfind("unix:", 0) == 0) Mmdr_WatchDevices(handle, MMDR_WATCH_AUDIO, 0, &changed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(AlsaLoaded(), c.alsaSwitch) << "held by the handle that selected it, only";
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "snd_device_name_hint"), nullptr) << "nor in the host's names";
    if (c.alsaSwitch) {
      // A device opened and closed in the meantime, as alsa-lib opens a sound card's control
      // while it lists: its cache keeps a handle on alsa-lib, which the last release frees.
      void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_NOLOAD);
      snd_pcm_t* pcm = nullptr;
      ASSERT_EQ(Alsa<decltype(snd_pcm_open)>(alsa, "snd_pcm_open")(&pcm, "deskmic",
                                                                   SND_PCM_STREAM_CAPTURE, 0),
                0);
      Alsa<decltype(snd_pcm_close)>(alsa, "snd_pcm_close")(pcm);
      dlclose(alsa);
    }
    Mmdr_Uninit(handle);
    EXPECT_FALSE(AlsaLoaded());
    EXPECT_EQ(EntriesIn("/proc/self/fd"), fds);
    ExpectLogged(debug.Lines(), c.logged);
  }
  // A host that loaded alsa-lib first has its thread's own message handler and the
  // configuration it read back as they were after an ALSA listing.
  using Handler = void (*)(const char*, int, const char*, int, const char*, va_list);
  void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
  const auto setLocal = Alsa<Handler(Handler)>(alsa, "snd_lib_error_set_local");
  const Handler mine = [](const char*, int, const char*, int, const char*, va_list) {};
  setLocal(mine);
  WriteAlsaConfig(false);
  ASSERT_GE(Alsa<decltype(snd_config_update)>(alsa, "snd_config_update")(), 0);
  snd_config_t* const* const hostConfig = Alsa<snd_config_t*>(alsa, "snd_config");
  snd_config_t* const read = *hostConfig;
  WriteAlsaConfig(true);
  ScopedMmdrHandle handle;  // the last row's settings: no server, ALSA's broken configuration
  EXPECT_EQ(Enumerate(handle.get(), MMDR_DEVICE_AUDIO), std::vector<Entry>{});
  EXPECT_EQ(setLocal(nullptr), mine);
  EXPECT_TRUE(read != nullptr && *hostConfig == read);
  Alsa<decltype(snd_config_update_free_global)>(alsa, "snd_config_update_free_global")();
  dlclose(alsa);
  dup2(saved, 2);
  close(saved);
  std::string text(4096, '\0');
  text.resize(static_cast<std::size_t>(pread(fileno(printed), text.data(), text.size(), 0)));
  EXPECT_EQ(text, "");
  std::fclose(printed);
  // Over SSH with no display at DISPLAY, libpulse gives up on it at once (and says so on
  // stderr itself): the server is asked, and lists its sources.
  setenv("DISPLAY", "unix:9999999", 1);
  setenv("PULSE_SERVER", server.c_str(), 1);
  EXPECT_EQ(Enumerate(handle.get(), MMDR_DEVICE_AUDIO), mics);
  // A display forwarded over SSH answers only a connection that carries the cookie of the
  // authority file (its SSH client tells the user of any other): a display that stays
  // silent unless the cookie comes.
  const std::string number = std::to_string(getpid() * 10 + 1), cookie = "0123456789abcdef";
  const auto counted = [](const std::string& field) {
    return std::string{static_cast<char>(field.size() >> 8), static_cast<char>(field.size())} +
           field;
  };
  const std::string authority = std::string(std::getenv("HOME")) + "/Xauthority";
  std::ofstream(authority) << "\xFF\xFF" + counted("") + counted(number) +
                                  counted("MIT-MAGIC-COOKIE-1") + counted(cookie);
  setenv("XAUTHORITY", authority.c_str(), 1);
  setenv("DISPLAY", (":" + number).c_str(), 1);
  const char* const forwarded = R"(import os, socket, sys, time
s = socket.socket(socket.AF_UNIX)
s.bind("\0/tmp/.X11-unix/X" + sys.argv[1]); s.listen()
if os.fork() == 0:
  c = s.accept()[0]; c.settimeout(5)
  if sys.argv[2].encode() in c.recv(256): c.send(b"\0")
  else: time.sleep(5))";
  ASSERT_EQ(
      std::system(("python3 -c '" + std::string(forwarded) + "' " + number + " " + cookie).c_str()),
      0);
  EXPECT_EQ(Enumerate(handle.get(), MMDR_DEVICE_AUDIO), mics);
  unsetenv("XAUTHORITY");
  UserPrefsUtil::SetMachineSettingsPathForTesting(nullptr);
  close(listener);
  close(display);
  unlink(silent.c_str());
}

TEST(Microphones, ASourceCountsUnlessItMonitorsASinkOrEveryPortIsUnplugged) {
  pa_source_port_info no{}, unknown{}, yes{};  // null sources have no ports to try
  no.available = PA_PORT_AVAILABLE_NO;
  unknown.available = PA_PORT_AVAILABLE_UNKNOWN;
  yes.available = PA_PORT_AVAILABLE_YES;
  const std::tuple<std::uint32_t, std::vector<pa_source_port_info*>, std::string> cases[] = {
      // monitor of sink, ports, why not listed
      {PA_INVALID_INDEX, {}, ""},
      {PA_INVALID_INDEX, {&no, &no}, "every port unplugged"},
      {PA_INVALID_INDEX, {&no, &unknown}, ""},
      {PA_INVALID_INDEX, {&no, &yes}, ""},
      {3, {}, "the monitor of a sink"}};
  for (auto [monitorOf, ports, whyNot] : cases) {
    pa_source_info source{};
    source.monitor_of_sink = monitorOf;
    source.n_ports = static_cast<std::uint32_t>(ports.size());
    source.ports = ports.data();
    const char* reason = SoundServer::WhyNotListed(source);
    EXPECT_EQ(reason != nullptr ? reason : "", whyNot) << monitorOf << " " << ports.size();
  }
}

TEST(Microphones, AlsaListsEachCardDeviceOnceByTheCardsId) {
  const char* const hints[][3] = {
      // name, description, IOID
      {"dsnoop:CARD=USB,DEV=0", "USB Mic, Capture\nDirect sample snooping device", "Input"},
      {"hw:CARD=USB,DEV=0", "USB Mic, Capture\nDirect hardware device", nullptr},
      {"front:CARD=PCH,DEV=0", "HDA, Analog\nFront output / input", nullptr},
      {"hw:CARD=PCH", "HDA", nullptr},
      {"plughw:CARD=PCH,SUBDEV=1,DEV=2", "HDA, Alt\nAll software conversions", nullptr},
      {"array:CARD=PCH,DEV=1", "Array", nullptr},
  };
  DeviceInfoList list;
  const ScopedLogThreshold debug;
  for (const auto& hint : hints) AlsaLib::AddHint(list, hint[0], hint[1], hint[2]);
  ExpectLogged(debug.Lines(), "'hw:CARD=PCH': not listed, a card without a device number");
  const std::vector<NameAndId> expected = {{L"USB Mic, Capture", L"hw:CARD=USB,DEV=0"},
                                           {L"HDA, Alt", L"hw:CARD=PCH,DEV=2"},
                                           {L"Array", L"array:CARD=PCH,DEV=1"}};
  EXPECT_EQ(NamesAndIds(list), expected);
}

}  // namespace
}  // namespace kestrel_test
