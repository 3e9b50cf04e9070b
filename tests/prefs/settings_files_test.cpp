// The settings files in a temporary home: what the calls write and read, and writes that
// stay whole across processes and failures.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <tuple>
#include <utility>

#include "core/utf8.h"
#include "kestrelCliLib.h"
#include "prefs/settings_linux.h"
#include "prefs/user_prefs_util.h"
#include "support/log_capture.h"
#include "support/user_emulation.h"

namespace kestrel_test {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void Put(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// Runs the call in a child without root's privileges (root writes anywhere); its result.
int InChild(MmdrResult (*call)()) {
  const pid_t child = fork();
  if (child == 0) _exit(geteuid() == 0 && setuid(65534) != 0 ? 99 : call());
  int status = 0;
  return waitpid(child, &status, 0) == child ? WEXITSTATUS(status) : -1;
}

MmdrHandle* handle = nullptr;

class SettingsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(mkdtemp(root_.data()), nullptr);
    machine_ = root_ + "/machine.conf";
    folder_ = root_ + "/xdg/corvane/meridel";
    file_ = folder_ / "kestrel.conf";
    fs::permissions(root_, fs::perms(0755));  // for the unprivileged child
    setenv("HOME", (root_ + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root_ + "/xdg").c_str(), 1);
    UserPrefsUtil::SetMachineSettingsPathForTesting(machine_.c_str());
    ASSERT_EQ(Mmdr_Init(MMDR_MODE_1, &handle), MMDR_OK);
  }
  void TearDown() override {
    Mmdr_Uninit(handle);
    UserPrefsUtil::SetMachineSettingsPathForTesting(nullptr);
    UserPrefsUtil::SetRenameForTesting(nullptr);
    fs::remove_all(root_);
  }
  long Entries() const { return std::distance(fs::directory_iterator(folder_), {}); }

  std::string root_ = fs::temp_directory_path() / "kestrel-settings-XXXXXX";
  std::string machine_;
  fs::path folder_, file_;
};

TEST_F(SettingsFiles, TextsComeBackAsWrittenInTheDocumentedForm) {
  const std::pair<std::string, std::string> cases[] = {// text, as stored
                                                       {" a\\b\nc\td \r", "\\sa\\\\b\\nc\\td \\r"},
                                                       {"x=y = z", "x=y = z"},
                                                       {"Käse 摄像头 🎥", "Käse 摄像头 🎥"}};
  for (const auto& [text, stored] : cases) {
    ASSERT_EQ(Mmdr_SetPrefDev(handle, MMDR_DEVICE_VIDEO, text.c_str(), "n"), MMDR_OK);
    EXPECT_EQ(Slurp(file_), "srcWCamId=" + stored + "\nsrcWCamName=n\n");
    EXPECT_EQ(UserPrefsUtil::ReadPreferenceText(L"srcWCamId"), ConvertUtf8ToWide(text.c_str()));
  }
  Put(file_,
      "# srcWCamId=a\n SRCWCAMID \t= \\s b\\q\nsrcWCamId=c\nsrcWCamName=\nsrcAudioInOption= "
      "-99999999999x");
  Put(machine_, "srcWCamName=machine\nsrcAudioInOption=1\n");
  EXPECT_EQ(UserPrefsUtil::ReadPreferenceText(L"srcWCamId"), L"  b\\q");
  EXPECT_EQ(UserPrefsUtil::ReadPreferenceText(L"srcWCamName"), L"machine");  // empty: none
  EXPECT_EQ(UserPrefsUtil::GetAudioInOption(), 2147483648u);                 // held to 32 bits
}

TEST_F(SettingsFiles, SwitchesComeFromTheMachineFileAlone) {
  const std::string off = "IsDisabled=1\nEnableAInWasapi=0\n";
  setenv("XDG_CONFIG_DIRS", (root_ + "/dirs").c_str(), 1);
  Put(root_ + "/dirs/corvane/meridel/kestrel.conf", off);
  Put(file_, off);
  const std::tuple<const char*, std::uint8_t, bool> cases[] = {
      // machine file, enabled, primary
      {"", 1, true},
      {"IsDisabled=TRUE\r\nEnableAInWasapi=false\r\n", 0, false},  // CRLF line ends
      {"isdisabled = 2\nEnableAInWasapi=", 0, true}};
  for (const auto& [machine, enabled, primary] : cases) {
    Put(machine_, machine);
    std::uint8_t isEnabled = 9;
    ASSERT_EQ(Mmdr_IsEnabled(handle, &isEnabled), MMDR_OK);
    EXPECT_EQ(isEnabled, enabled) << machine;
    EXPECT_EQ(UserPrefsUtil::IsPrimaryAudioEnabled(), primary) << machine;
  }
  unsetenv("XDG_CONFIG_DIRS");
}

TEST_F(SettingsFiles, TheUserFileIsUnderXdgConfigHomeOnlyWhenThatIsAbsolute) {
  ASSERT_EQ(chdir(root_.c_str()), 0);  // where a relative one would lead
  const std::tuple<std::string, std::string, std::uint32_t, const char*> cases[] = {
      {"xdg", "/home/.config", 1, "1"},
      {"", "/home/.config", 4294967295u, "-1"},
      {root_ + "/abs", "/abs", 2147483648u, "-2147483648"}};
  for (const auto& [xdg, base, option, text] : cases) {
    setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
    ASSERT_EQ(Mmdr_SetAudioInSelectOption(handle, option), MMDR_OK);
    const fs::path folder = root_ + base + "/corvane/meridel";
    EXPECT_EQ(Slurp(folder / "kestrel.conf"), std::string("srcAudioInOption=") + text + "\n");
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(folder / "kestrel.conf").permissions(), fs::perms(0600));
    EXPECT_EQ(UserPrefsUtil::GetAudioInOption(), option);
    fs::remove_all(root_ + base);
  }
}

TEST_F(SettingsFiles, ASymlinkedFileStaysALinkAndItsTargetIsWrittenWithItsModeAndOwner) {
  const std::string real = root_ + "/real/k.conf";
  Put(real, "# mine\n");
  const uid_t owner = geteuid() == 0 ? 65534 : geteuid();  // root gives it to nobody
  ASSERT_EQ(chown(real.c_str(), owner, owner == 65534 ? 65534 : getegid()), 0);
  fs::permissions(real, fs::perms(0644));
  fs::create_directories(folder_);
  fs::create_symlink("hop", file_);
  fs::create_symlink(real, folder_ / "hop");
  ASSERT_EQ(Mmdr_SetPrefDev(handle, MMDR_DEVICE_AUDIO, "mic", "Mic"), MMDR_OK);
  EXPECT_TRUE(fs::is_symlink(file_) && fs::is_symlink(folder_ / "hop"));
  EXPECT_EQ(Slurp(real), "# mine\nsrcAudioInId=mic\nsrcAudioInName=Mic\n");
  struct stat written {};
  ASSERT_EQ(stat(real.c_str(), &written), 0);
  EXPECT_EQ(written.st_mode & 0777, 0644u);
  EXPECT_EQ(written.st_uid, owner);
}

TEST_F(SettingsFiles, AFailedWriteKeepsTheFileAndNoTemporaryOutlivesTheNextWrite) {
  Put(file_, "# mine\nsrcWCamId=old\nsrcWCamId=older\n");
  const auto write = [] { return Mmdr_SetPrefDev(handle, MMDR_DEVICE_VIDEO, "new", "New"); };
  const ScopedLogThreshold debug;
  UserPrefsUtil::SetRenameForTesting([](const char*, const char*) { return -1; });
  EXPECT_EQ(write(), MMDR_FAILED);
  EXPECT_EQ(Slurp(file_), "# mine\nsrcWCamId=old\nsrcWCamId=older\n");
  EXPECT_EQ(Entries(), 2);  // the file and its lock file: no temporary
  Put(folder_ / ".#kestrel.conf.AbC123", "srcWCamId=half");  // its writer died
  Put(folder_ / "kestrel.conf.tmp.bak1", "mine");  // the user's own, as long as a temporary's name
  UserPrefsUtil::SetRenameForTesting(nullptr);
  EXPECT_EQ(write(), MMDR_OK);
  EXPECT_EQ(Slurp(file_), "# mine\nsrcWCamId=new\nsrcWCamName=New\n");
  EXPECT_EQ(Slurp(folder_ / "kestrel.conf.tmp.bak1"), "mine");
  ExpectLogged(debug.Lines(),
               "trivia prefs: UserPrefsUtil::WriteUserSettings - '|"
               "kestrel.conf' written: srcWCamId='new' srcWCamName='New'");
  EXPECT_EQ(Entries(), 3);
  // A lock that another writer holds (through an open file description of its own, as
  // another process would) and never gives back fails the write in bounded time.
  static volatile std::sig_atomic_t held = -1;
  held = open((folder_ / "kestrel.conf.lock").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  EXPECT_EQ(Mmdr_SetAudioInSelectOption(handle, 1), MMDR_FAILED);
  EXPECT_EQ(Slurp(file_), "# mine\nsrcWCamId=new\nsrcWCamName=New\n");
  ExpectLogged(debug.Lines(), "still held by another writer");
  // One that it holds for a while (here until a timer releases it, 300 ms into the
  // write) is waited for (about 2 s at most).
  std::signal(SIGALRM, [](int) {
    close(held);
    held = -1;
  });
  const itimerval in300ms = {{0, 0}, {0, 300000}};
  ASSERT_EQ(setitimer(ITIMER_REAL, &in300ms, nullptr), 0);
  EXPECT_EQ(write(), MMDR_OK);
  EXPECT_EQ(int{held}, -1) << "the write ended before the lock was released";
  // A file of 1 MiB is read; a write that would take it over 1 MiB, which no read takes, is
  // refused.
  const std::string big = "# " + std::string((1u << 20) - 40, 'x') + "\n";
  Put(file_, big + std::string(17, '#') + "\nsrcAudioInOption=2\n");
  EXPECT_EQ(UserPrefsUtil::GetAudioInOption(), 2u);
  Put(file_, big);
  EXPECT_EQ(Mmdr_SetPrefDev(handle, MMDR_DEVICE_VIDEO, std::string(60, 'i').c_str(), "n"),
            MMDR_FAILED);
  EXPECT_EQ(Slurp(file_), big);
  ExpectLogged(debug.Lines(), "would be over 1048576 bytes");
  // Nor is a FIFO in its place replaced, which holds no call up either.
  fs::remove(file_);
  ASSERT_EQ(mkfifo(file_.c_str(), 0600), 0);
  EXPECT_EQ(UserPrefsUtil::GetAudioInOption(), 0u);
  EXPECT_EQ(write(), MMDR_FAILED);
  EXPECT_TRUE(fs::is_fifo(file_));
  ExpectLogged(debug.Lines(), "is no regular file");
}

TEST_F(SettingsFiles, AWriterThatMayNotWriteTheFolderOrReadTheFileLeavesTheFile) {
  KESTREL_SKIP_UNDER_USER_EMULATION("forks a writer without root's privileges");
  const std::string mine = "# mine\nsrcWCamId=old\n";
  Put(file_, mine);
  const auto write = [] { return Mmdr_SetPrefDev(handle, MMDR_DEVICE_VIDEO, "new", "New"); };
  fs::permissions(folder_, fs::perms(0555));
  EXPECT_EQ(InChild(write), MMDR_FAILED);
  EXPECT_EQ(Slurp(file_), mine);
  // A file that is there but cannot be read (by the child, which may write the folder and
  // the lock file) is never replaced.
  fs::permissions(folder_, fs::perms(0777));
  fs::permissions(file_, fs::perms::none);
  Put(folder_ / "kestrel.conf.lock", "");
  fs::permissions(folder_ / "kestrel.conf.lock", fs::perms(0666));
  EXPECT_EQ(InChild(write), MMDR_FAILED);
  EXPECT_EQ(Slurp(file_), mine);
  EXPECT_EQ(Entries(), 2);
}

TEST_F(SettingsFiles, WritersInSeveralProcessesNeitherTearAPairNorLoseAWrite) {
  KESTREL_SKIP_UNDER_USER_EMULATION("forks writer processes");
  Put(file_, "# mine\nsrcWCamId=id0-0\nsrcWCamName=name0-0\nsrcAudioInOption=0\n");
  const std::regex whole(
      "# mine\nsrcWCamId=id(\\d+-\\d+)\nsrcWCamName=name\\1\nsrcAudioInOption=\\d+\n");
  constexpr std::uint32_t kWriters = 3, kWrites = 50;
  for (std::uint32_t k = 0; k < kWriters; ++k) {
    if (fork() != 0) continue;
    bool ok = true;
    for (std::uint32_t i = 1; i <= kWrites && ok; ++i) {
      const std::string n = std::to_string(k) + "-" + std::to_string(i);
      ok = Mmdr_SetPrefDev(handle, MMDR_DEVICE_VIDEO, ("id" + n).c_str(), ("name" + n).c_str()) ==
           MMDR_OK;
      // Writer 0 alone sets the option: a write made from a stale read would take it back.
      if (k == 0)
        ok = ok && UserPrefsUtil::GetAudioInOption() == i - 1 &&
             Mmdr_SetAudioInSelectOption(handle, i) == MMDR_OK;
    }
    _exit(ok ? 0 : 1);
  }
  int torn = 0;
  for (std::uint32_t exited = 0; exited < kWriters;) {
    torn += !std::regex_match(Slurp(file_), whole);
    int status = 0;
    if (waitpid(-1, &status, WNOHANG) <= 0) continue;
    ++exited;
    EXPECT_EQ(status, 0);
  }
  EXPECT_EQ(torn, 0);
  EXPECT_TRUE(std::regex_match(Slurp(file_), whole));
  EXPECT_EQ(UserPrefsUtil::GetAudioInOption(), kWrites);
}

}  // namespace
}  // namespace kestrel_test
