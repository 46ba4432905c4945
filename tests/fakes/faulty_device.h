// A device that fails one chosen operation in one chosen way, in front of a memory handset.
// It numbers every read and write, notes what each carried, and watches that every byte
// written from near the image view lies inside it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "fakes/memory_handset.h"

namespace brenvik::testing {

enum class FaultMode {
  kNone,
  kError,        // the device fails the call: nothing moves
  kShortWrite,   // the device takes half of the bytes
  kShortRead,    // half a packet arrives, then the link ends
  kReadTimeout,  // the answer never comes within the bound
  kWrongReady,   // a packet of the wrong bytes arrives
};
const char* FaultModeName(FaultMode mode);
// Whether a mode can strike a read or a write of `size` bytes.
bool FaultApplies(FaultMode mode, bool write, size_t size);

struct Fault {
  FaultMode mode = FaultMode::kNone;
  size_t op = 0;  // 0-based number of the operation to fail
};

// Where the image view lies; a window either side of it counts as "outside the image".
struct ViewBounds {
  const uint8_t* begin = nullptr;
  size_t size = 0;
  size_t window = 1 << 20;
  bool Outside(const uint8_t* p, size_t n) const;
};

struct OpRecord {
  bool write = false;
  size_t size = 0;
  OpRole role = OpRole::kUnexpected;
};

class FaultyDevice : public DeviceFile {
 public:
  // More than `opBudget` operations means the run does not stop: they fail from then on.
  FaultyDevice(std::unique_ptr<MemoryHandset> handset, Fault fault, size_t opBudget, ViewBounds view,
               std::chrono::milliseconds bound);

  IoResult Read(uint8_t* data, size_t size, std::chrono::milliseconds timeout) override;
  IoResult Write(const uint8_t* data, size_t size, std::chrono::milliseconds timeout) override;
  // Numbered like an empty write, so that only an error strikes it: the link hung up.
  IoResult Drain(std::chrono::milliseconds timeout) override;
  void Close() override { handset_->Close(); }

  const std::vector<OpRecord>& Ops() const { return ops_; }
  // The role of the operation that was failed; nothing when no operation k came.
  std::optional<OpRole> FaultedRole() const { return faulted_; }
  size_t OutsideWrites() const { return outside_; }
  bool Runaway() const { return ops_.size() > budget_; }
  bool UnboundedWait() const { return unbounded_; }
  const MemoryHandset& Handset() const { return *handset_; }

 private:
  bool Strikes(bool write, size_t size);
  void Note(std::chrono::milliseconds timeout);

  std::unique_ptr<MemoryHandset> handset_;
  Fault fault_;
  size_t budget_;
  ViewBounds view_;
  std::chrono::milliseconds bound_;
  std::vector<OpRecord> ops_;
  std::optional<OpRole> faulted_;
  size_t outside_ = 0;
  bool unbounded_ = false;
};

}  // namespace brenvik::testing
