// Loads libkestrelCliLib.so.2 with dlopen and looks its exports up by name.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <string>

#include "library.h"

namespace mmdrctl {
namespace {

// From the build: the library's soname, and for an installed mmdrctl the library's
// folders relative to the program's, in the order tried (../lib, then Debian's
// ../lib/<multiarch>).
constexpr char kLibraryFile[] = MMDRCTL_LIBRARY_FILE;
constexpr const char* kInstalledLibraryFolders[] = {MMDRCTL_INSTALLED_LIBRARY_FOLDERS};

// The folder of this program with a trailing slash, or empty when the system does not
// say (then the library is looked for under the current folder).
std::string ProgramFolder() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < path.size()) {
      path.resize(static_cast<std::size_t>(length));
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.rfind('/') + 1);
}

// The library that belongs to this program: beside it in the build tree, else where an
// installed layout puts it (when none holds it, the first, which the error then names).
std::string DefaultPath() {
  const std::string folder = ProgramFolder();
  std::string beside = folder + kLibraryFile;
  struct stat status = {};
  if (stat(beside.c_str(), &status) == 0) return beside;
  for (const char* installed : kInstalledLibraryFolders) {
    std::string path = folder + installed + "/" + kLibraryFile;
    if (stat(path.c_str(), &status) == 0) return path;
  }
  return folder + kInstalledLibraryFolders[0] + "/" + kLibraryFile;
}

}  // namespace

void AskLibraryToLog(const std::string& level) {
  setenv("KESTREL_LOG", level.c_str(), 1);  // NOLINT(concurrency-mt-unsafe): one thread
}

std::optional<MmdrApi> LoadApi(const std::optional<std::string>& dllPath) {
  // dlopen searches the system's folders for a name without a slash: a relative path from
  // the command line is made to name a file under the current folder, as it was given.
  std::string path = dllPath ? *dllPath : DefaultPath();
  if (path.find('/') == std::string::npos) path.insert(0, "./");
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    // It names the file. NOLINTNEXTLINE(concurrency-mt-unsafe): mmdrctl has one thread
    const char* reason = dlerror();
    Error("cannot load %s", reason != nullptr ? reason : path.c_str());
    return std::nullopt;
  }
  return ResolveApi(path, [module](const char* name) { return dlsym(module, name); });
}

}  // namespace mmdrctl
