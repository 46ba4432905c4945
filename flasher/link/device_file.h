// The one channel to the handset: a device file with bounded reads and writes.
#pragma once

#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "link/node_kind.h"

namespace brenvik {

enum class IoStatus {
  kOk,       // `count` bytes moved (a read may be short when the peer closed the link)
  kTimeout,  // the bound passed first; `count` bytes moved before it
  kError,    // the device failed; `count` bytes moved before it, `systemError` says why
  kHangUp,   // the peer is gone: what was written may never have arrived
  kStopped,  // the user asked the program to stop (a signal) while it waited
};

struct IoResult {
  IoStatus status = IoStatus::kOk;
  size_t count = 0;
  int systemError = 0;  // errno or GetLastError() where the system gave one
  bool Complete(size_t wanted) const { return status == IoStatus::kOk && count == wanted; }
};

// The system's text for an error code of IoResult::systemError.
std::string SystemErrorText(int code);
// Whether that code is the system refusing access (EACCES or EPERM; ERROR_ACCESS_DENIED).
bool IsAccessDenied(int code);

enum class OpenStatus {
  kOpened,
  kCannotOpen,       // the system refused or found nothing (systemError)
  kNotHandset,       // not a handset's kind of device (what: kind)
  kBusy,             // another program holds the handset
  kClassQueryFailed, // the interface class could not be queried at all
  kNoHandset,        // no present interface of the class
  kNoClassSearch,    // this system has no class to search: a path must be named
  kPathUnreadable,   // an interface's path could not be read
  kStopped,          // a stop request came while the handset was being opened
};

struct OpenResult {
  OpenStatus status = OpenStatus::kOpened;
  std::string path;
  NodeKind kind = NodeKind::kUnknown;
  int systemError = 0;
  std::string usbNode;  // the USB device node a named tty was reached through, when that refused
  bool Ok() const { return status == OpenStatus::kOpened; }
};

class DeviceFile;
struct DeviceOpening {
  std::unique_ptr<DeviceFile> device;  // null unless result.Ok()
  OpenResult result;
};

// Not copyable; one owner closes it. Implementations: Win32 handle, POSIX fd, scripted fake.
class DeviceFile {
 public:
  DeviceFile() = default;
  DeviceFile(const DeviceFile&) = delete;
  DeviceFile& operator=(const DeviceFile&) = delete;
  virtual ~DeviceFile() = default;

  // Reads until `size` bytes arrived, the link ends, or `timeout` passed.
  virtual IoResult Read(uint8_t* data, size_t size, std::chrono::milliseconds timeout) = 0;
  // Writes `size` bytes unless the device fails or `timeout` passes first. A device may
  // take fewer (`kOk` with a smaller `count`): the caller treats that as a failed write.
  // A zero-length write is passed to the device as one call.
  virtual IoResult Write(const uint8_t* data, size_t size, std::chrono::milliseconds timeout) = 0;
  // Waits until the device has taken every byte written so far: a write only queues bytes
  // in the system, and success may be told only once the handset has them. In-memory
  // devices take every byte at once.
  virtual IoResult Drain(std::chrono::milliseconds) { return {}; }
  virtual void Close() = 0;

  // A flag that a signal handler sets: any wait then ends early with kStopped.
  void SetStopFlag(const volatile std::sig_atomic_t* stop) { stop_ = stop; }

 protected:
  bool StopRequested() const { return stop_ && *stop_ != 0; }

 private:
  const volatile std::sig_atomic_t* stop_ = nullptr;
};

// What bounds the opening of a handset that must be woken first (over USB on Linux): the
// run's timeout, and its stop flag.
struct OpenBounds {
  std::chrono::milliseconds timeout{60'000};
  const volatile std::sig_atomic_t* stop = nullptr;
};

// Opens a device that the user names: /dev/ttyUSB0, a pty, COM3, an interface path. Only a
// handset's kind of device is opened (a terminal on POSIX, a character device on Windows),
// and only by one program at a time.
DeviceOpening OpenDevicePath(const std::string& path, const OpenBounds& bounds = {});

}  // namespace brenvik
