#include "expected_image.h"

#include <algorithm>
#include <cstring>

#include "link/protocol.h"
#include "run/outcome_text.h"

namespace brenvik::handset {
namespace {

// Differing bytes at most this many equal bytes apart belong to one range: a corrupted
// area rarely differs in every byte, and it should read as one area, not a dozen.
constexpr uint64_t kEqualBytesWithinRange = 32;

std::string Range(uint64_t first, uint64_t last) {
  return first == last ? std::to_string(first) : std::to_string(first) + ".." + std::to_string(last);
}

}  // namespace
bool ExpectedImage::Open(const std::string& path, std::string& error) {
  const MapResult mapped = MapImageFile(view_, path);
  if (view_.Mapped()) return true;
  const std::string why = DescribeMapping(mapped, path);
  error = "cannot read the reference image " + path + ": " + (why.empty() ? "empty or not mappable" : why);
  return false;
}

void ExpectedImage::List(const std::string& what) {
  if (differences_.size() < kDifferenceListCap)
    differences_.push_back(what);
  else
    ++unlisted_;
}

void ExpectedImage::Differs(const std::string& what) {
  EndRun();
  List(what);
}

void ExpectedImage::DiffersAt(RunKind kind, uint64_t at) {
  const uint64_t reach = kind == RunKind::kBytes ? kEqualBytesWithinRange + 1 : 1;
  if (run_ && run_->kind == kind && at <= run_->last + reach) {
    run_->last = at;
    return;
  }
  EndRun();
  run_ = Run{kind, at, at};
}

void ExpectedImage::EndRun() {
  if (!run_) return;
  const Run r = *run_;
  run_.reset();
  const bool one = r.first == r.last;
  switch (r.kind) {
    case RunKind::kBytes:
      return List(std::string(one ? "byte " : "bytes ") + Range(r.first, r.last) +
                  (one ? " differs" : " differ") + " from the reference");
    case RunKind::kRecordsDiffer:
      return List(std::string(one ? "record " : "records ") + Range(r.first, r.last) +
                  (one ? " differs" : " differ") + " from the reference");
    case RunKind::kRecordsNotInReference:
      return List(std::string(one ? "record " : "records ") + Range(r.first, r.last) +
                  (one ? " is" : " are") + " not in the reference");
  }
}

// The reference is read from the file, not the mapping: one cut short during the session
// is a difference, where a read of the mapping would end the process with a signal.
const uint8_t* ExpectedImage::Reference(uint64_t offset, size_t size) {
  if (offset > view_.Size() || size > view_.Size() - offset) return nullptr;
  scratch_.resize(size);
  if (view_.ReadAt(offset, scratch_.data(), size)) return scratch_.data();
  if (!unreadable_) {
    unreadable_ = true;
    Differs("the reference image changed or was cut short during the session");
  }
  return nullptr;
}

bool ExpectedImage::CompareAt(uint64_t offset, const uint8_t* data, size_t size) {
  const uint8_t* reference = Reference(offset, size);
  return reference && std::memcmp(reference, data, size) == 0;
}

void ExpectedImage::Begin(Transfer procedure, std::optional<int32_t> kind) {
  procedure_ = procedure;
  kind_ = kind;
  if (procedure != Transfer::kRecords || !view_.Mapped()) return;
  if (*kind == KIND_RAW) return;
  const size_t first = *kind == KIND_IMG ? BOOT_AREA_SIZE + BIN_STREAM_HEADER_SIZE : BIN_STREAM_HEADER_SIZE;
  walker_.emplace([this](uint64_t at, uint8_t* out, size_t n) { return view_.ReadAt(at, out, n); }, view_.Size(),
                  first);
}

std::optional<BinRecord> ExpectedImage::NextExpectedRecord() {
  if (!walker_ || recordsExhausted_) return std::nullopt;
  while (auto r = walker_->Next()) {
    if (r->IsEnd()) break;
    if (r->length != 0) return r;  // empty records never go on the wire
  }
  recordsExhausted_ = true;
  if (walker_->Problem() != BinProblem::kNone)
    Differs(std::string("the reference's record stream is broken: ") + DescribeBinProblem(walker_->Problem()));
  return std::nullopt;
}

void ExpectedImage::OnUnitBegin(const DataUnit& unit) {
  if (!view_.Mapped() || unit.kind != UnitKind::kRecord) return;
  current_ = NextExpectedRecord();
  currentIndex_ = unit.index;
  currentAt_ = 0;
  currentDataEqual_ = true;
  if (current_)
    ++recordsTaken_;
  else
    DiffersAt(RunKind::kRecordsNotInReference, unit.index);
}

// Byte by byte only where the piece differs: a matching image costs one memcmp a piece.
void ExpectedImage::CompareBlockData(const uint8_t* data, size_t size) {
  const uint64_t inReference = blockOffset_ < view_.Size() ? std::min<uint64_t>(size, view_.Size() - blockOffset_) : 0;
  if (inReference == 0) return;
  const uint8_t* reference = Reference(blockOffset_, size_t(inReference));
  if (!reference || std::memcmp(reference, data, inReference) == 0) return;
  for (uint64_t i = 0; i < inReference; ++i)
    if (reference[i] != data[i]) DiffersAt(RunKind::kBytes, blockOffset_ + i);
}

void ExpectedImage::OnUnitData(const DataUnit& unit, const uint8_t* data, size_t size) {
  if (!view_.Mapped()) return;
  switch (unit.kind) {
    case UnitKind::kBlock:
      CompareBlockData(data, size);
      blockOffset_ += size;
      return;
    case UnitKind::kBoot:
      if (!bootDiffers_ && !CompareAt(bootOffset_, data, size)) {
        bootDiffers_ = true;
        Differs("the boot area differs from the reference");
      }
      bootOffset_ += size;
      return;
    case UnitKind::kRecord:
      if (!current_) return;
      if (currentAt_ + size > current_->length || !CompareAt(current_->dataOffset + currentAt_, data, size))
        currentDataEqual_ = false;
      currentAt_ += size;
      return;
  }
}

RecordVerdict ExpectedImage::OnUnitEnd(const DataUnit& unit) {
  if (unit.kind != UnitKind::kRecord || !current_) return {};
  RecordVerdict v;
  v.checksumOk = current_->checksum == unit.sum;
  v.matches = v.checksumOk && currentDataEqual_ && current_->address == unit.address &&
              current_->length == unit.length;
  if (!v.matches) DiffersAt(RunKind::kRecordsDiffer, unit.index);
  current_.reset();
  return v;
}

void ExpectedImage::Finish() {
  if (!view_.Mapped()) return;
  EndRun();
  if (procedure_ == Transfer::kBlocks && blockOffset_ < view_.Size())
    Differs("only " + std::to_string(blockOffset_) + " of the reference's " + std::to_string(view_.Size()) +
            " bytes arrived");
  if (procedure_ == Transfer::kBlocks && blockOffset_ > view_.Size())
    Differs(std::string(blockOffset_ - view_.Size() == 1 ? "byte " : "bytes ") + Range(view_.Size(), blockOffset_ - 1) +
            " arrived past the reference's end");
  if (procedure_ == Transfer::kRecords && kind_ != KIND_LARGE_BIN && bootOffset_ < BOOT_AREA_SIZE)
    Differs("the boot area did not arrive whole");
  if (current_) Differs("record " + std::to_string(currentIndex_) + " was cut short");
  uint64_t missing = 0;
  while (NextExpectedRecord()) ++missing;
  if (missing > 0) {
    const uint64_t arrived = recordsTaken_ - (current_ ? 1 : 0);
    Differs("only " + std::to_string(arrived) + " of the reference's " + std::to_string(recordsTaken_ + missing) +
            " records arrived");
  }
}

bool ExpectedImage::Matches(bool complete) const {
  return view_.Mapped() && complete && procedure_ != Transfer::kUnknown && differences_.empty() && !run_;
}

}  // namespace brenvik::handset
