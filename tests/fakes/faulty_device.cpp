#include "fakes/faulty_device.h"

#include <cstring>

#include "link/protocol.h"

namespace brenvik::testing {

const char* FaultModeName(FaultMode mode) {
  switch (mode) {
    case FaultMode::kNone: return "none";
    case FaultMode::kError: return "error";
    case FaultMode::kShortWrite: return "short write";
    case FaultMode::kShortRead: return "short read";
    case FaultMode::kReadTimeout: return "read time-out";
    case FaultMode::kWrongReady: return "wrong ready packet";
  }
  return "?";
}

bool FaultApplies(FaultMode mode, bool write, size_t size) {
  switch (mode) {
    case FaultMode::kNone: return false;
    case FaultMode::kError: return true;
    case FaultMode::kShortWrite: return write && size > 0;  // an empty write cannot fall short
    case FaultMode::kShortRead:
    case FaultMode::kReadTimeout:
    case FaultMode::kWrongReady: return !write;
  }
  return false;
}

bool ViewBounds::Outside(const uint8_t* p, size_t n) const {
  if (!begin || n == 0) return false;
  const uintptr_t a = uintptr_t(p), b = a + n;
  const uintptr_t lo = uintptr_t(begin), hi = lo + size;
  const uintptr_t nearLo = lo > window ? lo - window : 0, nearHi = hi + window;
  const bool near = a < nearHi && b > nearLo;
  return near && (a < lo || b > hi);
}

FaultyDevice::FaultyDevice(std::unique_ptr<MemoryHandset> handset, Fault fault, size_t opBudget,
                           ViewBounds view, std::chrono::milliseconds bound)
    : handset_(std::move(handset)), fault_(fault), budget_(opBudget), view_(view), bound_(bound) {}

// A wait longer than the run's bound (or none) is the fault; a shorter one keeps within it,
// as the repeated end command after a failed run does.
void FaultyDevice::Note(std::chrono::milliseconds timeout) {
  if (timeout > bound_ || timeout.count() <= 0) unbounded_ = true;
}

bool FaultyDevice::Strikes(bool write, size_t size) {
  const bool strikes = ops_.size() - 1 == fault_.op && FaultApplies(fault_.mode, write, size);
  if (strikes) faulted_ = ops_.back().role;
  return strikes;
}

IoResult FaultyDevice::Read(uint8_t* data, size_t size, std::chrono::milliseconds timeout) {
  Note(timeout);
  ops_.push_back({false, size, handset_->NextReadRole()});
  if (Runaway()) return {IoStatus::kError, 0};
  if (!Strikes(false, size)) return handset_->Read(data, size, timeout);
  switch (fault_.mode) {
    case FaultMode::kShortRead: {
      IoResult r = handset_->Read(data, size, timeout);
      return {r.status, r.count / 2};
    }
    case FaultMode::kWrongReady:
      handset_->LoseReply();
      std::memset(data, READY_BYTE - 1, size);
      return {IoStatus::kOk, size};
    case FaultMode::kReadTimeout:
      handset_->LoseReply();
      return {IoStatus::kTimeout, 0};
    default:
      handset_->LoseReply();
      return {IoStatus::kError, 0};
  }
}

IoResult FaultyDevice::Write(const uint8_t* data, size_t size, std::chrono::milliseconds timeout) {
  Note(timeout);
  ops_.push_back({true, size, handset_->NextWriteRole(data, size)});
  if (Runaway()) return {IoStatus::kError, 0};
  if (view_.Outside(data, size)) {  // counted, and not touched: it may lie on a guard page
    ++outside_;
    return {IoStatus::kError, 0};
  }
  if (!Strikes(true, size)) return handset_->Write(data, size, timeout);
  if (fault_.mode == FaultMode::kShortWrite) {
    IoResult r = handset_->Write(data, size / 2, timeout);
    return {r.status, r.count};
  }
  return {IoStatus::kError, 0};
}

IoResult FaultyDevice::Drain(std::chrono::milliseconds timeout) {
  Note(timeout);
  ops_.push_back({true, 0, OpRole::kDrain});
  if (Runaway()) return {IoStatus::kError, 0};
  return Strikes(true, 0) ? IoResult{IoStatus::kHangUp, 0} : IoResult{};
}

}  // namespace brenvik::testing
