// An X display reached as libxcb reaches it: a local display (no host, or "unix") through
// the abstract socket "\0/tmp/.X11-unix/X<n>", else the socket file of that name, else
// (without a protocol) TCP to localhost; a host's display through TCP port 6000 + n.
#include "devices/x_display_linux.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "core/scoped_fd_posix.h"

namespace XDisplay {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kSocketBase[] = "/tmp/.X11-unix/X";
constexpr unsigned kTcpPortBase = 6000;

enum class Outcome {
  kFailed,   // no connection, errno says why: libxcb tries the next way or gives up at once
  kEnded,    // connected, and the exchange ended in time (an answer, a close, an error)
  kWaiting,  // still connecting, or silent, at the deadline
};

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// False when nothing happened on fd by the deadline (an error of poll counts as an event:
// the step after it fails at once).
bool Ready(int fd, short events, Clock::time_point deadline) {
  pollfd entry{fd, events, 0};
  for (;;) {
    const int count = poll(&entry, 1, MillisecondsLeft(deadline));
    if (count >= 0 || errno != EINTR) return count != 0;
  }
}

// One connection as libxcb makes it, with nothing that blocks: connect, send the 12 bytes
// that open an X connection (byte order 'B', protocol 11.0, no authorization) and wait for
// the first byte of the reply.
Outcome Connect(const sockaddr* address, socklen_t length, Clock::time_point deadline) {
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
  static constexpr unsigned char kSetup[12] = {'B', 0, 0, 11};
  if (send(fd.get(), kSetup, sizeof kSetup, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof kSetup)) {
    return Outcome::kEnded;
  }
  return Ready(fd.get(), POLLIN, deadline) ? Outcome::kEnded : Outcome::kWaiting;
}

// The socket file, or with abstract its name in the abstract namespace (a NUL, then the
// file's name, and nothing after it counts).
Outcome ConnectLocal(const std::string& file, bool abstract, Clock::time_point deadline) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  file.copy(address.sun_path + (abstract ? 1 : 0), sizeof address.sun_path - 2);
  const auto length = static_cast<socklen_t>(
      abstract ? offsetof(sockaddr_un, sun_path) + 1 + file.size() : sizeof address);
  return Connect(reinterpret_cast<const sockaddr*>(&address), length, deadline);
}

bool TcpAnswersBy(std::string host, unsigned short port, Clock::time_point deadline) {
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
    const Outcome outcome = Connect(address->ai_addr, address->ai_addrlen, deadline);
    if (outcome != Outcome::kFailed) return outcome == Outcome::kEnded;
  }
  return true;
}

}  // namespace

bool AnswersBy(const char* display, Clock::time_point deadline) {
  std::string_view name = display;
  const std::size_t slash = name.rfind('/');
  const bool hasProtocol = slash != std::string_view::npos;
  const std::string_view protocol = hasProtocol ? name.substr(0, slash) : std::string_view();
  if (hasProtocol) name.remove_prefix(slash + 1);
  const std::size_t colon = name.rfind(':');
  if (colon == std::string_view::npos) return true;  // not a display's name
  const std::string host(name.substr(0, colon));
  const std::string numbers(name.substr(colon + 1));
  char* end = nullptr;
  // libxcb's own reading (strtoul into an int), so that both reach the same display.
  const auto number = static_cast<int>(std::strtoul(numbers.c_str(), &end, 10));
  if (end == numbers.c_str()) return true;
  if (*end == '.') {  // a screen's number
    const char* screen = end + 1;
    static_cast<void>(std::strtoul(screen, &end, 10));
    if (end == screen) return true;
  }
  if (*end != '\0') return true;
  const auto port = static_cast<unsigned short>(kTcpPortBase + static_cast<unsigned>(number));
  const bool unixProtocol = hasProtocol && protocol == "unix";
  if (!unixProtocol && !host.empty() && host != "unix") {
    const bool tcp = !hasProtocol || protocol == "tcp" || protocol == "inet" || protocol == "inet6";
    return !tcp || TcpAnswersBy(host, port, deadline);
  }
  if (hasProtocol && !unixProtocol) return true;  // libxcb tries no socket
  const std::string file = kSocketBase + std::to_string(number);
  Outcome outcome = ConnectLocal(file, true, deadline);
  if (outcome == Outcome::kFailed && errno != ENOENT && errno != ECONNREFUSED) return true;
  if (outcome == Outcome::kFailed) outcome = ConnectLocal(file, false, deadline);
  if (outcome != Outcome::kFailed) return outcome == Outcome::kEnded;
  return hasProtocol || !host.empty() || TcpAnswersBy(host, port, deadline);
}

}  // namespace XDisplay
