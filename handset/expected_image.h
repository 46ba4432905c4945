// A reference image to hold what arrives against, as it arrives: the plain image for a
// block download; the boot area and the BIN records for a record download.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "download/bin_stream.h"
#include "download/image_view.h"
#include "session.h"

namespace brenvik::handset {

// Differences listed one by one; beyond this many they are only counted.
inline constexpr size_t kDifferenceListCap = 10;

// How one received record compares with the reference's record at the same place.
struct RecordVerdict {
  bool checksumOk = false;  // the reference's checksum field equals the received data's sum
  bool matches = false;     // address, length, data and checksum all agree
};

class ExpectedImage {
 public:
  // Maps the file; false with the reason in `error` when it cannot be read.
  bool Open(const std::string& path, std::string& error);

  // The procedure (and kind) says how the reference is laid out.
  void Begin(Transfer procedure, std::optional<int32_t> kind);
  void OnUnitBegin(const DataUnit& unit);
  void OnUnitData(const DataUnit& unit, const uint8_t* data, size_t size);
  RecordVerdict OnUnitEnd(const DataUnit& unit);  // meaningful for records

  // At the end of the session: notes what of the reference never arrived.
  void Finish();
  // Everything arrived and equals the reference (after Finish).
  bool Matches(bool complete) const;
  // The differences in words, in the order found, at most kDifferenceListCap (after Finish).
  const std::vector<std::string>& Differences() const { return differences_; }
  // How many differences were found beyond those listed.
  uint64_t Unlisted() const { return unlisted_; }
  // The first difference; empty when none was seen.
  std::string Difference() const { return differences_.empty() ? std::string() : differences_.front(); }

 private:
  // Differences of one sort side by side are told as one range: differing bytes of the
  // image, or records in a row that differ or have no counterpart in the reference.
  enum class RunKind { kBytes, kRecordsDiffer, kRecordsNotInReference };
  struct Run {
    RunKind kind;
    uint64_t first, last;
  };

  std::optional<BinRecord> NextExpectedRecord();
  void Differs(const std::string& what);
  void DiffersAt(RunKind kind, uint64_t at);
  void EndRun();
  void List(const std::string& what);
  void CompareBlockData(const uint8_t* data, size_t size);
  const uint8_t* Reference(uint64_t offset, size_t size);  // `size` bytes of it, or null
  bool CompareAt(uint64_t offset, const uint8_t* data, size_t size);

  ImageView view_;
  Transfer procedure_ = Transfer::kUnknown;
  std::optional<int32_t> kind_;
  uint64_t blockOffset_ = 0;  // where the next block byte stands in the reference
  uint64_t bootOffset_ = 0;
  std::optional<BinRecordWalker> walker_;
  std::optional<BinRecord> current_;  // the reference's record for the one arriving
  uint32_t currentIndex_ = 0;         // of the record arriving
  uint64_t currentAt_ = 0;            // bytes of it compared so far
  uint64_t recordsTaken_ = 0;         // of the reference, each held against one that arrived
  bool currentDataEqual_ = true;
  bool recordsExhausted_ = false;     // the reference's end record was reached
  bool bootDiffers_ = false;
  bool unreadable_ = false;           // the reference could not be read where it should be
  std::vector<uint8_t> scratch_;      // the piece of the reference being compared
  std::optional<Run> run_;            // the range still growing, not yet listed
  std::vector<std::string> differences_;
  uint64_t unlisted_ = 0;
};

}  // namespace brenvik::handset
