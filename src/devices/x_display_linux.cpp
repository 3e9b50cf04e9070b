// An X display reached as libxcb reaches it: a local display (no host, or "unix") through
// the abstract socket "\0/tmp/.X11-unix/X<n>", else the socket file of that name, else
// (without a protocol) TCP to localhost; a host's display through TCP port 6000 + n. The
// connection carries the cookie libxcb would send: a display forwarded over SSH that gets
// none rejects it, and the SSH client tells its user so on the terminal.
#include "devices/x_display_linux.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/scoped_fd_posix.h"
#include "core/time_left.h"
#include "devices/x_authority.h"

namespace XDisplay {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kSocketBase[] = "/tmp/.X11-unix/X";
constexpr unsigned kTcpPortBase = 6000;

constexpr std::size_t kLargestAuthorityFile = 1 << 20;

// The authority file libxcb reads: XAUTHORITY, else ~/.Xauthority; empty when there is none.
std::string AuthorityFile() {
  const char* named = std::getenv("XAUTHORITY");  // NOLINT(concurrency-mt-unsafe): read only
  const char* home = std::getenv("HOME");         // NOLINT(concurrency-mt-unsafe): read only
  std::string path;
  if (named != nullptr && *named != '\0') {
    path = named;
  } else if (home != nullptr && *home != '\0') {
    path = std::string(home) + "/.Xauthority";
  } else {
    return {};
  }
  const ScopedFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  std::string text;
  char block[4096];
  ssize_t got = 0;
  while (fd && text.size() <= kLargestAuthorityFile &&
         ((got = read(fd.get(), block, sizeof block)) > 0 || (got < 0 && errno == EINTR))) {
    if (got > 0) text.append(block, static_cast<std::size_t>(got));
  }
  return got == 0 ? text : std::string();
}

// This machine, as the authority file names a local display.
Peer LocalPeer(int number) {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  return {kFamilyLocal, host, std::to_string(number)};
}

// A TCP peer: the loopback addresses are this machine, as for libxcb.
Peer TcpPeer(const sockaddr* address, int number) {
  std::string bytes;
  unsigned family = kFamilyInternet;
  if (address->sa_family == AF_INET6) {
    const auto& ip6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    if (IN6_IS_ADDR_LOOPBACK(&ip6)) return LocalPeer(number);
    const char* raw = reinterpret_cast<const char*>(&ip6);
    const bool mapped = IN6_IS_ADDR_V4MAPPED(&ip6);
    bytes.assign(raw + (mapped ? 12 : 0), mapped ? 4 : 16);
    family = mapped ? kFamilyInternet : kFamilyInternet6;
  } else {
    bytes.assign(
        reinterpret_cast<const char*>(&reinterpret_cast<const sockaddr_in*>(address)->sin_addr), 4);
  }
  if (family == kFamilyInternet && static_cast<unsigned char>(bytes[0]) == 127) {
    return LocalPeer(number);
  }
  return {family, bytes, std::to_string(number)};
}

// What opens an X connection: byte order 'B', protocol 11.0, and the cookie's name and
// data, each padded to four bytes.
std::string SetupFor(const Peer& peer) {
  const std::string file = AuthorityFile();
  const std::string_view cookie = CookieFor(file, peer);
  const std::string_view name = cookie.empty() ? std::string_view() : kCookieName;
  std::string setup = {'B', 0, 0, 11, 0, 0};
  for (const std::size_t size : {name.size(), cookie.size()}) {
    setup.push_back(static_cast<char>(size >> 8));
    setup.push_back(static_cast<char>(size & 0xFF));
  }
  setup.append(2, '\0');
  for (const std::string_view part : {name, cookie}) {
    setup.append(part);
    setup.append((4 - part.size() % 4) % 4, '\0');
  }
  return setup;
}

enum class Outcome {
  kFailed,   // no connection, errno says why: libxcb tries the next way or gives up at once
  kEnded,    // connected, and the exchange ended in time (an answer, a close, an error)
  kWaiting,  // still connecting, or silent, at the deadline
};

// False when nothing happened on fd by the deadline (an error of poll counts as an event:
// the step after it fails at once).
bool Ready(int fd, short events, Clock::time_point deadline) {
  pollfd entry{fd, events, 0};
  for (;;) {
    const int count = poll(&entry, 1, TimeLeft<std::chrono::milliseconds>(deadline));
    if (count >= 0 || errno != EINTR) return count != 0;
  }
}

// One connection as libxcb makes it, with nothing that blocks: connect, send what opens an
// X connection (SetupFor) and wait for the first byte of the reply.
Outcome Connect(const sockaddr* address, socklen_t length, const Peer& peer,
                Clock::time_point deadline) {
  ScopedFd fd(socket(address->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) return Outcome::kFailed;
  if (connect(fd.get(), address, length) != 0) {
    // A local socket whose queue is full: libxcb's blocking connect waits for room.
    if (errno == EAGAIN) return Outcome::kWaiting;
    if (errno != EINPROGRESS) return Outcome::kFailed;
    if (!Ready(fd.get(), POLLOUT, deadline)) return Outcome::kWaiting;
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) return Outcome::kFailed;
    if (error != 0) {
      errno = error;
      return Outcome::kFailed;
    }
  }
  const std::string setup = SetupFor(peer);
  if (send(fd.get(), setup.data(), setup.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(setup.size())) {
    return Outcome::kEnded;
  }
  return Ready(fd.get(), POLLIN, deadline) ? Outcome::kEnded : Outcome::kWaiting;
}

// The socket file, or with abstract its name in the abstract namespace (a NUL, then the
// file's name, and nothing after it counts).
Outcome ConnectLocal(const std::string& file, bool abstract, int number,
                     Clock::time_point deadline) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  file.copy(address.sun_path + (abstract ? 1 : 0), sizeof address.sun_path - 2);
  const auto length = static_cast<socklen_t>(
      abstract ? offsetof(sockaddr_un, sun_path) + 1 + file.size() : sizeof address);
  return Connect(reinterpret_cast<const sockaddr*>(&address), length, LocalPeer(number), deadline);
}

bool TcpAnswersBy(std::string host, int number, Clock::time_point deadline) {
  const auto port = static_cast<unsigned short>(kTcpPortBase + static_cast<unsigned>(number));
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICSERV;
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  if (host.empty()) host = "localhost";
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {  // an IPv6 address
    host = host.substr(1, host.size() - 2);
    hints.ai_flags |= AI_NUMERICHOST;
    hints.ai_family = AF_INET6;
  }
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return true;
  const std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(found, &freeaddrinfo);
  for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
    const Outcome outcome =
        Connect(address->ai_addr, address->ai_addrlen, TcpPeer(address->ai_addr, number), deadline);
    if (outcome != Outcome::kFailed) return outcome == Outcome::kEnded;
  }
  return true;
}

}  // namespace

bool AnswersBy(const char* display, Clock::time_point deadline) {
  const std::optional<DisplayName> parsed = ParseDisplayName(display);
  if (!parsed) return true;  // not a display's name
  const bool hasProtocol = parsed->hasProtocol;
  const std::string& protocol = parsed->protocol;
  const std::string& host = parsed->host;
  const int number = parsed->number;
  const bool unixProtocol = hasProtocol && protocol == "unix";
  if (!unixProtocol && !host.empty() && host != "unix") {
    const bool tcp = !hasProtocol || protocol == "tcp" || protocol == "inet" || protocol == "inet6";
    return !tcp || TcpAnswersBy(host, number, deadline);
  }
  if (hasProtocol && !unixProtocol) return true;  // libxcb tries no socket
  const std::string file = kSocketBase + std::to_string(number);
  Outcome outcome = ConnectLocal(file, true, number, deadline);
  if (outcome == Outcome::kFailed && errno != ENOENT && errno != ECONNREFUSED) return true;
  if (outcome == Outcome::kFailed) outcome = ConnectLocal(file, false, number, deadline);
  if (outcome != Outcome::kFailed) return outcome == Outcome::kEnded;
  return hasProtocol || !host.empty() || TcpAnswersBy(host, number, deadline);
}

}  // namespace XDisplay
