#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <sstream>

#include "pc_streams.h"
#include "session.h"

namespace brenvik::handset {
namespace {

using testing::Bytes;
using testing::Pattern;
using testing::PcStream;
using testing::TestRecord;

// Everything the session tells its sink, kept for comparison.
struct Capture : SessionSink {
  std::string replies;  // "A" for the acknowledgement, "R<n>" for a ready packet
  std::vector<DataUnit> units;
  Bytes blocks, boot;
  std::vector<Bytes> records;

  void OnReply(const Reply& r) override {
    EXPECT_EQ(r.bytes, MakeInPacket(r.kind == Reply::Kind::kUpgradeAck ? UPGRADE_ACK_BYTE : READY_BYTE));
    if (!replies.empty()) replies += " ";
    replies += r.kind == Reply::Kind::kUpgradeAck ? "A" : "R" + std::to_string(r.block);
  }
  void OnUnitBegin(const DataUnit& u) override {
    if (u.kind == UnitKind::kRecord) records.emplace_back();
  }
  void OnUnitData(const DataUnit& u, const uint8_t* d, size_t n) override {
    Bytes& to = u.kind == UnitKind::kBlock ? blocks : u.kind == UnitKind::kBoot ? boot : records.back();
    to.insert(to.end(), d, d + n);
  }
  void OnUnitEnd(const DataUnit& u) override { units.push_back(u); }
};

// Feeds `stream` in pieces cut at `cuts` (ascending offsets) and describes all that came of it.
std::string FeedInPieces(bool autoUpgrade, const Bytes& stream, const std::vector<size_t>& cuts) {
  Capture c;
  Session s(c, autoUpgrade);
  s.Start();
  size_t from = 0, taken = 0;
  std::vector<size_t> ends = cuts;
  ends.push_back(stream.size());
  for (size_t to : ends) {
    taken += s.Feed(stream.data() + from, to - from);
    from = to;
  }
  const SessionStats& st = s.Stats();
  std::ostringstream d;
  d << "complete=" << s.Complete() << " finished=" << s.Finished() << " taken=" << taken
    << " kind=" << (st.kind ? *st.kind : -1) << " " << TransferName(st.procedure) << " blocks=" << st.blocks
    << " records=" << st.records << " boot=" << st.boot << " te=" << st.transferEnds << " de=" << st.downloadEnds
    << " bytes=" << st.blockBytes << "/" << st.bootBytes << "/" << st.recordBytes << "/" << st.received
    << " replies=" << c.replies << " units=";
  for (const DataUnit& u : c.units)
    d << int(u.kind) << ":" << u.index << ":" << std::hex << u.address << ":" << std::dec << u.length << ":" << u.sum
      << " ";
  d << "data=" << testing::SumOf(c.blocks) << "/" << testing::SumOf(c.boot) << "/" << c.records.size();
  for (const std::string& e : s.Errors()) d << " error=" << e;
  return d.str();
}

const std::vector<TestRecord> kRecords = {
    {0x80001000, Pattern(5000, 1)}, {0x80003000, {}}, {0x80004000, Pattern(3, 2)}, {0, Pattern(7, 3)}};

struct GoodCase {
  const char* name;
  bool autoUpgrade;
  std::function<void(PcStream&)> build;
  const char* expect;  // a part of FeedInPieces()'s description
};

std::vector<GoodCase> GoodCases() {
  const Bytes boot = Pattern(BOOT_AREA_SIZE, 9);
  return {
      {"dio of two blocks", true, [](PcStream& s) { s.Kind(1).Blocks(Pattern(300000, 1)); },
       "complete=1 finished=1 taken=300032 kind=1 blocks blocks=2 records=0 boot=0 te=0 de=0 "
       "bytes=300000/0/0/300032 replies=A R0 R1 "},
      {"one block of exactly the block size", true, [](PcStream& s) { s.Kind(3).Blocks(Pattern(BLOCK_SIZE, 2)); },
       "blocks=1 records=0"},
      {"one byte more than a block", true, [](PcStream& s) { s.Kind(2).Blocks(Pattern(BLOCK_SIZE + 1, 3)); },
       "blocks=2 records=0 boot=0 te=0 de=0 bytes=262145/0/0/262177 replies=A R0 R1 "},
      {"no auto upgrade: no kind packet, no acknowledgement", false, [](PcStream& s) { s.Blocks(Pattern(1000, 4)); },
       "complete=1 finished=1 taken=1012 kind=-1 blocks blocks=1 records=0 boot=0 te=0 de=0 bytes=1000/0/0/1012 "
       "replies=R0 units"},
      {"kind 9 still goes by blocks", true, [](PcStream& s) { s.Kind(9).Blocks(Pattern(10, 5)); },
       "complete=1 finished=1 taken=30 kind=9 blocks blocks=1"},
      {"img: boot area, records, the end command twice", true,
       [boot](PcStream& s) {
         AppendRecordTransfers(s.Kind(5).Transfer(DATA_TYPE_BOOT, 0, boot), kRecords).Command(CMD_DOWNLOAD_END);
       },
       "complete=1 finished=1 taken=136250 kind=5 records blocks=0 records=3 boot=1 te=4 de=2 "
       "bytes=0/131072/5010/136250 replies=A units=1:0:0:131072:"},
      {"raw: the boot area alone", true,
       [boot](PcStream& s) { s.Kind(7).Transfer(DATA_TYPE_BOOT, 0, boot).Command(CMD_DOWNLOAD_END).Command(CMD_DOWNLOAD_END); },
       "complete=1 finished=1 taken=131144 kind=7 records blocks=0 records=0 boot=1 te=1 de=2"},
      {"large bin: records only", true,
       [](PcStream& s) { AppendRecordTransfers(s.Kind(6), kRecords).Command(CMD_DOWNLOAD_END); },
       "complete=1 finished=1 taken=5146 kind=6 records blocks=0 records=3 boot=0 te=3 de=2 bytes=0/0/5010/5146 "
       "replies=A units=2:0:80001000:5000:"},
      {"large bin whose first record is the end", true,
       [](PcStream& s) { s.Kind(6).Command(CMD_DOWNLOAD_END).Command(CMD_DOWNLOAD_END); },
       "complete=1 finished=1 taken=40 kind=6 records blocks=0 records=0 boot=0 te=0 de=2"},
      {"record download before the repeated end command", true,
       [](PcStream& s) { AppendRecordTransfers(s.Kind(6), kRecords); }, "complete=1 finished=0 taken=5130"},
  };
}

TEST(Session, WellFormedDownloadsComplete) {
  for (const GoodCase& c : GoodCases()) {
    PcStream s;
    c.build(s);
    const std::string got = FeedInPieces(c.autoUpgrade, s.Data(), {});
    EXPECT_NE(got.find(c.expect), std::string::npos) << c.name << "\n  got:  " << got << "\n  want: " << c.expect;
    EXPECT_EQ(got.find("error="), std::string::npos) << c.name << ": " << got;
  }
}

TEST(Session, PassesThePayloadOnUnchanged) {
  const Bytes image = Pattern(600000, 7), boot = Pattern(BOOT_AREA_SIZE, 8);
  {
    PcStream s;
    Capture c;
    Session session(c, true);
    session.Start();
    s.Kind(1).Blocks(image);
    session.Feed(s.Data().data(), s.Data().size());
    EXPECT_EQ(c.blocks, image);
  }
  PcStream s;
  AppendRecordTransfers(s.Kind(5).Transfer(DATA_TYPE_BOOT, 0, boot), kRecords);
  Capture c;
  Session session(c, true);
  session.Start();
  session.Feed(s.Data().data(), s.Data().size());
  EXPECT_EQ(c.boot, boot);
  ASSERT_EQ(c.records.size(), 3u);
  EXPECT_EQ(c.records[0], kRecords[0].data);
  EXPECT_EQ(c.records[2], kRecords[3].data);
  EXPECT_EQ(c.units.back().sum, testing::SumOf(kRecords[3].data));
}

struct BadCase {
  const char* name;
  bool autoUpgrade;
  std::function<void(PcStream&)> build;  // Mark() goes right before the offending packet
  const char* error;
  bool completeBefore = false;  // the download had ended before the offending packet
};

std::vector<BadCase> BadCases() {
  const Bytes boot = Pattern(BOOT_AREA_SIZE, 1);
  return {
      {"kind packet with a wrong magic", true, [](PcStream& s) { s.Mark().Kind(1, 0x01234566); },
       "kind packet: magic 0x1234566, expected 0x1234567"},
      {"kind 8 does not exist", true, [](PcStream& s) { s.Mark().Kind(8); }, "kind 8 is not an image kind"},
      {"kind 0 does not exist", true, [](PcStream& s) { s.Mark().Kind(0); }, "kind 0 is not an image kind"},
      {"wrong block tag", true, [](PcStream& s) { s.Kind(1).Mark().BlockHeaderOnly(0, 100, 0x124); },
       "block header 0: tag 0x124, expected 0x123"},
      {"countdown jumps", true, [](PcStream& s) { s.Kind(1).Block(39, BLOCK_SIZE).Mark().BlockHeaderOnly(37, BLOCK_SIZE); },
       "block header 1: countdown 37 after 39, expected 38"},
      {"countdown stands still", true, [](PcStream& s) { s.Kind(1).Block(1, BLOCK_SIZE).Mark().BlockHeaderOnly(1, 5); },
       "countdown 1 after 1, expected 0"},
      {"block longer than the block size", true, [](PcStream& s) { s.Kind(1).Mark().BlockHeaderOnly(0, BLOCK_SIZE + 1); },
       "length 262145 exceeds the block size 262144"},
      {"short block that is not the last", true, [](PcStream& s) { s.Kind(1).Mark().BlockHeaderOnly(1, 1000); },
       "length 1000 in a block that is not the last"},
      {"empty last block", true, [](PcStream& s) { s.Kind(1).Mark().BlockHeaderOnly(0, 0); }, "the last block is empty"},
      {"countdown beyond any 32-bit image", true,
       [](PcStream& s) { s.Kind(1).Mark().BlockHeaderOnly(0xFFFFFFFF, BLOCK_SIZE); }, "more than a 32-bit image can hold"},
      {"kind packet without auto upgrade", false, [](PcStream& s) { s.Mark().Kind(1).BlockHeaderOnly(0, 10); },
       "block header 0: tag 0x0"},
      {"garbage where a data header belongs", true, [](PcStream& s) { s.Kind(6).Mark().Raw(Bytes(16, 0x11)); },
       "expected a data header or the download-end command, got magic 0x11111111"},
      {"the two magics swapped", true,
       [](PcStream& s) { s.Kind(6).Mark().DataHeaderOnly(DATA_TYPE_RECORD, 0x1000, 4, COMMAND_MAGIC); },
       "unknown command 0x20000"},
      {"transfer end missing", true,
       [](PcStream& s) {
         s.Kind(6).DataHeaderOnly(DATA_TYPE_RECORD, 0x1000, 4).Raw(Bytes(4, 1)).Mark().DataHeaderOnly(DATA_TYPE_RECORD, 0x2000, 4);
       },
       "expected the transfer-end command, got a data header"},
      {"download end in place of the transfer end", true,
       [](PcStream& s) { s.Kind(6).DataHeaderOnly(DATA_TYPE_RECORD, 0x1000, 4).Raw(Bytes(4, 1)).Mark().Command(CMD_DOWNLOAD_END); },
       "expected the transfer-end command, got the download-end command"},
      {"transfer end without a transfer", true, [](PcStream& s) { s.Kind(6).Mark().Command(CMD_TRANSFER_END); },
       "transfer-end command without a data transfer"},
      {"unknown command", true, [](PcStream& s) { s.Kind(6).Mark().Command(0x400000); }, "unknown command 0x400000"},
      {"reserved words not zero", true, [](PcStream& s) { s.Kind(6).Mark().Command(CMD_DOWNLOAD_END, 1, 0); },
       "command 0x800000: reserved words 0x1, 0x0, expected 0"},
      {"boot area in a large bin", true, [](PcStream& s) { s.Kind(6).Mark().DataHeaderOnly(DATA_TYPE_BOOT, 0, BOOT_AREA_SIZE); },
       "boot area in a download of kind 6"},
      {"boot area at a non-zero address", true,
       [](PcStream& s) { s.Kind(5).Mark().DataHeaderOnly(DATA_TYPE_BOOT, 0x100, BOOT_AREA_SIZE); },
       "boot area at address 0x100, expected 0"},
      {"boot area of the wrong size", true, [](PcStream& s) { s.Kind(7).Mark().DataHeaderOnly(DATA_TYPE_BOOT, 0, 0x10000); },
       "boot area of 65536 bytes, expected 131072"},
      {"second boot area", true,
       [boot](PcStream& s) { s.Kind(5).Transfer(DATA_TYPE_BOOT, 0, boot).Mark().DataHeaderOnly(DATA_TYPE_BOOT, 0, BOOT_AREA_SIZE); },
       "boot area that is not the first transfer"},
      {"record before the boot area", true, [](PcStream& s) { s.Kind(5).Mark().DataHeaderOnly(DATA_TYPE_RECORD, 0x1000, 4); },
       "record 0: record before the boot area"},
      {"record in a raw download", true,
       [boot](PcStream& s) { s.Kind(7).Transfer(DATA_TYPE_BOOT, 0, boot).Mark().DataHeaderOnly(DATA_TYPE_RECORD, 0x1000, 4); },
       "a raw download (kind 7) carries only the boot area"},
      {"empty record on the wire", true, [](PcStream& s) { s.Kind(6).Mark().DataHeaderOnly(DATA_TYPE_RECORD, 0x1000, 0); },
       "data header of length 0"},
      {"unknown transfer type", true, [](PcStream& s) { s.Kind(6).Mark().DataHeaderOnly(0x30000, 0x1000, 4); },
       "data header of unknown type 0x30000"},
      {"download end before the boot area", true, [](PcStream& s) { s.Kind(5).Mark().Command(CMD_DOWNLOAD_END); },
       "download-end command before the boot area"},
      {"something else after the end command", true,
       [](PcStream& s) { s.Kind(6).Command(CMD_DOWNLOAD_END).Mark().DataHeaderOnly(DATA_TYPE_RECORD, 0x1000, 4); },
       "expected the repeated download-end command, got a data header", true},
  };
}

TEST(Session, ViolationsAreCaughtWithTheirOffset) {
  for (const BadCase& c : BadCases()) {
    PcStream s;
    c.build(s);
    s.Raw(Bytes(40, 0));  // whatever follows is not taken
    Capture cap;
    Session session(cap, c.autoUpgrade);
    session.Start();
    const size_t taken = session.Feed(s.Data().data(), s.Data().size());
    ASSERT_EQ(session.Errors().size(), 1u) << c.name;
    const std::string& e = session.Errors()[0];
    EXPECT_NE(e.find(c.error), std::string::npos) << c.name << ": " << e;
    EXPECT_NE(e.find("(at byte " + std::to_string(s.MarkedAt()) + ")"), std::string::npos) << c.name << ": " << e;
    EXPECT_TRUE(session.Failed() && session.Finished()) << c.name;
    EXPECT_EQ(session.Complete(), c.completeBefore) << c.name;
    EXPECT_LT(taken, s.Data().size()) << c.name;
    EXPECT_EQ(session.Feed(s.Data().data(), 16), 0u) << c.name << ": takes data after the error";
  }
}

// How a stream is cut must not matter: byte by byte, and in two at every offset (or, for
// long streams, at every offset near the packets and a sample of the rest).
TEST(Session, CuttingTheStreamAnywhereGivesTheSameResult) {
  std::vector<std::pair<bool, Bytes>> streams;
  for (const GoodCase& c : GoodCases()) {
    PcStream s;
    c.build(s);
    streams.push_back({c.autoUpgrade, s.Data()});
  }
  for (const BadCase& c : BadCases()) {
    PcStream s;
    c.build(s);
    streams.push_back({c.autoUpgrade, s.Data()});
  }
  for (const auto& [autoUpgrade, stream] : streams) {
    const std::string whole = FeedInPieces(autoUpgrade, stream, {});
    std::vector<size_t> everyByte;
    for (size_t i = 1; i < stream.size(); ++i) everyByte.push_back(i);
    ASSERT_EQ(FeedInPieces(autoUpgrade, stream, everyByte), whole);
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
      if (stream.size() > 4096 && cut > 200 && cut + 200 < stream.size() && cut % 4099 != 0) continue;
      ASSERT_EQ(FeedInPieces(autoUpgrade, stream, {cut}), whole) << "cut at " << cut;
    }
  }
}

TEST(Session, AsksForEachBlockOnlyWhenThePreviousOneIsIn) {
  PcStream s;
  s.Kind(1).Blocks(Pattern(BLOCK_SIZE + 5, 1));
  Capture c;
  Session session(c, true);
  session.Start();
  EXPECT_EQ(c.replies, "A");
  const size_t firstBlockEnd = 8 + 12 + BLOCK_SIZE;
  session.Feed(s.Data().data(), firstBlockEnd - 1);
  EXPECT_EQ(c.replies, "A R0");
  EXPECT_EQ(session.Expecting(), "the data of block 0 (262143 of 262144 bytes)");
  session.Feed(s.Data().data() + firstBlockEnd - 1, 1);
  EXPECT_EQ(c.replies, "A R0 R1");
  EXPECT_EQ(session.Expecting(), "block header 1");
  session.GiveUp("timed out waiting for " + session.Expecting());
  EXPECT_EQ(session.Errors(), std::vector<std::string>{"timed out waiting for block header 1"});
  EXPECT_TRUE(session.Finished());
}

// Arbitrary input, half of it behind a valid kind packet: the session must neither crash
// nor read past what it is given nor take bytes after its first error.
TEST(Session, SurvivesArbitraryInput) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 3000; ++round) {
    Bytes input;
    const bool autoUpgrade = round % 3 != 0;
    if (round % 2) {
      const int32_t kinds[] = {1, 5, 6, 7};
      PcStream s;
      s.Kind(kinds[rng() % 4]);
      input = s.Data();
    }
    const size_t n = rng() % 200;
    for (size_t i = 0; i < n; ++i) input.push_back(uint8_t(rng() % 4 == 0 ? 0 : rng()));
    Capture c;
    Session session(c, autoUpgrade);
    session.Start();
    size_t at = 0;
    while (at < input.size()) {
      const size_t piece = std::min<size_t>(1 + rng() % 17, input.size() - at);
      const size_t taken = session.Feed(input.data() + at, piece);
      ASSERT_LE(taken, piece);
      if (taken < piece) {
        ASSERT_TRUE(session.Finished());
      }
      at += piece;
    }
    ASSERT_LE(session.Errors().size(), 1u);
    if (session.Failed()) {
      ASSERT_EQ(session.Feed(input.data(), input.size()), 0u);
    }
  }
}

}  // namespace
}  // namespace brenvik::handset
