#include "sweep_cases.h"

#include "link/protocol.h"

namespace brenvik::testing {
namespace {

using handset::UnitKind;
constexpr size_t kPage = 4096;

// The records a stream carries, with the record data located in the finished file: found
// from the layout we built, not by the parser under test.
void AddRecordUnits(SweepCase& c, size_t streamAt, const std::vector<RecordInput>& records) {
  size_t at = streamAt + BIN_STREAM_HEADER_SIZE;
  for (const auto& r : records) {
    at += BIN_RECORD_HEADER_SIZE;
    if (!r.data.empty())
      c.units.push_back({UnitKind::kRecord, r.address, c.image.data() + at, uint32_t(r.data.size())});
    at += r.data.size();
  }
}

// Lengthens the last record so that the whole file fills its last page exactly.
void FillLastPage(std::vector<RecordInput>& records, size_t bytesBefore) {
  const size_t size = bytesBefore + MakeBinStream(records).size();
  const size_t pad = (kPage - size % kPage) % kPage;
  Bytes& last = records.back().data;
  const Bytes extra = PatternBytes(pad, 99);
  last.insert(last.end(), extra.begin(), extra.end());
  records.back().checksum.reset();
}

SweepCase PlainBlocks() {
  // A full block and a short last one: the countdown runs 1, 0.
  SweepCase c{"plain blocks", "fw.dio", true, PatternBytes(BLOCK_SIZE + 2 * kPage, 11), {}};
  c.units.push_back({UnitKind::kBlock, 0, c.image.data(), BLOCK_SIZE});
  c.units.push_back({UnitKind::kBlock, 0, c.image.data() + BLOCK_SIZE, uint32_t(2 * kPage)});
  return c;
}

// Without auto upgrade every file goes out in blocks, an img too, and the handset asks for
// the first block at once.
SweepCase BlocksWithoutAutoUpgrade() {
  SweepCase c{"img in blocks, no auto upgrade", "fw.img", false, PatternBytes(BLOCK_SIZE + 3 * kPage, 12), {}};
  c.units.push_back({UnitKind::kBlock, 0, c.image.data(), BLOCK_SIZE});
  c.units.push_back({UnitKind::kBlock, 0, c.image.data() + BLOCK_SIZE, uint32_t(3 * kPage)});
  return c;
}

SweepCase Img() {
  std::vector<RecordInput> records = {
      {0x80001000, PatternBytes(5000, 21), std::nullopt},  // two pieces
      {0x80003000, {}, std::nullopt},                      // empty: nothing goes out
      {0, PatternBytes(100, 22), std::nullopt},            // address 0, not the end
      {0x80004000, PatternBytes(4096, 23), 0u},            // one whole piece, checksum 0
      {0x80006000, PatternBytes(700, 24), std::nullopt},
  };
  FillLastPage(records, BOOT_AREA_SIZE);
  SweepCase c{"img", "fw.img", true, PatternBytes(BOOT_AREA_SIZE, 20), {}};
  const Bytes stream = MakeBinStream(records);
  c.image.insert(c.image.end(), stream.begin(), stream.end());
  c.units.push_back({UnitKind::kBoot, 0, c.image.data(), BOOT_AREA_SIZE});
  AddRecordUnits(c, BOOT_AREA_SIZE, records);
  return c;
}

SweepCase Raw() {
  SweepCase c{"raw", "fw.raw", true, PatternBytes(BOOT_AREA_SIZE + kPage, 30), {}};
  c.units.push_back({UnitKind::kBoot, 0, c.image.data(), BOOT_AREA_SIZE});
  return c;
}

SweepCase LargeBin() {
  // Above 512000 bytes, or it would not be a record stream.
  std::vector<RecordInput> records;
  for (uint32_t i = 0; i < 8; ++i) records.push_back({0x80100000 + i * 0x10000, PatternBytes(0x10000, 40 + i), std::nullopt});
  FillLastPage(records, 0);
  SweepCase c{"large bin", "fw.bin", true, MakeBinStream(records), {}};
  AddRecordUnits(c, 0, records);
  return c;
}

}  // namespace

std::vector<SweepCase> SweepCases() {
  std::vector<SweepCase> cases;
  cases.push_back(PlainBlocks());
  cases.push_back(Img());
  cases.push_back(Raw());
  cases.push_back(LargeBin());
  cases.push_back(BlocksWithoutAutoUpgrade());
  return cases;
}

}  // namespace brenvik::testing
