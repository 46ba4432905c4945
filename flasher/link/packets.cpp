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

std::array<uint8_t, kKindPacketSize> Encode(const KindPacket& p) {
  return EncodeWords<kKindPacketSize>({p.magic, uint32_t(p.kind)});
}

std::array<uint8_t, kBlockHeaderSize> Encode(const BlockHeader& p) {
  return EncodeWords<kBlockHeaderSize>({p.blocksFollowing, p.length, p.tag});
}

std::array<uint8_t, kDataHeaderSize> Encode(const DataHeader& p) {
  return EncodeWords<kDataHeaderSize>({p.magic, p.type, p.address, p.length});
}

std::array<uint8_t, kCommandPacketSize> Encode(const CommandPacket& p) {
  return EncodeWords<kCommandPacketSize>({p.magic, p.command, p.reserved0, p.reserved1});
}

std::optional<KindPacket> DecodeKindPacket(const uint8_t* d, size_t size) {
  if (size < kKindPacketSize) return std::nullopt;
  return KindPacket{GetLe32(d), int32_t(GetLe32(d + 4))};
}

std::optional<BlockHeader> DecodeBlockHeader(const uint8_t* d, size_t size) {
  if (size < kBlockHeaderSize) return std::nullopt;
  return BlockHeader{GetLe32(d), GetLe32(d + 4), GetLe32(d + 8)};
}

std::optional<DataHeader> DecodeDataHeader(const uint8_t* d, size_t size) {
  if (size < kDataHeaderSize) return std::nullopt;
  return DataHeader{GetLe32(d), GetLe32(d + 4), GetLe32(d + 8), GetLe32(d + 12)};
}

std::optional<CommandPacket> DecodeCommandPacket(const uint8_t* d, size_t size) {
  if (size < kCommandPacketSize) return std::nullopt;
  return CommandPacket{GetLe32(d), GetLe32(d + 4), GetLe32(d + 8), GetLe32(d + 12)};
}

InPacket MakeInPacket(uint8_t fill) {
  InPacket p;
  p.fill(fill);
  return p;
}

bool IsInPacket(const uint8_t* data, size_t size, uint8_t fill) {
  if (size != kInPacketSize) return false;
  for (size_t i = 0; i < size; ++i)
    if (data[i] != fill) return false;
  return true;
}

}  // namespace brenvik
