// What one operation of the link came to: done, or how the device failed it.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>

#include "link/device_file.h"
#include "link/packets.h"

namespace brenvik {

struct LinkResult {
  IoStatus status = IoStatus::kOk;
  size_t moved = 0;     // bytes that went over
  size_t wanted = 0;    // bytes the operation was to move
  int systemError = 0;  // the system's error code, where it gave one
  std::chrono::milliseconds bound{0};  // the wait's bound, for a time-out
  std::optional<InPacket> wrongPacket;  // an in-packet of other bytes came

  bool Ok() const { return status == IoStatus::kOk && moved == wanted && !wrongPacket; }
  explicit operator bool() const { return Ok(); }
};

}  // namespace brenvik
