// Every packet of the link as a value, with pure encoders and length-checked decoders.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "link/protocol.h"

namespace brenvik {

struct KindPacket {
  uint32_t magic = KIND_MAGIC;
  int32_t kind = 0;
  bool operator==(const KindPacket&) const = default;
};

struct BlockHeader {
  uint32_t blocksFollowing = 0;  // blocks that still follow this one
  uint32_t length = 0;
  uint32_t tag = BLOCK_TAG;
  bool operator==(const BlockHeader&) const = default;
};

struct DataHeader {
  uint32_t magic = DATA_MAGIC;
  uint32_t type = 0;
  uint32_t address = 0;
  uint32_t length = 0;
  bool operator==(const DataHeader&) const = default;
};

struct CommandPacket {
  uint32_t magic = COMMAND_MAGIC;
  uint32_t command = 0;
  uint32_t reserved0 = 0;
  uint32_t reserved1 = 0;
  bool operator==(const CommandPacket&) const = default;
};

using InPacket = std::array<uint8_t, IN_PACKET_SIZE>;

std::array<uint8_t, KIND_PACKET_SIZE> Encode(const KindPacket& p);
std::array<uint8_t, BLOCK_HEADER_SIZE> Encode(const BlockHeader& p);
std::array<uint8_t, DATA_HEADER_SIZE> Encode(const DataHeader& p);
std::array<uint8_t, COMMAND_PACKET_SIZE> Encode(const CommandPacket& p);

// Decoders read the fields as they stand; checking magics and values is the caller's.
// They return nothing when fewer bytes than the packet's size are given.
std::optional<KindPacket> DecodeKindPacket(const uint8_t* data, size_t size);
std::optional<BlockHeader> DecodeBlockHeader(const uint8_t* data, size_t size);
std::optional<DataHeader> DecodeDataHeader(const uint8_t* data, size_t size);
std::optional<CommandPacket> DecodeCommandPacket(const uint8_t* data, size_t size);

InPacket MakeInPacket(uint8_t fill);  // ready packet (0x31) or upgrade acknowledgement (0x02)
// True when exactly 16 bytes were given and every one is `fill`.
bool IsInPacket(const uint8_t* data, size_t size, uint8_t fill);

}  // namespace brenvik
