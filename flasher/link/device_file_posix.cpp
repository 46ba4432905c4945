// Device files on POSIX: a serial port or a pty, with every wait bounded by poll(); on
// Linux a handset of the ipaq driver over usbfs instead.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "link/device_file.h"
#include "link/node_kind_posix.h"
#include "link/write_deadline.h"
#ifdef BRENVIK_USB_DIRECT
#include "link/usb_direct.h"
#include "link/usb_place.h"
#endif

namespace brenvik {
namespace {

using Clock = std::chrono::steady_clock;

// How often a wait looks at the stop flag: a signal that lands just before poll() must not
// go unseen for the whole bound.
constexpr int kStopCheckMs = 100;
// A pty has no transfer that tcdrain() could wait for: the last bytes may still sit unread
// when it returns, and a peer that drops them then would go unseen. The peer is given this
// long to hang up before the run is told that every byte went over.
constexpr int kPtyHangUpGraceMs = 100;

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : int(left);
}

// Unix98 pty slaves have majors 136..143.
bool IsPtySlave(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

IoResult Failed(IoStatus status, size_t count, int error = 0) { return {status, count, error}; }

// EIO on a terminal is the other side gone.
IoResult FromErrno(size_t count) {
  const int e = errno;
  return e == EIO ? Failed(IoStatus::kHangUp, count, e) : Failed(IoStatus::kError, count, e);
}

class PosixDeviceFile : public DeviceFile {
 public:
  explicit PosixDeviceFile(int fd) : fd_(fd), pty_(IsPtySlave(fd)) {}
  ~PosixDeviceFile() override { Close(); }

  IoResult Read(uint8_t* data, size_t size, std::chrono::milliseconds timeout) override {
    if (fd_ < 0) return Failed(IoStatus::kError, 0, EBADF);
    const auto deadline = Clock::now() + timeout;
    size_t got = 0;
    // Try first and wait only when nothing is there: one system call per packet when the
    // peer keeps up.
    while (got < size) {
      if (StopRequested()) return Failed(IoStatus::kStopped, got);
      ssize_t n = ::read(fd_, data + got, size - got);
      if (n > 0) {
        got += size_t(n);
        continue;
      }
      if (n == 0) return {IoStatus::kOk, got};  // the peer closed the link
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return FromErrno(got);
      const IoResult waited = Wait(POLLIN, deadline);
      if (waited.status != IoStatus::kOk) return Failed(waited.status, got, waited.systemError);
    }
    return {IoStatus::kOk, got};
  }

  IoResult Write(const uint8_t* data, size_t size, std::chrono::milliseconds timeout) override {
    if (fd_ < 0) return Failed(IoStatus::kError, 0, EBADF);
    if (StopRequested()) return Failed(IoStatus::kStopped, 0);
    if (size == 0) return ::write(fd_, data, 0) == 0 ? IoResult{} : FromErrno(0);
    WriteDeadline deadline(Clock::now() + timeout);
    size_t put = 0;
    while (put < size) {
      if (StopRequested()) deadline.NoteStop();
      // Data comes straight from the image's mapping: a file cut short under the run gives
      // EFAULT here, never a signal.
      ssize_t n = ::write(fd_, data + put, size - put);
      if (n > 0) {
        put += size_t(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) return FromErrno(put);
      const IoResult waited = Wait(POLLOUT, deadline.At(), !deadline.StopSeen());
      if (waited.status == IoStatus::kStopped) continue;  // seen at the top of the loop
      if (waited.status != IoStatus::kOk)
        return Failed(deadline.StopSeen() && waited.status == IoStatus::kTimeout ? IoStatus::kStopped : waited.status,
                      put, waited.systemError);
    }
    return {IoStatus::kOk, put};
  }

  IoResult Drain(std::chrono::milliseconds timeout) override {
    if (fd_ < 0) return Failed(IoStatus::kError, 0, EBADF);
    const auto deadline = Clock::now() + timeout;
    // tcdrain() has no bound of its own: wait for the output queue to empty first, so that
    // it returns at once.
    for (int queued = 0; ::ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0;) {
      if (StopRequested()) return Failed(IoStatus::kStopped, 0);
      if (RemainingMs(deadline) == 0) return Failed(IoStatus::kTimeout, 0);
      ::usleep(2000);
    }
    if (::tcdrain(fd_) != 0 && errno != EINTR) return FromErrno(0);
    // Waiting for no event at all sees only a hang-up or an error; the grace passing is success.
    const int grace = pty_ ? std::min(kPtyHangUpGraceMs, RemainingMs(deadline)) : 0;
    const IoResult hup = Wait(0, Clock::now() + std::chrono::milliseconds(grace), false);
    return hup.status == IoStatus::kTimeout ? IoResult{} : hup;
  }

  void Close() override {
    if (fd_ < 0) return;
    ::ioctl(fd_, TIOCNXCL);  // the next program may open it again
    ::close(fd_);
    fd_ = -1;
  }

 private:
  IoResult Wait(short events, Clock::time_point deadline, bool stoppable = true) {
    for (;;) {
      if (stoppable && StopRequested()) return Failed(IoStatus::kStopped, 0);
      const int left = RemainingMs(deadline);
      pollfd p{fd_, events, 0};
      int r = ::poll(&p, 1, std::min(left, kStopCheckMs));
      if (r > 0) {
        if (p.revents & events) return {};
        if (p.revents & POLLHUP) return Failed(IoStatus::kHangUp, 0);
        return Failed(IoStatus::kError, 0, EIO);
      }
      if (r == 0 && left == 0) return Failed(IoStatus::kTimeout, 0);
      if (r < 0 && errno != EINTR) return Failed(IoStatus::kError, 0, errno);
    }
  }

  int fd_;
  bool pty_;
};

}  // namespace

std::string SystemErrorText(int code) { return ::strerror(code); }

bool IsAccessDenied(int code) { return code == EACCES || code == EPERM; }

DeviceOpening OpenDevicePath(const std::string& path, [[maybe_unused]] const OpenBounds& bounds) {
  DeviceOpening out;
  OpenResult& r = out.result;
  r.path = path;
  auto fail = [&](OpenStatus status, int fd = -1) {
    if (fd >= 0) ::close(fd);
    r.status = status;
    return std::move(out);
  };
  // Looked at before it is opened: opening a disk or a FIFO is itself a step too far.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    r.systemError = errno;
#ifdef BRENVIK_USB_DIRECT
    if (r.systemError == ENOENT && TtyTakenByFlasher(path)) return fail(OpenStatus::kBusy);
#endif
    return fail(OpenStatus::kCannotOpen);
  }
  r.kind = NodeKindOf(st.st_mode);
  if (!S_ISCHR(st.st_mode)) return fail(OpenStatus::kNotHandset);
#ifdef BRENVIK_USB_DIRECT
  // A handset of the ipaq driver is reached over USB itself, never through its tty, which
  // would echo what the handset says before the line could be made raw.
  if (const auto place = HandsetUsbPlace(major(st.st_rdev), minor(st.st_rdev))) {
    // A tty that another program holds stays its, as a held pty or serial port does.
    const bool named = major(st.st_rdev) == place->major && minor(st.st_rdev) == place->minor;  // the USB node itself
    if (!named && TtyHeldElsewhere(path)) return fail(OpenStatus::kBusy);
    return OpenUsbDirect(*place, path, bounds);
  }
#endif
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    r.systemError = errno;
    return fail(errno == EBUSY ? OpenStatus::kBusy : OpenStatus::kCannotOpen);
  }
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !::isatty(fd)) {
    r.kind = NodeKindOf(st.st_mode);
    return fail(OpenStatus::kNotHandset, fd);
  }
  // One flasher per handset: a second one would interleave its packets with ours. The
  // lock holds for root too, where TIOCEXCL does not.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(OpenStatus::kBusy, fd);
  ::ioctl(fd, TIOCEXCL);
  // A serial line or pty must pass all 256 byte values untouched.
  termios tio{};
  if (::tcgetattr(fd, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
  }
  out.device = std::make_unique<PosixDeviceFile>(fd);
  return out;
}

}  // namespace brenvik
