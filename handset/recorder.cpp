#include "recorder.h"

namespace brenvik::handset {

SessionRecorder::SessionRecorder(ReplyFn reply, OutputFiles* files, ExpectedImage* expected, size_t listCap)
    : reply_(std::move(reply)), files_(files), expected_(expected), cap_(listCap) {}

void SessionRecorder::OnProcedure(Transfer p, std::optional<int32_t> kind) {
  if (files_) files_->OnProcedure(p);
  if (expected_) expected_->Begin(p, kind);
}

void SessionRecorder::OnUnitBegin(const DataUnit& unit) {
  if (files_) files_->OnUnitBegin(unit);
  if (expected_) expected_->OnUnitBegin(unit);
}

void SessionRecorder::OnUnitData(const DataUnit& unit, const uint8_t* data, size_t size) {
  if (files_) files_->OnUnitData(unit, data, size);
  if (expected_) expected_->OnUnitData(unit, data, size);
}

void SessionRecorder::OnUnitEnd(const DataUnit& unit) {
  if (files_) files_->OnUnitEnd(unit);
  std::optional<RecordVerdict> verdict;
  if (expected_) verdict = expected_->OnUnitEnd(unit);
  if (unit.kind != UnitKind::kRecord) return;
  if (list_.size() < cap_)
    list_.push_back(RecordEntry{unit.address, unit.length, unit.sum, verdict});
  else
    truncated_ = true;
}

void SessionRecorder::Finish() {
  if (files_) files_->Finish();
  if (expected_) expected_->Finish();
}

}  // namespace brenvik::handset
