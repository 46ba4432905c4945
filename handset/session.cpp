#include "session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/protocol.h"
#include "link/wire.h"

namespace brenvik::handset {
namespace {

// Block count above which the image would not fit in 32 bits of size.
constexpr uint32_t kMaxCountdown = 0xFFFFFFFFu / BLOCK_SIZE;

std::string Hex(uint32_t v) { return HexText(v); }

// What a 16-byte packet looks like, for error texts.
std::string Describe(const uint8_t* p) {
  const uint32_t magic = GetLe32(p);
  if (magic == DATA_MAGIC) return "a data header";
  if (magic == COMMAND_MAGIC) {
    const uint32_t code = GetLe32(p + 4);
    if (code == CMD_TRANSFER_END) return "the transfer-end command";
    if (code == CMD_DOWNLOAD_END) return "the download-end command";
    return "command " + Hex(code);
  }
  return "magic " + Hex(magic);
}

}  // namespace

const char* TransferName(Transfer p) {
  switch (p) {
    case Transfer::kBlocks: return "blocks";
    case Transfer::kRecords: return "records";
    case Transfer::kUnknown: break;
  }
  return "unknown";
}

Transfer TransferForKind(int32_t kind) {
  return kind == KIND_IMG || kind == KIND_LARGE_BIN || kind == KIND_RAW ? Transfer::kRecords
                                                                      : Transfer::kBlocks;
}

Session::Session(SessionSink& sink, bool autoUpgrade)
    : sink_(sink), autoUpgrade_(autoUpgrade), state_(autoUpgrade ? State::kKind : State::kBlockHeader) {}

void Session::Start() {
  if (autoUpgrade_) {
    sink_.OnReply(Reply{Reply::Kind::kUpgradeAck, 0, MakeInPacket(UPGRADE_ACK_BYTE)});
    return;
  }
  stats_.procedure = Transfer::kBlocks;
  sink_.OnProcedure(stats_.procedure, std::nullopt);
  AskForBlock(0);
}

bool Session::Finished() const { return Failed() || state_ == State::kDone; }

size_t Session::PacketSize() const {
  switch (state_) {
    case State::kKind: return KIND_PACKET_SIZE;
    case State::kBlockHeader: return BLOCK_HEADER_SIZE;
    case State::kTransfer:
    case State::kTransferEnd:
    case State::kSecondEnd: return COMMAND_PACKET_SIZE;
    case State::kData:
    case State::kDone: break;
  }
  return 0;
}

size_t Session::Feed(const uint8_t* data, size_t size) {
  size_t used = 0;
  while (used < size && !Finished()) {
    if (state_ == State::kData) {
      const uint32_t n = uint32_t(std::min<size_t>(size - used, unitLeft_));
      for (uint32_t i = 0; i < n; ++i) unit_.sum += data[used + i];
      sink_.OnUnitData(unit_, data + used, n);
      uint64_t& counter = unit_.kind == UnitKind::kBlock  ? stats_.blockBytes
                          : unit_.kind == UnitKind::kBoot ? stats_.bootBytes
                                                          : stats_.recordBytes;
      counter += n;
      used += n;
      offset_ += n;
      unitLeft_ -= n;
      if (unitLeft_ == 0) EndUnit();
      continue;
    }
    const size_t need = PacketSize();
    const size_t take = std::min(need - have_, size - used);
    std::memcpy(packet_ + have_, data + used, take);
    have_ += take;
    used += take;
    offset_ += take;
    if (have_ == need) {
      have_ = 0;
      OnPacket(packet_, offset_ - need);
    }
  }
  stats_.received += used;
  return used;
}

void Session::OnPacket(const uint8_t* p, uint64_t at) {
  switch (state_) {
    case State::kKind: return OnKindPacket(p, at);
    case State::kBlockHeader: return OnBlockHeader(p, at);
    case State::kTransfer: return OnTransferPacket(p, at);
    case State::kTransferEnd: return OnTransferEndPacket(p, at);
    case State::kSecondEnd: return OnSecondEndPacket(p, at);
    case State::kData:
    case State::kDone: return;
  }
}

void Session::OnKindPacket(const uint8_t* p, uint64_t at) {
  const KindPacket k = *DecodeKindPacket(p, KIND_PACKET_SIZE);
  if (k.magic != KIND_MAGIC)
    return Fail(at, "kind packet: magic " + Hex(k.magic) + ", expected " + Hex(KIND_MAGIC));
  if (!((k.kind >= KIND_DIO && k.kind <= KIND_RAW) || k.kind == KIND_NOT_CORRECT))
    return Fail(at, "kind packet: kind " + std::to_string(k.kind) + " is not an image kind (1..7 or 9)");
  stats_.kind = k.kind;
  stats_.procedure = TransferForKind(k.kind);
  sink_.OnProcedure(stats_.procedure, stats_.kind);
  if (stats_.procedure == Transfer::kRecords) {
    state_ = State::kTransfer;
  } else {
    state_ = State::kBlockHeader;
    AskForBlock(0);
  }
}

void Session::OnBlockHeader(const uint8_t* p, uint64_t at) {
  const BlockHeader h = *DecodeBlockHeader(p, BLOCK_HEADER_SIZE);
  const std::string where = "block header " + std::to_string(stats_.blocks) + ": ";
  if (h.tag != BLOCK_TAG) return Fail(at, where + "tag " + Hex(h.tag) + ", expected " + Hex(BLOCK_TAG));
  if (!countdown_ && h.blocksFollowing > kMaxCountdown)
    return Fail(at, where + "announces " + std::to_string(h.blocksFollowing) +
                        " more blocks, more than a 32-bit image can hold");
  if (countdown_ && h.blocksFollowing != *countdown_ - 1)
    return Fail(at, where + "countdown " + std::to_string(h.blocksFollowing) + " after " +
                        std::to_string(*countdown_) + ", expected " + std::to_string(*countdown_ - 1));
  if (h.length > BLOCK_SIZE)
    return Fail(at, where + "length " + std::to_string(h.length) + " exceeds the block size " +
                        std::to_string(BLOCK_SIZE));
  if (h.blocksFollowing > 0 && h.length != BLOCK_SIZE)
    return Fail(at, where + "length " + std::to_string(h.length) + " in a block that is not the last, expected " +
                        std::to_string(BLOCK_SIZE));
  if (h.length == 0) return Fail(at, where + "the last block is empty");
  countdown_ = h.blocksFollowing;
  BeginUnit(DataUnit{UnitKind::kBlock, stats_.blocks, 0, h.length, 0});
}

void Session::OnTransferPacket(const uint8_t* p, uint64_t at) {
  const uint32_t magic = GetLe32(p);
  if (magic == DATA_MAGIC) return OnDataHeader(*DecodeDataHeader(p, DATA_HEADER_SIZE), at);
  if (magic != COMMAND_MAGIC)
    return Fail(at, "expected a data header or the download-end command, got " + Describe(p));
  const CommandPacket c = *DecodeCommandPacket(p, COMMAND_PACKET_SIZE);
  if (c.command == CMD_TRANSFER_END) return Fail(at, "transfer-end command without a data transfer");
  if (c.command != CMD_DOWNLOAD_END) return Fail(at, "unknown command " + Hex(c.command));
  if (!CheckCommandWords(c, at)) return;
  if (*stats_.kind != KIND_LARGE_BIN && !stats_.boot)
    return Fail(at, "download-end command before the boot area");
  ++stats_.downloadEnds;
  complete_ = true;
  state_ = State::kSecondEnd;
}

void Session::OnDataHeader(const DataHeader& h, uint64_t at) {
  const int32_t kind = *stats_.kind;
  const bool first = !stats_.boot && stats_.records == 0;
  if (h.type == DATA_TYPE_BOOT) {
    if (kind == KIND_LARGE_BIN) return Fail(at, "boot area in a download of kind 6, which has none");
    if (!first) return Fail(at, "boot area that is not the first transfer");
    if (h.address != 0) return Fail(at, "boot area at address " + Hex(h.address) + ", expected 0");
    if (h.length != BOOT_AREA_SIZE)
      return Fail(at, "boot area of " + std::to_string(h.length) + " bytes, expected " +
                          std::to_string(BOOT_AREA_SIZE));
    return BeginUnit(DataUnit{UnitKind::kBoot, 0, 0, h.length, 0});
  }
  if (h.type != DATA_TYPE_RECORD) return Fail(at, "data header of unknown type " + Hex(h.type));
  const std::string where = "record " + std::to_string(stats_.records) + ": ";
  if (kind == KIND_RAW) return Fail(at, where + "a raw download (kind 7) carries only the boot area");
  if (kind == KIND_IMG && !stats_.boot) return Fail(at, where + "record before the boot area");
  if (h.length == 0) return Fail(at, where + "data header of length 0; empty records are not sent");
  BeginUnit(DataUnit{UnitKind::kRecord, stats_.records, h.address, h.length, 0});
}

void Session::OnTransferEndPacket(const uint8_t* p, uint64_t at) {
  const CommandPacket c = *DecodeCommandPacket(p, COMMAND_PACKET_SIZE);
  if (c.magic != COMMAND_MAGIC || c.command != CMD_TRANSFER_END)
    return Fail(at, "expected the transfer-end command, got " + Describe(p));
  if (!CheckCommandWords(c, at)) return;
  ++stats_.transferEnds;
  state_ = State::kTransfer;
}

void Session::OnSecondEndPacket(const uint8_t* p, uint64_t at) {
  const CommandPacket c = *DecodeCommandPacket(p, COMMAND_PACKET_SIZE);
  if (c.magic != COMMAND_MAGIC || c.command != CMD_DOWNLOAD_END)
    return Fail(at, "expected the repeated download-end command, got " + Describe(p));
  if (!CheckCommandWords(c, at)) return;
  ++stats_.downloadEnds;
  state_ = State::kDone;
}

bool Session::CheckCommandWords(const CommandPacket& c, uint64_t at) {
  if (c.reserved0 == 0 && c.reserved1 == 0) return true;
  Fail(at, "command " + Hex(c.command) + ": reserved words " + Hex(c.reserved0) + ", " + Hex(c.reserved1) +
               ", expected 0");
  return false;
}

void Session::BeginUnit(const DataUnit& unit) {
  unit_ = unit;
  unitLeft_ = unit.length;
  afterData_ = unit.kind == UnitKind::kBlock ? State::kBlockHeader : State::kTransferEnd;
  state_ = State::kData;
  sink_.OnUnitBegin(unit_);
}

void Session::EndUnit() {
  sink_.OnUnitEnd(unit_);
  state_ = afterData_;
  switch (unit_.kind) {
    case UnitKind::kBoot: stats_.boot = true; return;
    case UnitKind::kRecord: ++stats_.records; return;
    case UnitKind::kBlock: break;
  }
  ++stats_.blocks;
  if (*countdown_ == 0) {
    complete_ = true;
    state_ = State::kDone;
    return;
  }
  AskForBlock(stats_.blocks);
}

void Session::AskForBlock(uint32_t index) {
  sink_.OnReply(Reply{Reply::Kind::kReady, index, MakeInPacket(READY_BYTE)});
}

std::string Session::Expecting() const {
  switch (state_) {
    case State::kKind: return "the kind packet";
    case State::kBlockHeader: return "block header " + std::to_string(stats_.blocks);
    case State::kTransfer: return "a data header or the download-end command";
    case State::kTransferEnd: return "the transfer-end command";
    case State::kSecondEnd: return "the repeated download-end command";
    case State::kData:
      return std::string(unit_.kind == UnitKind::kBlock  ? "the data of block "
                         : unit_.kind == UnitKind::kBoot ? "the data of the boot area"
                                                         : "the data of record ") +
             (unit_.kind == UnitKind::kBoot ? "" : std::to_string(unit_.index)) + " (" +
             std::to_string(unit_.length - unitLeft_) + " of " + std::to_string(unit_.length) + " bytes)";
    case State::kDone: break;
  }
  return "nothing";
}

void Session::GiveUp(const std::string& why) {
  if (!Finished()) errors_.push_back(why);
}

void Session::Fail(uint64_t at, const std::string& what) {
  errors_.push_back(what + " (at byte " + std::to_string(at) + ")");
}

}  // namespace brenvik::handset
