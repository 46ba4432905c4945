#include <gtest/gtest.h>

#include "fakes/scripted_device.h"
#include "link/packets.h"

namespace brenvik {
namespace {

using testing::Bytes;
using testing::Hex;

template <size_t N>
Bytes B(const std::array<uint8_t, N>& a) {
  return Bytes(a.begin(), a.end());
}

TEST(Packets, EncodeGivesTheWireBytes) {
  struct Case {
    const char* name;
    Bytes encoded;
    Bytes wire;
  } cases[] = {
      {"kind 5", B(Encode(KindPacket{KIND_MAGIC, 5})), {0x67, 0x45, 0x23, 0x01, 0x05, 0, 0, 0}},
      {"kind 9", B(Encode(KindPacket{KIND_MAGIC, 9})), {0x67, 0x45, 0x23, 0x01, 0x09, 0, 0, 0}},
      {"record header",
       B(Encode(DataHeader{DATA_MAGIC, DATA_TYPE_RECORD, 0x1000, 0x1234})),
       {0xFF, 0xFD, 0xFB, 0xF9, 0, 0, 2, 0, 0, 0x10, 0, 0, 0x34, 0x12, 0, 0}},
      {"boot header",
       B(Encode(DataHeader{DATA_MAGIC, DATA_TYPE_BOOT, 0, 0x20000})),
       {0xFF, 0xFD, 0xFB, 0xF9, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0}},
      {"download end",
       B(Encode(CommandPacket{COMMAND_MAGIC, CMD_DOWNLOAD_END, 0, 0})),
       {0xF9, 0xFB, 0xFD, 0xFF, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"transfer end",
       B(Encode(CommandPacket{COMMAND_MAGIC, CMD_TRANSFER_END, 0, 0})),
       {0xF9, 0xFB, 0xFD, 0xFF, 0, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"block header", B(Encode(BlockHeader{1, 37856, BLOCK_TAG})),
       {1, 0, 0, 0, 0xE0, 0x93, 0, 0, 0x23, 0x01, 0, 0}},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex(c.wire), Hex(c.encoded)) << c.name;
}

TEST(Packets, DecodeIsTheInverseAndRefusesShortInput) {
  DataHeader d{DATA_MAGIC, DATA_TYPE_RECORD, 0x80001000, 0xFFFFFFFF};
  auto wire = Encode(d);
  EXPECT_EQ(DecodeDataHeader(wire.data(), wire.size()), d);
  EXPECT_FALSE(DecodeDataHeader(wire.data(), wire.size() - 1));

  BlockHeader b{39, 262144, BLOCK_TAG};
  auto bw = Encode(b);
  EXPECT_EQ(DecodeBlockHeader(bw.data(), bw.size()), b);
  EXPECT_FALSE(DecodeBlockHeader(bw.data(), 11));

  KindPacket k{KIND_MAGIC, -1};
  auto kw = Encode(k);
  EXPECT_EQ(DecodeKindPacket(kw.data(), kw.size()), k);
  EXPECT_FALSE(DecodeKindPacket(kw.data(), 0));

  CommandPacket c{COMMAND_MAGIC, CMD_TRANSFER_END, 1, 2};
  auto cw = Encode(c);
  EXPECT_EQ(DecodeCommandPacket(cw.data(), cw.size()), c);
  EXPECT_FALSE(DecodeCommandPacket(cw.data(), 15));
}

TEST(Packets, InPacketsMatchOnlyWhenWholeAndUniform) {
  auto ready = MakeInPacket(READY_BYTE);
  EXPECT_TRUE(IsInPacket(ready.data(), ready.size(), READY_BYTE));
  EXPECT_FALSE(IsInPacket(ready.data(), ready.size(), UPGRADE_ACK_BYTE));
  EXPECT_FALSE(IsInPacket(ready.data(), 15, READY_BYTE));
  for (size_t i = 0; i < ready.size(); ++i) {
    auto spoiled = ready;
    spoiled[i] = 0x30;
    EXPECT_FALSE(IsInPacket(spoiled.data(), spoiled.size(), READY_BYTE)) << "byte " << i;
  }
}

}  // namespace
}  // namespace brenvik
