// A device file over a USB interface's two bulk endpoints. Each transfer is bounded and
// short, so that a stop request is seen as on a tty; a bulk read always asks for whole
// packets, and what it brings beyond the caller's request waits for the next Read.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "link/device_file.h"

namespace brenvik {

// One bulk transfer at a time on an interface the caller holds: libusb on Linux, a script
// in the tests.
class BulkPipe {
 public:
  virtual ~BulkPipe() = default;
  // One IN transfer of at most `size` bytes (whole packets), within `timeout` (> 0).
  virtual IoResult In(uint8_t* data, size_t size, std::chrono::milliseconds timeout) = 0;
  // One OUT transfer of `size` bytes (> 0), within `timeout` (> 0).
  virtual IoResult Out(const uint8_t* data, size_t size, std::chrono::milliseconds timeout) = 0;
  // Gives the interface back to the system.
  virtual void Close() = 0;
};

class BulkDeviceFile : public DeviceFile {
 public:
  // `readSize`: the bytes one IN transfer asks for, a multiple of the endpoint's packet size.
  BulkDeviceFile(std::unique_ptr<BulkPipe> pipe, size_t readSize);
  ~BulkDeviceFile() override;

  IoResult Read(uint8_t* data, size_t size, std::chrono::milliseconds timeout) override;
  IoResult Write(const uint8_t* data, size_t size, std::chrono::milliseconds timeout) override;
  // A bulk OUT transfer ends only when the device has taken its bytes: nothing is queued.
  IoResult Drain(std::chrono::milliseconds timeout) override;
  void Close() override;

 private:
  size_t TakeBuffered(uint8_t* data, size_t size);

  std::unique_ptr<BulkPipe> pipe_;
  std::vector<uint8_t> buffer_;
  size_t begin_ = 0;  // buffered bytes not yet read: buffer_[begin_, end_)
  size_t end_ = 0;
};

}  // namespace brenvik
