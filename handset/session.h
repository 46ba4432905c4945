// The handset's side of one download: a strict state machine over the bytes the PC sends.
// It owns no I/O; what it answers and what it receives goes to a SessionSink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/packets.h"

namespace brenvik::handset {

// How the PC sends the image, as the handset sees it: plain blocks, or BIN records (with or
// without a boot area, as the kind says).
enum class Transfer { kUnknown, kBlocks, kRecords };
const char* TransferName(Transfer p);

// Which procedure the handset expects for a kind the PC announced.
Transfer TransferForKind(int32_t kind);

enum class UnitKind { kBlock, kBoot, kRecord };

// One piece of payload: a block, the boot area or a BIN record.
struct DataUnit {
  UnitKind kind = UnitKind::kBlock;
  uint32_t index = 0;    // block or record number, from 0
  uint32_t address = 0;  // target address of a record; 0 otherwise
  uint32_t length = 0;
  uint32_t sum = 0;      // 32-bit sum of the data bytes; final at OnUnitEnd
};

// A packet the handset sends: the upgrade acknowledgement or a ready packet.
struct Reply {
  enum class Kind { kUpgradeAck, kReady } kind = Kind::kReady;
  uint32_t block = 0;  // the block a ready packet asks for
  InPacket bytes{};
};

class SessionSink {
 public:
  virtual ~SessionSink() = default;
  virtual void OnReply(const Reply& reply) = 0;
  virtual void OnProcedure(Transfer, std::optional<int32_t> /*kind*/) {}
  virtual void OnUnitBegin(const DataUnit&) {}
  virtual void OnUnitData(const DataUnit&, const uint8_t* /*data*/, size_t /*size*/) {}
  virtual void OnUnitEnd(const DataUnit&) {}
};

struct SessionStats {
  std::optional<int32_t> kind;  // as the kind packet said; none without auto upgrade
  Transfer procedure = Transfer::kUnknown;
  uint32_t blocks = 0;   // blocks received whole
  uint32_t records = 0;  // records received whole
  bool boot = false;     // boot area received whole
  uint32_t transferEnds = 0;
  uint32_t downloadEnds = 0;
  uint64_t bootBytes = 0;
  uint64_t recordBytes = 0;
  uint64_t blockBytes = 0;
  uint64_t received = 0;  // every byte taken from the PC, headers included
  uint64_t DataBytes() const { return bootBytes + recordBytes + blockBytes; }
};

class Session {
 public:
  Session(SessionSink& sink, bool autoUpgrade);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Sends what the handset says first: the acknowledgement, or the first ready packet.
  void Start();
  // Takes bytes from the PC; returns how many belong to this session. It takes nothing
  // once finished (the rest is the next session's) or after a protocol error.
  size_t Feed(const uint8_t* data, size_t size);

  bool Complete() const { return complete_; }  // the download reached its end
  bool Failed() const { return !errors_.empty(); }
  bool Finished() const;                       // nothing more belongs to this session
  // What the session waits for next, in words ("block header", ...).
  std::string Expecting() const;
  // Records why the session ends early (a time-out) as a protocol error.
  void GiveUp(const std::string& why);

  const SessionStats& Stats() const { return stats_; }
  const std::vector<std::string>& Errors() const { return errors_; }

 private:
  enum class State {
    kKind,            // 8-byte kind packet
    kBlockHeader,     // 12-byte block header
    kTransfer,        // data header, or the download-end command
    kTransferEnd,     // the transfer-end command after a transfer's bytes
    kSecondEnd,       // the download-end command the PC repeats after its final message
    kData,            // payload bytes of the current unit
    kDone,
  };

  size_t PacketSize() const;
  void OnPacket(const uint8_t* p, uint64_t at);
  void OnKindPacket(const uint8_t* p, uint64_t at);
  void OnBlockHeader(const uint8_t* p, uint64_t at);
  void OnTransferPacket(const uint8_t* p, uint64_t at);
  void OnDataHeader(const DataHeader& h, uint64_t at);
  void OnTransferEndPacket(const uint8_t* p, uint64_t at);
  void OnSecondEndPacket(const uint8_t* p, uint64_t at);
  bool CheckCommandWords(const CommandPacket& c, uint64_t at);
  void BeginUnit(const DataUnit& unit);
  void EndUnit();
  void AskForBlock(uint32_t index);
  void Fail(uint64_t at, const std::string& what);

  SessionSink& sink_;
  const bool autoUpgrade_;
  State state_;
  State afterData_ = State::kDone;
  uint8_t packet_[16]{};  // the largest packet is 16 bytes
  size_t have_ = 0;
  uint64_t offset_ = 0;   // bytes of this session's stream taken so far
  DataUnit unit_;
  uint32_t unitLeft_ = 0;
  std::optional<uint32_t> countdown_;  // of the last block header
  bool complete_ = false;
  SessionStats stats_;
  std::vector<std::string> errors_;
};

}  // namespace brenvik::handset
