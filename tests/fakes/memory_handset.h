// A handset in memory: handset-sim's strict session behind a DeviceFile. It answers as the
// emulator does, stops taking bytes after a protocol error (as a real device stops reading),
// and holds every data unit that arrives against the units the test expects.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "link/device_file.h"
#include "session.h"

namespace brenvik::testing {

// One piece of payload the handset should receive, in order: a block, the boot area or a
// record. `data` points into the test's own copy of the image.
struct ExpectedUnit {
  handset::UnitKind kind = handset::UnitKind::kBlock;
  uint32_t address = 0;
  const uint8_t* data = nullptr;
  uint32_t length = 0;
};

// What a single device operation carried, as the handset saw it coming.
enum class OpRole {
  kAckRead,         // the upgrade acknowledgement
  kReadyRead,       // a ready packet pacing a block
  kKindPacket,
  kBlockHeader,
  kDataHeader,
  kImageBytes,      // a piece of a block, the boot area or a record
  kTransferEnd,
  kDownloadEnd,     // the procedure's own end command
  kSecondEnd,       // the end command the run repeats after its final message
  kDrain,           // the wait until the device has taken every byte
  kUnexpected,      // anything after the handset has finished
};
const char* OpRoleName(OpRole role);

class MemoryHandset : public DeviceFile, private handset::SessionSink {
 public:
  MemoryHandset(bool autoUpgrade, std::vector<ExpectedUnit> expected);

  // With no answer pending the PC waits in vain: a time-out, at once.
  IoResult Read(uint8_t* data, size_t size, std::chrono::milliseconds timeout) override;
  IoResult Write(const uint8_t* data, size_t size, std::chrono::milliseconds timeout) override;
  void Close() override { closed_ = true; }

  // What the next read or write would be taken as.
  OpRole NextReadRole() const;
  OpRole NextWriteRole(const uint8_t* data, size_t size) const;
  // Drops the answer the PC was about to read, as if it never came.
  void LoseReply();

  // Every expected unit arrived whole and equal to the image, and nothing else did.
  bool AllUnitsArrived() const { return !mismatch_ && unitsDone_ == expected_.size(); }
  const handset::Session& Session() const { return session_; }

 private:
  void OnReply(const handset::Reply& reply) override;
  void OnUnitBegin(const handset::DataUnit& unit) override;
  void OnUnitData(const handset::DataUnit& unit, const uint8_t* data, size_t size) override;
  void OnUnitEnd(const handset::DataUnit& unit) override;

  std::vector<ExpectedUnit> expected_;
  handset::Session session_;
  std::deque<InPacket> replies_;
  size_t unitsBegun_ = 0, unitsDone_ = 0;
  uint32_t unitAt_ = 0;  // bytes of the current unit received
  bool mismatch_ = false;
  bool closed_ = false;
};

}  // namespace brenvik::testing
