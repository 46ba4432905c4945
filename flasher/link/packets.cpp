#include "link/packets.h"

#include "link/wire.h"

namespace brenvik {
namespace {

template <size_t N>
std::array<uint8_t, N> EncodeWords(std::initializer_list<uint32_t> words) {
  std::array<uint8_t, N> out{};
  size_t at = 0;
  for (uint32_t w : words) {
    PutLe32(out.data() + at, w);
    at += 4;
  }
  return out;
}

}  // namespace

std::array<uint8_t, KIND_PACKET_SIZE> Encode(const KindPacket& p) {
  return EncodeWords<KIND_PACKET_SIZE>({p.magic, uint32_t(p.kind)});
}

std::array<uint8_t, BLOCK_HEADER_SIZE> Encode(const BlockHeader& p) {
  return EncodeWords<BLOCK_HEADER_SIZE>({p.blocksFollowing, p.length, p.tag});
}

std::array<uint8_t, DATA_HEADER_SIZE> Encode(const DataHeader& p) {
  return EncodeWords<DATA_HEADER_SIZE>({p.magic, p.type, p.address, p.length});
}

std::array<uint8_t, COMMAND_PACKET_SIZE> Encode(const CommandPacket& p) {
  return EncodeWords<COMMAND_PACKET_SIZE>({p.magic, p.command, p.reserved0, p.reserved1});
}

std::optional<KindPacket> DecodeKindPacket(const uint8_t* d, size_t size) {
  if (size < KIND_PACKET_SIZE) return std::nullopt;
  return KindPacket{GetLe32(d), int32_t(GetLe32(d + 4))};
}

std::optional<BlockHeader> DecodeBlockHeader(const uint8_t* d, size_t size) {
  if (size < BLOCK_HEADER_SIZE) return std::nullopt;
  return BlockHeader{GetLe32(d), GetLe32(d + 4), GetLe32(d + 8)};
}

std::optional<DataHeader> DecodeDataHeader(const uint8_t* d, size_t size) {
  if (size < DATA_HEADER_SIZE) return std::nullopt;
  return DataHeader{GetLe32(d), GetLe32(d + 4), GetLe32(d + 8), GetLe32(d + 12)};
}

std::optional<CommandPacket> DecodeCommandPacket(const uint8_t* d, size_t size) {
  if (size < COMMAND_PACKET_SIZE) return std::nullopt;
  return CommandPacket{GetLe32(d), GetLe32(d + 4), GetLe32(d + 8), GetLe32(d + 12)};
}

InPacket MakeInPacket(uint8_t fill) {
  InPacket p;
  p.fill(fill);
  return p;
}

bool IsInPacket(const uint8_t* data, size_t size, uint8_t fill) {
  if (size != IN_PACKET_SIZE) return false;
  for (size_t i = 0; i < size; ++i)
    if (data[i] != fill) return false;
  return true;
}

}  // namespace brenvik
