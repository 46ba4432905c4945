// The one channel to the handset: a device file with bounded reads and writes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace brenvik {

enum class IoStatus {
  kOk,       // `count` bytes moved (a read may be short when the peer closed the link)
  kTimeout,  // the bound passed first; `count` bytes moved before it
  kError,    // the device failed or is gone; `count` bytes moved before it
};

struct IoResult {
  IoStatus status = IoStatus::kOk;
  size_t count = 0;
  bool Complete(size_t wanted) const { return status == IoStatus::kOk && count == wanted; }
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
  virtual void Close() = 0;
};

// Opens a device that the user names: /dev/ttyUSB0, a pty, COM3, \\.\pipe\x, an interface path.
// On failure returns nullptr and puts a readable reason in `error`.
std::unique_ptr<DeviceFile> OpenDevicePath(const std::string& path, std::string& error);

}  // namespace brenvik
