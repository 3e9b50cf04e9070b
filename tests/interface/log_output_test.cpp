// KESTREL_LOG as Mmdr_Init reads it from the environment: where the lines go, what they
// look like, and that without it nothing is printed on standard error or to the debugger.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "kestrelCliLib.h"
#include "log/log.h"
#include "support/log_capture.h"
#include "support/user_emulation.h"

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kestrel_test {
namespace {

namespace fs = std::filesystem;
using Setting = std::optional<std::string>;  // KESTREL_LOG's value; nullopt: unset

#ifdef _WIN32
void SetLogVariable(const Setting& value) {
  SetEnvironmentVariableW(L"KESTREL_LOG", value ? fs::u8path(*value).c_str() : nullptr);
}
std::uint32_t ThisThreadId() { return GetCurrentThreadId(); }
const std::string kProcess = std::to_string(GetCurrentProcessId());
// What reached the debugger while a capture ran. OutputDebugStringW's wide exception falls
// back to this narrow one when no debugger takes it, so every text raises it once.
std::string g_debugText;
LONG CALLBACK OnDebugText(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD& raised = *pointers->ExceptionRecord;
  if (raised.ExceptionCode == DBG_PRINTEXCEPTION_C && raised.NumberParameters >= 2) {
    g_debugText += reinterpret_cast<const char*>(raised.ExceptionInformation[1]);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}
#else
void SetLogVariable(const Setting& value) {
  if (value) setenv("KESTREL_LOG", value->c_str(), 1);
  if (!value) unsetenv("KESTREL_LOG");
}
std::uint32_t ThisThreadId() { return static_cast<std::uint32_t>(gettid()); }
const std::string kProcess = std::to_string(getpid());
const std::string g_debugText;  // no debugger channel
#endif

// The test's files, in a folder of this process's own: other builds' runs share the parent.
const fs::path kFolder = fs::temp_directory_path() / ("kestrel-log-test-" + kProcess);

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What the process prints while one lives: standard error (the descriptor, and on Windows
// the system's handle) goes to a file, and on Windows the debugger's text is collected.
class Printed {
 public:
  Printed() {
    const int file = open(path_.string().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, 2);
    close(file);
#ifdef _WIN32
    SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(2)));
    g_debugText.clear();
    handler_ = AddVectoredExceptionHandler(1, &OnDebugText);
#endif
  }
  // Standard error's text, then the debugger's.
  std::pair<std::string, std::string> Stop() {
    dup2(saved_, 2);
    close(saved_);
#ifdef _WIN32
    SetStdHandle(STD_ERROR_HANDLE, savedHandle_);
    RemoveVectoredExceptionHandler(handler_);
#endif
    return {ReadFile(path_), g_debugText};
  }

 private:
  fs::path path_ = kFolder / "printed";
  int saved_ = dup(2);
#ifdef _WIN32
  HANDLE savedHandle_ = GetStdHandle(STD_ERROR_HANDLE);
  void* handler_ = nullptr;
#endif
};

void OpenAndClose(const Setting& setting) {
  SetLogVariable(setting);
  MmdrHandle* handle = nullptr;
  ASSERT_EQ(Mmdr_Init(MMDR_MODE_1, &handle), MMDR_OK);
  Mmdr_Uninit(handle);
}

// A line; the library's own lines (its subsystems) may come between the test's (kestrel).
const std::regex kLine(
    R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (\d+) (error|info|debug) ([a-z]+): (.*))");

TEST(KestrelLog, LinesGoWhereItSaysOneAndWholeForEachRecordAndWithoutItNothingIsPrinted) {
  KESTREL_SKIP_UNDER_USER_EMULATION("logs from a second thread");
  fs::create_directories(kFolder);
  // Split at the first colon only: on Windows the drive's colon follows it, and the value
  // (UTF-8 as the variable's UTF-16) is longer than a first read of it takes.
  const fs::path filePath =
      kFolder / fs::u8path(fs::path::preferred_separator == '/'
                               ? "k:1"
                               : "K\xC3\xA4stner, a log file with a name longer than most.log");
  const std::string file = filePath.u8string();
  struct Case {
    Setting setting;
    // Standard error (and the debugger): B before Mmdr_Init, E error, I info, D debug.
    const char* printed;
    const char* appended;  // to the file
  };
  // A FIFO that nobody reads (on Windows a pipe that nobody serves): unusable, not waited on.
#ifdef _WIN32
  const std::string unread = R"(\\.\pipe\kestrel-log-test-unserved)";
#else
  const std::string unread = (kFolder / "fifo").u8string();
  mkfifo(unread.c_str(), 0600);
#endif
  const Case cases[] = {
      {std::nullopt, "", ""},        {"", "", ""},
      {"verbose", "", ""},           {"debug:" + (kFolder / "missing" / "k").u8string(), "", ""},
      {"error", "BE", ""},           {"DeBuG", "BEID", ""},
      {"debug:" + unread, "", ""},   {"info:" + file, "", "BEI"},
      {"debug:" + file, "", "BEID"},
  };
  // A name with a newline, ESC, a stray byte, a C1 control and an encoded surrogate.
  const char* const kName = "a name\nfake line\x1b\xff\xc2\x9b\xed\xa0\x80";
  const std::string kEscaped = R"(Test - a name\nfake line\x1B\xFF\xC2\x9B\xED\xA0\x80)";
  std::string fileKinds;
  std::set<std::string> before;  // the threads that logged while nothing went out
  // Each of the test's lines as B, E, I or D when it is exactly that record's line, else ?.
  const auto kinds = [&before, &kEscaped](const std::string& text) {
    std::string found;
    std::istringstream lines(text);
    std::smatch m;
    for (std::string line; std::getline(lines, line);) {
      const bool whole = std::regex_match(line, m, kLine);
      const std::string id = m[1], level = m[2], message = m[4];  // empty without a match
      if (whole && m[3] != "kestrel") continue;
      const bool mine = id == std::to_string(ThisThreadId());
      found += before.count(id) != 0 && level == "error" && message == "Test - before" ? 'B'
               : mine && level == "error" && message == kEscaped                       ? 'E'
               : mine && level == "info" && message == "Test - info"                   ? 'I'
               : mine && level == "debug" && message == "Test - debug"                 ? 'D'
                                                                                       : '?';
    }
    return found;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setting.value_or("unset"));
    OpenAndClose(std::nullopt);
    DrainLibraryLog();
    Printed printed;
    std::thread([&before] {
      before.insert(std::to_string(ThisThreadId()));
      Log(kLogLevelError, "Test - before");
    }).join();
    OpenAndClose(c.setting);
    EXPECT_EQ(DrainLibraryLog().empty(), *c.printed != '\0' || *c.appended != '\0')
        << "the ring goes out at Mmdr_Init";
    Log(kLogLevelError, "Test - %s", kName);
    Log(kLogLevelVerbose, "Test - info");
    Log(kLogLevelTrivia, "Test - debug");
    const auto [error, debugger] = printed.Stop();
    // Mmdr_Init reads the variable before it chooses the microphones' back end, and says why.
    EXPECT_EQ(
        (error + ReadFile(filePath)).find(" debug kinds: AudioCapture::Init - microphones from") !=
            std::string::npos,
        std::strchr(c.printed, 'D') != nullptr || std::strchr(c.appended, 'D') != nullptr);
    EXPECT_EQ(kinds(error), c.printed) << error;
    EXPECT_EQ(kinds(ReadFile(filePath)), fileKinds += c.appended);
    EXPECT_EQ(kinds(debugger), fs::path::preferred_separator == '/' ? "" : c.printed) << debugger;
  }
#ifndef _WIN32
  struct stat status {};
  EXPECT_TRUE(stat(file.c_str(), &status) == 0 && (status.st_mode & 0777) == 0600);
  // A host that loads the library, has it log to a file and unloads it keeps no file open.
  const fs::path unloaded = kFolder / "unloaded";
  const auto fileIsOpen = [&unloaded] {
    std::error_code error;
    for (const fs::directory_entry& fd : fs::directory_iterator("/proc/self/fd")) {
      if (fs::read_symlink(fd.path(), error) == unloaded) return true;
    }
    return false;
  };
  SetLogVariable("error:" + unloaded.u8string());
  void* library = dlopen(KESTREL_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  MmdrHandle* handle = nullptr;
  ASSERT_EQ(
      reinterpret_cast<decltype(&Mmdr_Init)>(dlsym(library, "Mmdr_Init"))(MMDR_MODE_1, &handle),
      MMDR_OK);
  reinterpret_cast<decltype(&Mmdr_Uninit)>(dlsym(library, "Mmdr_Uninit"))(handle);
  EXPECT_TRUE(fileIsOpen());
  dlclose(library);
  EXPECT_FALSE(fileIsOpen());
#endif
  // A thread logs while this one switches the output on and off: every line stays whole.
  const std::string switched = (kFolder / "switched").u8string();
  std::atomic<bool> done{false};
  std::atomic<int> logged{0};
  std::thread logger([&] {
    for (; !done; ++logged) Log(kLogLevelError, "Test - busy");
  });
  for (int i = 0; i < 40; ++i) {
    OpenAndClose(i % 2 == 0 ? Setting("error:" + switched) : std::nullopt);
    for (const int start = logged; logged < start + 2;) std::this_thread::yield();
  }
  done = true;
  logger.join();
  const std::string text = ReadFile(switched);
  EXPECT_FALSE(text.empty());
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(std::regex_match(line, kLine)) << line;
  }
  OpenAndClose(std::nullopt);
  fs::remove_all(kFolder);
}

}  // namespace
}  // namespace kestrel_test
