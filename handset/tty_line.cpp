#include "tty_line.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace brenvik::handset {
namespace {

// How long the last reply may take to leave the device before it is closed. A host that
// stopped reading must not hold the handset up for the kernel's own closing wait.
constexpr std::chrono::milliseconds kDrainBound{2000};

std::string Failure(const std::string& what) { return what + ": " + ::strerror(errno); }

}  // namespace

TtyLine::~TtyLine() { Close(); }

TtyLine::OpenResult TtyLine::Open(const std::string& path, std::string& error) {
  // Opening some character devices acts on them (a watchdog, a tape): look before opening.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    error = Failure("cannot serve " + path);
    return OpenResult::kNotTerminal;
  }
  if (!S_ISCHR(st.st_mode)) {
    error = path + " is not a terminal (not a character device); not serving it";
    return OpenResult::kNotTerminal;
  }
  // No controlling terminal: a hang-up from the far side must end the session, not us.
  // Non-blocking: a serial port without carrier would block the open forever.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = Failure("cannot open " + path);
    return errno == EBUSY ? OpenResult::kFailed : OpenResult::kNotTerminal;
  }
  if (!::isatty(fd)) {
    ::close(fd);
    error = path + " is not a terminal; not serving it";
    return OpenResult::kNotTerminal;
  }
  if (!Take(path, fd, error)) return OpenResult::kFailed;
  if (::tcgetattr(fd_, &saved_) != 0) {
    error = Failure("cannot read the settings of " + path);
    Close();
    return OpenResult::kFailed;
  }
  haveSaved_ = true;
  if (!MakeRaw(error)) {
    Close();
    return OpenResult::kFailed;
  }
  return OpenResult::kOk;
}

bool TtyLine::Take(const std::string& path, int fd, std::string& error) {
  // TIOCEXCL keeps others out, but not root: the advisory lock tells a second handset-sim.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = path + " is in use by another handset-sim";
    ::close(fd);
    return false;
  }
  if (::ioctl(fd, TIOCEXCL) != 0) {
    error = Failure("cannot take " + path);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  path_ = path;
  return true;
}

bool TtyLine::MakeRaw(std::string& error) {
  // Binary-clean both ways; CLOCAL because a three-wire cable carries no carrier.
  termios raw{};
  if (::tcgetattr(fd_, &raw) != 0) {
    error = Failure("cannot read the settings of " + path_);
    return false;
  }
  ::cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (::tcsetattr(fd_, TCSANOW, &raw) != 0) {
    error = Failure("cannot put " + path_ + " in raw mode");
    return false;
  }
  // Whatever a former session left unread is not from this PC.
  ::tcflush(fd_, TCIFLUSH);
  return true;
}

bool TtyLine::Reopen(std::string& error) {
  if (fd_ >= 0) ::close(fd_);  // hung up: nothing to drain, no settings to take
  fd_ = -1;
  const int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = Failure("cannot open " + path_ + " again");
    return false;
  }
  const std::string path = path_;
  if (!Take(path, fd, error)) return false;
  if (!MakeRaw(error)) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

void TtyLine::DrainBriefly() {
  const auto deadline = std::chrono::steady_clock::now() + kDrainBound;
  int queued = 0;
  while (::ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void TtyLine::RestoreSettings() {
  if (!haveSaved_) return;
  haveSaved_ = false;
  if (::tcsetattr(fd_, TCSANOW, &saved_) == 0) return;
  // A hung-up descriptor takes no settings, but the device keeps ours for its next user:
  // a fresh descriptor still can restore them, where the device is still there.
  const int again = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (again < 0) return;
  if (::isatty(again)) ::tcsetattr(again, TCSANOW, &saved_);
  ::close(again);
}

void TtyLine::Close() {
  if (fd_ < 0) return;
  DrainBriefly();
  ::ioctl(fd_, TIOCNXCL);
  RestoreSettings();
  ::close(fd_);
  fd_ = -1;
}

}  // namespace brenvik::handset
