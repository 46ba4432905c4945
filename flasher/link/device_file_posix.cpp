// Device files on POSIX: a serial port, a pty or a FIFO, with every wait bounded by poll().
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "link/device_file.h"

namespace brenvik {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : int(left);
}

class PosixDeviceFile : public DeviceFile {
 public:
  explicit PosixDeviceFile(int fd) : fd_(fd) {}
  ~PosixDeviceFile() override { Close(); }

  IoResult Read(uint8_t* data, size_t size, std::chrono::milliseconds timeout) override {
    if (fd_ < 0) return {IoStatus::kError, 0};
    const auto deadline = Clock::now() + timeout;
    size_t got = 0;
    // Try first and wait only when nothing is there: one system call per packet when the
    // peer keeps up.
    while (got < size) {
      ssize_t n = ::read(fd_, data + got, size - got);
      if (n > 0) {
        got += size_t(n);
        continue;
      }
      if (n == 0) return {IoStatus::kOk, got};  // the peer closed the link
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return {IoStatus::kError, got};
      const IoStatus waited = Wait(POLLIN, deadline);
      if (waited != IoStatus::kOk) return {waited, got};
    }
    return {IoStatus::kOk, got};
  }

  IoResult Write(const uint8_t* data, size_t size, std::chrono::milliseconds timeout) override {
    if (fd_ < 0) return {IoStatus::kError, 0};
    if (size == 0) return {::write(fd_, data, 0) == 0 ? IoStatus::kOk : IoStatus::kError, 0};
    const auto deadline = Clock::now() + timeout;
    size_t put = 0;
    while (put < size) {
      ssize_t n = ::write(fd_, data + put, size - put);
      if (n > 0) {
        put += size_t(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) return {IoStatus::kError, put};
      const IoStatus waited = Wait(POLLOUT, deadline);
      if (waited != IoStatus::kOk) return {waited, put};
    }
    return {IoStatus::kOk, put};
  }

  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  IoStatus Wait(short events, Clock::time_point deadline) {
    if (fd_ < 0) return IoStatus::kError;
    for (;;) {
      pollfd p{fd_, events, 0};
      int r = ::poll(&p, 1, RemainingMs(deadline));
      if (r > 0) {
        if (p.revents & events) return IoStatus::kOk;
        return IoStatus::kError;  // hang-up or error without data
      }
      if (r == 0) return IoStatus::kTimeout;
      if (errno != EINTR) return IoStatus::kError;
    }
  }

  int fd_;
};

}  // namespace

std::unique_ptr<DeviceFile> OpenDevicePath(const std::string& path, std::string& error) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open " + path + ": " + ::strerror(errno);
    return nullptr;
  }
  // A serial line or pty must pass all 256 byte values untouched.
  termios tio{};
  if (::isatty(fd) && ::tcgetattr(fd, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
  }
  return std::make_unique<PosixDeviceFile>(fd);
}

}  // namespace brenvik
