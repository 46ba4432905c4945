#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "faults.h"
#include "pc_streams.h"
#include "recorder.h"

namespace brenvik::handset {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::Pattern;
using testing::PcStream;
using testing::ReadFile;
using testing::TestRecord;

class RecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("handset-recorder-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
            "-" + std::to_string(::getpid()));  // runs of two builds at once never share a folder
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Feeds `stream` (all of it, or the first `cut` bytes) to a session whose payload goes to
  // files under out/, checked against `reference`.
  void Receive(const Bytes& stream, const Bytes& reference, size_t cut = SIZE_MAX) {
    testing::WriteFile(Path("reference"), reference);
    std::string error;
    ASSERT_TRUE(expected_.emplace().Open(Path("reference"), error)) << error;
    files_.emplace(Path("out"));
    recorder_.emplace([](const Reply&) {}, &*files_, &*expected_, 2);
    Session session(*recorder_, true);
    session.Start();
    session.Feed(stream.data(), std::min(cut, stream.size()));
    complete_ = session.Complete();
    recorder_->Finish();
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  Bytes Out(const std::string& name) const { return ReadFile(Path("out/" + name)); }

  fs::path dir_;
  std::optional<ExpectedImage> expected_;
  std::optional<OutputFiles> files_;
  std::optional<SessionRecorder> recorder_;
  bool complete_ = false;
};

const Bytes kBoot = Pattern(BOOT_AREA_SIZE, 3);
const std::vector<TestRecord> kRecords = {
    {0x80001000, Pattern(5000, 1)}, {0x80003000, {}}, {0x80004000, Pattern(300, 2)}, {0, Pattern(7, 3)}};

Bytes ImgStream(const std::vector<TestRecord>& records) {
  PcStream s;
  AppendRecordTransfers(s.Kind(KIND_IMG).Transfer(DATA_TYPE_BOOT, 0, kBoot), records).Command(CMD_DOWNLOAD_END);
  return s.Data();
}

TEST_F(RecorderTest, ImgLandsInBootAndRecordFilesAndMatchesItsReference) {
  Receive(ImgStream(kRecords), testing::Concat(kBoot, testing::BinStreamFile(kRecords)));
  EXPECT_TRUE(files_->Error().empty()) << files_->Error();
  EXPECT_EQ(Out("boot.bin"), kBoot);
  EXPECT_EQ(Out("records.bin"), testing::ReceivedRecordsFile(kRecords));
  EXPECT_FALSE(fs::exists(Path("out/image.bin")));
  EXPECT_TRUE(expected_->Matches(complete_)) << expected_->Difference();
  // The list stops at its cap; the rest is only counted.
  ASSERT_EQ(recorder_->RecordList().size(), 2u);
  EXPECT_TRUE(recorder_->ListTruncated());
  const RecordEntry& first = recorder_->RecordList()[0];
  EXPECT_EQ(first.address, 0x80001000u);
  EXPECT_EQ(first.sum, testing::SumOf(kRecords[0].data));
  ASSERT_TRUE(first.verdict);
  EXPECT_TRUE(first.verdict->checksumOk && first.verdict->matches);
}

TEST_F(RecorderTest, DifferencesFromTheReferenceAreFoundRecordByRecord) {
  struct Case {
    const char* name;
    std::function<void(std::vector<TestRecord>&, Bytes& boot)> alter;  // applied to the reference
    bool checksumOk;  // of the first record
    bool matches;     // of the first record
    const char* difference;
  } cases[] = {
      {"wrong checksum field", [](auto& r, Bytes&) { r[0].checksum = 1; }, false, false, "record 0 differs"},
      {"same sum, other data", [](auto& r, Bytes&) { std::swap(r[0].data[0], r[0].data[1]); r[0].checksum = testing::SumOf(kRecords[0].data); },
       true, false, "record 0 differs"},
      {"other address", [](auto& r, Bytes&) { r[0].address = 0x80002000; }, true, false, "record 0 differs"},
      {"a record more in the reference", [](auto& r, Bytes&) { r.push_back({0x80009000, Pattern(5, 5)}); }, true, true,
       "only 3 of the reference's 4 records arrived"},
      {"a record fewer in the reference", [](auto& r, Bytes&) { r.pop_back(); }, true, true, "record 2 is not in the reference"},
      {"other boot area", [](auto&, Bytes& boot) { boot[100] ^= 1; }, true, true, "the boot area differs"},
  };
  for (const Case& c : cases) {
    std::vector<TestRecord> reference = kRecords;
    Bytes boot = kBoot;
    c.alter(reference, boot);
    Receive(ImgStream(kRecords), testing::Concat(boot, testing::BinStreamFile(reference)));
    EXPECT_FALSE(expected_->Matches(complete_)) << c.name;
    EXPECT_NE(expected_->Difference().find(c.difference), std::string::npos) << c.name << ": " << expected_->Difference();
    ASSERT_TRUE(recorder_->RecordList()[0].verdict) << c.name;
    EXPECT_EQ(recorder_->RecordList()[0].verdict->checksumOk, c.checksumOk) << c.name;
    EXPECT_EQ(recorder_->RecordList()[0].verdict->matches, c.matches) << c.name;
  }
}

TEST_F(RecorderTest, ARecordCutShortIsLeftOutOfRecordsBin) {
  const Bytes stream = ImgStream(kRecords);
  const size_t inSecondRecord = 8 + 16 + BOOT_AREA_SIZE + 16 + (16 + 5000 + 16) + 16 + 100;
  Receive(stream, testing::Concat(kBoot, testing::BinStreamFile(kRecords)), inSecondRecord);
  EXPECT_FALSE(complete_);
  EXPECT_EQ(Out("records.bin"), testing::ReceivedRecordsFile({kRecords[0]}));
  EXPECT_FALSE(expected_->Matches(complete_));
}

TEST_F(RecorderTest, BlocksGoToImageBinAndAreComparedByteForByte) {
  const Bytes image = Pattern(300000, 4);
  PcStream s;
  s.Kind(KIND_DIO).Blocks(image);
  Receive(s.Data(), image);
  EXPECT_EQ(Out("image.bin"), image);
  EXPECT_TRUE(expected_->Matches(complete_)) << expected_->Difference();

  Bytes other = image;
  other[262144 + 7] ^= 0x80;
  Receive(s.Data(), other);
  EXPECT_FALSE(expected_->Matches(complete_));
  EXPECT_EQ(expected_->Difference(), "byte 262151 differs from the reference");

  Receive(s.Data(), testing::Concat(image, Bytes(1, 0)));
  EXPECT_NE(expected_->Difference().find("only 300000 of the reference's 300001 bytes arrived"), std::string::npos)
      << expected_->Difference();
}

// Flips every byte of [from, to]; flipping again restores them.
Bytes Corrupt(Bytes b, size_t from, size_t to) {
  for (size_t i = from; i <= to; ++i) b[i] ^= 0xFF;
  return b;
}

TEST_F(RecorderTest, DifferencesAreListedAsRanges) {
  const Bytes image = Pattern(600000, 4);  // three blocks
  PcStream blocks;
  blocks.Kind(KIND_DIO).Blocks(image);
  Bytes thirteenBytes = image;
  std::vector<std::string> firstTenBytes;
  for (size_t i = 0; i < 13; ++i) {
    thirteenBytes[7 + i * 10000] ^= 1;
    if (i < 10) firstTenBytes.push_back("byte " + std::to_string(7 + i * 10000) + " differs from the reference");
  }

  std::vector<TestRecord> records;
  for (uint32_t i = 0; i < 24; ++i) records.push_back({0x80000000 + i * 0x1000, Pattern(100 + i, 20 + i)});
  const Bytes recordStream = ImgStream(records);
  auto recordReference = [&](std::initializer_list<size_t> altered, Bytes boot = kBoot) {
    std::vector<TestRecord> r = records;
    for (size_t i : altered) r[i].data[0] ^= 1;
    return testing::Concat(boot, testing::BinStreamFile(r));
  };
  std::vector<std::string> firstTenEvenRecords;
  for (size_t i = 0; i < 20; i += 2) firstTenEvenRecords.push_back("record " + std::to_string(i) + " differs from the reference");
  std::vector<TestRecord> fewer(records.begin(), records.end() - 2);

  struct Case {
    const char* name;
    Bytes stream, reference;
    std::vector<std::string> listed;
    uint64_t unlisted;
  } cases[] = {
      {"two corrupted areas", blocks.Data(), Corrupt(Corrupt(image, 1000, 1099), 300000, 300049),
       {"bytes 1000..1099 differ from the reference", "bytes 300000..300049 differ from the reference"}, 0},
      {"one area across a block boundary, a few bytes in it equal", blocks.Data(),
       Corrupt(Corrupt(image, 262100, 262200), 262150, 262159), {"bytes 262100..262200 differ from the reference"}, 0},
      {"thirteen bytes far apart", blocks.Data(), thirteenBytes, firstTenBytes, 3},
      {"a shorter reference", blocks.Data(), Bytes(image.begin(), image.end() - 100),
       {"bytes 599900..599999 arrived past the reference's end"}, 0},
      {"one wrong record", recordStream, recordReference({4}), {"record 4 differs from the reference"}, 0},
      {"records in a row", recordStream, recordReference({2, 3, 4, 7}),
       {"records 2..4 differ from the reference", "record 7 differs from the reference"}, 0},
      {"the boot area and a record", recordStream, recordReference({5}, Corrupt(kBoot, 9, 9)),
       {"the boot area differs from the reference", "record 5 differs from the reference"}, 0},
      {"every other record", recordStream, recordReference({0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22}),
       firstTenEvenRecords, 2},
      {"the last two records not in the reference", recordStream, testing::Concat(kBoot, testing::BinStreamFile(fewer)),
       {"records 22..23 are not in the reference"}, 0},
  };
  for (const Case& c : cases) {
    Receive(c.stream, c.reference);
    EXPECT_TRUE(complete_) << c.name;
    EXPECT_FALSE(expected_->Matches(complete_)) << c.name;
    EXPECT_EQ(expected_->Differences(), c.listed) << c.name;
    EXPECT_EQ(expected_->Unlisted(), c.unlisted) << c.name;
    EXPECT_EQ(expected_->Difference(), c.listed.front()) << c.name;
  }
}

TEST(Faults, SpecsAreParsedOrRefused) {
  struct Case {
    const char* faultArg;
    bool ok;
  } cases[] = {
      {"no-ack", true},       {"wrong-ready=0", true},  {"silent-from=12", true}, {"drop-after=100000", true},
      {"no-ack=1", false},    {"wrong-ready", false},   {"wrong-ready=", false},  {"wrong-ready=-1", false},
      {"silent-from=x", false}, {"drop-after=1k", false}, {"drop", false},        {"", false},
  };
  for (const Case& c : cases) {
    FaultPlan plan;
    std::string error;
    EXPECT_EQ(AddFault(plan, c.faultArg, error), c.ok) << c.faultArg;
    EXPECT_EQ(error.empty(), c.ok) << c.faultArg;
  }
}

TEST(Faults, ShapeTheRepliesAsPlanned) {
  const Reply ack{Reply::Kind::kUpgradeAck, 0, MakeInPacket(UPGRADE_ACK_BYTE)};
  auto ready = [](uint32_t block) { return Reply{Reply::Kind::kReady, block, MakeInPacket(READY_BYTE)}; };
  FaultPlan plan;
  std::string error;
  ASSERT_TRUE(AddFault(plan, "no-ack", error) && AddFault(plan, "wrong-ready=1", error) &&
              AddFault(plan, "silent-from=3", error));
  FaultLog log;
  EXPECT_FALSE(ShapeReply(plan, log, ack));
  EXPECT_EQ(ShapeReply(plan, log, ready(0)), MakeInPacket(READY_BYTE));
  EXPECT_EQ(ShapeReply(plan, log, ready(1)), MakeInPacket(kWrongReadyByte));
  EXPECT_EQ(ShapeReply(plan, log, ready(2)), MakeInPacket(READY_BYTE));
  EXPECT_FALSE(ShapeReply(plan, log, ready(3)));
  EXPECT_TRUE(log.ackWithheld && log.wrongReadySent);
  EXPECT_EQ(log.silentAtBlock, 3u);
  // Once silent, nothing more goes out.
  EXPECT_FALSE(ShapeReply(FaultPlan{}, log, ready(4)));
}

}  // namespace
}  // namespace brenvik::handset
