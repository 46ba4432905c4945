#include "fakes/memory_handset.h"

#include <cstring>
#include <string>

#include "link/protocol.h"
#include "link/wire.h"

namespace brenvik::testing {

const char* OpRoleName(OpRole role) {
  switch (role) {
    case OpRole::kAckRead: return "ack read";
    case OpRole::kReadyRead: return "ready read";
    case OpRole::kKindPacket: return "kind packet";
    case OpRole::kBlockHeader: return "block header";
    case OpRole::kDataHeader: return "data header";
    case OpRole::kImageBytes: return "image bytes";
    case OpRole::kTransferEnd: return "transfer end";
    case OpRole::kDownloadEnd: return "download end";
    case OpRole::kSecondEnd: return "second download end";
    case OpRole::kDrain: return "drain";
    case OpRole::kUnexpected: break;
  }
  return "unexpected";
}

MemoryHandset::MemoryHandset(bool autoUpgrade, std::vector<ExpectedUnit> expected)
    : expected_(std::move(expected)), session_(*this, autoUpgrade) {
  session_.Start();
}

IoResult MemoryHandset::Read(uint8_t* data, size_t size, std::chrono::milliseconds) {
  if (closed_ || replies_.empty()) return {IoStatus::kTimeout, 0};
  const InPacket p = replies_.front();
  replies_.pop_front();
  const size_t n = std::min(size, p.size());
  std::memcpy(data, p.data(), n);
  return {IoStatus::kOk, n};
}

IoResult MemoryHandset::Write(const uint8_t* data, size_t size, std::chrono::milliseconds) {
  if (closed_) return {IoStatus::kError, 0};
  const size_t used = session_.Feed(data, size);
  // A handset that has stopped reading leaves the rest in the pipe until the PC gives up.
  return {used < size ? IoStatus::kTimeout : IoStatus::kOk, used};
}

OpRole MemoryHandset::NextReadRole() const {
  if (replies_.empty()) return OpRole::kUnexpected;
  return replies_.front()[0] == UPGRADE_ACK_BYTE ? OpRole::kAckRead : OpRole::kReadyRead;
}

OpRole MemoryHandset::NextWriteRole(const uint8_t* data, size_t size) const {
  const std::string next = session_.Finished() ? std::string("nothing") : session_.Expecting();
  auto startsWith = [&](const char* s) { return next.rfind(s, 0) == 0; };
  if (startsWith("the kind packet")) return OpRole::kKindPacket;
  if (startsWith("block header")) return OpRole::kBlockHeader;
  if (startsWith("the data of")) return OpRole::kImageBytes;
  if (startsWith("the transfer-end command")) return OpRole::kTransferEnd;
  if (startsWith("the repeated download-end command")) return OpRole::kSecondEnd;
  if (startsWith("a data header") && size >= 4)
    return GetLe32(data) == DATA_MAGIC ? OpRole::kDataHeader : OpRole::kDownloadEnd;
  return OpRole::kUnexpected;
}

void MemoryHandset::LoseReply() {
  if (!replies_.empty()) replies_.pop_front();
}

void MemoryHandset::OnReply(const handset::Reply& reply) { replies_.push_back(reply.bytes); }

void MemoryHandset::OnUnitBegin(const handset::DataUnit& unit) {
  unitAt_ = 0;
  if (unitsBegun_ >= expected_.size()) {
    mismatch_ = true;
    return;
  }
  const ExpectedUnit& e = expected_[unitsBegun_++];
  if (e.kind != unit.kind || e.address != unit.address || e.length != unit.length) mismatch_ = true;
}

void MemoryHandset::OnUnitData(const handset::DataUnit&, const uint8_t* data, size_t size) {
  if (mismatch_) return;
  const ExpectedUnit& e = expected_[unitsBegun_ - 1];
  if (size > e.length - unitAt_ || std::memcmp(e.data + unitAt_, data, size) != 0) mismatch_ = true;
  unitAt_ += uint32_t(size);
}

void MemoryHandset::OnUnitEnd(const handset::DataUnit&) {
  if (!mismatch_) ++unitsDone_;
}

}  // namespace brenvik::testing
