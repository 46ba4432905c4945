#include <gtest/gtest.h>

#include "fakes/download_rig.h"

namespace brenvik {
namespace {

using namespace testing;

Bytes Header(uint32_t following, uint32_t length) {
  auto h = Encode(BlockHeader{following, length, BLOCK_TAG});
  return Bytes(h.begin(), h.end());
}

TEST(DownloadBlocks, BlocksPacedByReadyPacketsWithCountdownHeaders) {
  struct Case {
    uint32_t size;
    std::vector<uint32_t> blocks;
  } cases[] = {
      {300000, {262144, 37856}},
      {262144, {262144}},
      {262145, {262144, 1}},
      {1, {1}},
      {3 * 262144, {262144, 262144, 262144}},
  };
  for (const auto& c : cases) {
    DownloadRig rig("x.dio", PatternBytes(c.size));
    size_t at = 0;
    uint32_t following = uint32_t(c.blocks.size());
    for (uint32_t length : c.blocks) {
      rig.dev->AddRead(Repeat(READY_BYTE, 16));
      rig.dev->ExpectWrite(Header(--following, length));
      ExpectChunked(*rig.dev, rig.At(at), length);
      at += length;
    }
    auto ctx = rig.Context(KIND_DIO);
    rig.Take(DownloadBlocks(ctx));
    EXPECT_EQ(rig.errors, 0) << c.size;
    EXPECT_EQ(rig.shown.ranges, std::vector<uint32_t>{uint32_t(c.blocks.size())}) << c.size;
    EXPECT_EQ(rig.shown.positions.back(), c.blocks.size()) << c.size;
    EXPECT_EQ(rig.shown.statuses.size(), c.blocks.size() + 1) << "one line per block and one at the end";
  }
}

TEST(DownloadBlocks, TenMebibytesInSeventyFiveSeconds) {
  DownloadRig rig("x.dio", PatternBytes(10485760));
  for (uint32_t i = 0; i < 40; ++i) {
    rig.dev->AddRead(Repeat(READY_BYTE, 16));
    rig.dev->ExpectWrite(Header(39 - i, 262144));
    ExpectChunked(*rig.dev, rig.At(size_t(i) * 262144), 262144);
  }
  // Start, then one reading per block and one at the end: 75 s in all.
  const int64_t t0 = 1'000'000;
  int readings = 0;
  auto ctx = rig.Context(KIND_DIO);
  ctx.now = [&] { return t0 + (readings++ == 0 ? 0 : std::min<int64_t>(75, readings * 2)); };
  rig.Take(DownloadBlocks(ctx));
  EXPECT_EQ(rig.shown.ranges, std::vector<uint32_t>{40});
  EXPECT_EQ(rig.shown.statuses.back(), "01 Minutes, 15 Seconds   Speed:134 KBS");
  EXPECT_EQ(rig.errors, 0);
}

TEST(DownloadBlocks, EmptyImageSendsNothing) {
  DownloadRig rig("x.dio", {});
  auto ctx = rig.Context(KIND_DIO);
  rig.Take(DownloadBlocks(ctx));
  EXPECT_EQ(rig.errors, 0);
  EXPECT_TRUE(rig.shown.statuses.empty());
  EXPECT_TRUE(rig.shown.positions.empty());
}

// The handset did not take a block: the run must fail and stop, never report success.
TEST(DownloadBlocks, AFailedStepIsCountedAndEndsTheDownload) {
  const uint32_t size = 3 * 262144;
  struct Case {
    const char* name;
    std::function<void(DownloadRig&)> secondBlock;
  } cases[] = {
      {"wrong ready packet", [](DownloadRig& r) { r.dev->AddRead(Repeat(0x30, 16)); }},
      {"no ready packet", [](DownloadRig& r) { r.dev->AddReadTimeout(); }},
      {"short ready packet", [](DownloadRig& r) { r.dev->AddRead(Repeat(READY_BYTE, 8)); }},
      {"upgrade ack instead", [](DownloadRig& r) { r.dev->AddRead(Repeat(UPGRADE_ACK_BYTE, 16)); }},
      {"header write fails",
       [](DownloadRig& r) {
         r.dev->AddRead(Repeat(READY_BYTE, 16));
         r.dev->ExpectWriteFails(12);
       }},
      {"header short write",
       [](DownloadRig& r) {
         r.dev->AddRead(Repeat(READY_BYTE, 16));
         r.dev->ExpectWriteFails(12, 11);
       }},
      {"data write fails midway",
       [](DownloadRig& r) {
         r.dev->AddRead(Repeat(READY_BYTE, 16));
         r.dev->ExpectWrite(Header(1, 262144));
         ExpectChunked(*r.dev, r.At(262144), 4096 * 3);
         r.dev->ExpectWriteFails(4096, 4000);
       }},
  };
  for (const auto& c : cases) {
    DownloadRig rig("x.dio", PatternBytes(size));
    rig.dev->AddRead(Repeat(READY_BYTE, 16));
    rig.dev->ExpectWrite(Header(2, 262144));
    ExpectChunked(*rig.dev, rig.At(0), 262144);
    c.secondBlock(rig);
    auto ctx = rig.Context(KIND_DIO);
    rig.Take(DownloadBlocks(ctx));
    EXPECT_EQ(rig.errors, 1) << c.name;
    EXPECT_EQ(rig.shown.positions.back(), 1u) << c.name;
  }
}

}  // namespace
}  // namespace brenvik
