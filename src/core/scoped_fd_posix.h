// ScopedFd owns one open file descriptor and closes it on every way out. Reset() closes
// what is held (and may take a new descriptor) and leaves errno as it was, so a failure's
// code survives the clean-up; Close() closes now and reports close()'s own result, for a
// written file whose last error may only show there. It closes with close(2), or with
// the close of the stand-in open that gave the descriptor (a test's system-call table).
// Movable, not copyable.
#pragma once

#include <unistd.h>

#include <cerrno>

class ScopedFd {
 public:
  using CloseFunction = int (*)(int);

  ScopedFd() = default;
  explicit ScopedFd(int fd, CloseFunction close = &::close) noexcept : fd_(fd), close_(close) {}
  ~ScopedFd() { Reset(); }
  ScopedFd(ScopedFd&& other) noexcept : fd_(other.Take()), close_(other.close_) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    if (this != &other) {
      Reset(other.Take());
      close_ = other.close_;
    }
    return *this;
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  [[nodiscard]] int Take() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1) noexcept {
    if (fd_ >= 0) {
      const int error = errno;
      close_(fd_);
      errno = error;
    }
    fd_ = fd;
  }
  // Not retried on EINTR: on Linux the descriptor is gone whatever close() returns.
  bool Close() noexcept { return fd_ < 0 || close_(Take()) == 0; }
  int get() const noexcept { return fd_; }
  explicit operator bool() const noexcept { return fd_ >= 0; }

 private:
  int fd_ = -1;
  CloseFunction close_ = &::close;
};
