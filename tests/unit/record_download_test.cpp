#include <gtest/gtest.h>

#include "download/bin_stream.h"
#include "fakes/download_rig.h"

namespace brenvik {
namespace {

using namespace testing;

constexpr size_t kRecords = 0x2000F + 12;  // first record's data in an img

Bytes Img(const std::vector<RecordInput>& records, size_t padTo = 0) {
  Bytes out = PatternBytes(0x20000, 99);
  Bytes stream = MakeBinStream(records);
  out.insert(out.end(), stream.begin(), stream.end());
  if (out.size() < padTo) out.resize(padTo, 0xEE);  // bytes after the end record are never sent
  return out;
}

// Scripts every record of `records` laid out from `offset` (the first record header).
void ExpectRecords(DownloadRig& rig, size_t offset, const std::vector<RecordInput>& records) {
  for (const auto& r : records) {
    if (!r.data.empty())
      ExpectTransfer(*rig.dev, DATA_TYPE_RECORD, r.address, rig.At(offset + 12), uint32_t(r.data.size()));
    offset += 12 + r.data.size();
  }
}

TEST(DownloadImgRaw, ImgSendsBootAreaThenEveryRecordThenTheEnd) {
  std::vector<RecordInput> records = {
      {0x80001000, PatternBytes(5000, 1)},
      {0x80003000, {}},                         // length 0: nothing goes out
      {0, PatternBytes(10, 2), 0x1234},          // address 0, checksum set: not the end
      {0x80004000, PatternBytes(4096, 3), 0},    // checksum 0, address set: not the end
  };
  DownloadRig rig("fw.img", Img(records));
  ExpectTransfer(*rig.dev, DATA_TYPE_BOOT, 0, rig.At(0), 0x20000);
  ExpectRecords(rig, kRecords - 12, records);
  ExpectDownloadEnd(*rig.dev);
  auto ctx = rig.Context(KIND_IMG);
  rig.Take(DownloadImgRaw(ctx));
  EXPECT_EQ(rig.errors, 0);
  // A small file: the record count stands in for a range that would wrap.
  EXPECT_EQ(rig.shown.ranges, (std::vector<uint32_t>{100, 4}));
  EXPECT_EQ(rig.shown.positions, (std::vector<uint32_t>{0, 100, 0, 0, 1, 2, 3}));
  EXPECT_EQ(rig.shown.statuses.size(), 5u);
}

TEST(DownloadImgRaw, RawSendsTheBootAreaAlone) {
  DownloadRig rig("fw.raw", PatternBytes(0x30000));
  ExpectTransfer(*rig.dev, DATA_TYPE_BOOT, 0, rig.At(0), 0x20000);
  ExpectDownloadEnd(*rig.dev);
  auto ctx = rig.Context(KIND_RAW);
  rig.Take(DownloadImgRaw(ctx));
  EXPECT_EQ(rig.errors, 0);
  EXPECT_EQ(rig.shown.ranges, std::vector<uint32_t>{100});
  EXPECT_EQ(rig.shown.positions.back(), 100u);
  EXPECT_EQ(rig.shown.statuses, std::vector<std::string>{"00 Minutes, 00 Seconds   Speed:128 KBS"});
}

TEST(DownloadOut, RecordsFromTheFirstByte) {
  std::vector<RecordInput> records = {{0x1000, PatternBytes(0x1234, 4)}, {0x9000, PatternBytes(3, 5)}};
  Bytes file = MakeBinStream(records);
  file.resize(600000, 0);
  DownloadRig rig("big.bin", file);
  ExpectRecords(rig, 15, records);
  ExpectDownloadEnd(*rig.dev);
  auto ctx = rig.Context(KIND_LARGE_BIN);
  rig.Take(DownloadOut(ctx));
  EXPECT_EQ(rig.errors, 0);
  EXPECT_EQ(rig.shown.ranges, (std::vector<uint32_t>{100, 600000 / 0x1234}));
  EXPECT_EQ(rig.shown.statuses.back(), "00 Minutes, 00 Seconds   Speed:585 KBS");
}

TEST(DownloadOut, FirstRecordIsTheEndRecord) {
  Bytes file = MakeBinStream({}, 0x80002000);
  file.resize(520000, 0);
  DownloadRig rig("big.bin", file);
  ExpectDownloadEnd(*rig.dev);
  auto ctx = rig.Context(KIND_LARGE_BIN);
  rig.Take(DownloadOut(ctx));
  EXPECT_EQ(rig.errors, 0);
  EXPECT_EQ(rig.shown.statuses, std::vector<std::string>{"00 Minutes, 00 Seconds   Speed:507 KBS"});
}

TEST(RecordDownload, ProgressRanges) {
  struct Case {
    const char* name;
    const char* file;
    Bytes image;
    uint32_t range;
  } cases[] = {
      {"img of 16 MiB, first record 4096", "a.img",
       Img({{0x1000, PatternBytes(4096)}, {0x2000, PatternBytes(16000000)}}, 16777216), 3888},
      {"large bin of 1000000, first record 4096", "a.bin",
       [] {
         Bytes b = MakeBinStream({{0x1000, PatternBytes(4096)}});
         b.resize(1000000);
         return b;
       }(),
       244},
      {"range above 65535 is not wrapped", "a.bin",
       [] {
         Bytes b = MakeBinStream({{0x1000, PatternBytes(8)}});
         b.resize(600000);
         return b;
       }(),
       75000},
      {"first record of length 0", "a.bin",
       [] {
         Bytes b = MakeBinStream({{0x1000, {}}});
         b.resize(600000);
         return b;
       }(),
       100},
  };
  for (const auto& c : cases) {
    DownloadRig rig(c.file, c.image);
    const bool img = std::string(c.file).ends_with("img");
    if (img) ExpectTransfer(*rig.dev, DATA_TYPE_BOOT, 0, rig.At(0), 0x20000);
    BinRecordWalker walker(rig.image.data(), rig.image.size(), img ? kRecords - 12 : 15);
    while (auto r = walker.Next()) {
      if (r->IsEnd()) break;
      if (r->length) ExpectTransfer(*rig.dev, DATA_TYPE_RECORD, r->address, r->data, r->length);
    }
    ExpectDownloadEnd(*rig.dev);
    auto ctx = rig.Context(img ? KIND_IMG : KIND_LARGE_BIN);
    rig.Take(img ? DownloadImgRaw(ctx) : DownloadOut(ctx));
    EXPECT_EQ(rig.shown.ranges.back(), c.range) << c.name;
    EXPECT_EQ(rig.errors, 0) << c.name;
  }
}

// A malformed file sends nothing at all: no half-written image, nothing past the file.
TEST(RecordDownload, MalformedStreamsSendNothing) {
  auto cut = [](Bytes b, size_t drop) {
    b.resize(b.size() - drop);
    return b;
  };
  Bytes good = Img({{0x1000, PatternBytes(100)}});
  Bytes lengthPastEnd = good;
  lengthPastEnd[kRecords - 8] = 0xFF;  // the record's length now runs far past the end
  Bytes hugeLength = good;
  for (int i = 0; i < 4; ++i) hugeLength[kRecords - 8 + i] = 0xFF;
  struct Case {
    const char* name;
    const char* file;
    int32_t kind;
    Bytes image;
  } cases[] = {
      {"img without end record", "a.img", KIND_IMG, cut(good, 12)},
      {"img end record cut short", "a.img", KIND_IMG, cut(good, 5)},
      {"img record data past the end", "a.img", KIND_IMG, lengthPastEnd},
      {"img record length 0xFFFFFFFF", "a.img", KIND_IMG, hugeLength},
      {"img shorter than the boot area", "a.img", KIND_IMG, PatternBytes(0x1FFFF)},
      {"img of the boot area alone", "a.img", KIND_IMG, PatternBytes(0x20000)},
      {"img stream header cut", "a.img", KIND_IMG, PatternBytes(0x20000 + 14)},
      {"raw shorter than the boot area", "a.raw", KIND_RAW, PatternBytes(1000)},
      {"large bin without end record", "a.bin", KIND_LARGE_BIN,
       [] {
         Bytes b = MakeBinStream({{0x1000, PatternBytes(600000)}});
         b.resize(b.size() - 12);
         return b;
       }()},
      {"large bin header only", "a.bin", KIND_LARGE_BIN, PatternBytes(10)},
      {"empty file", "a.img", KIND_IMG, {}},
  };
  for (const auto& c : cases) {
    DownloadRig rig(c.file, c.image);  // no device step scripted: any write fails the test
    auto ctx = rig.Context(c.kind);
    rig.Take(c.kind == KIND_LARGE_BIN ? DownloadOut(ctx) : DownloadImgRaw(ctx));
    EXPECT_EQ(rig.errors, 1) << c.name;
  }
}

TEST(RecordDownload, AFailedTransferIsCountedOnceAndEndsTheProcedure) {
  std::vector<RecordInput> records = {{0x1000, PatternBytes(5000)}, {0x3000, PatternBytes(100)}};
  struct Case {
    const char* name;
    std::function<void(DownloadRig&)> script;
  } cases[] = {
      {"boot header fails", [](DownloadRig& r) { r.dev->ExpectWriteFails(16); }},
      {"boot data fails",
       [](DownloadRig& r) {
         auto h = Encode(DataHeader{DATA_MAGIC, DATA_TYPE_BOOT, 0, 0x20000});
         r.dev->ExpectWrite(Bytes(h.begin(), h.end()));
         r.dev->ExpectWriteFails(4096);
       }},
      {"record transfer end fails",
       [&](DownloadRig& r) {
         ExpectTransfer(*r.dev, DATA_TYPE_BOOT, 0, r.At(0), 0x20000);
         auto h = Encode(DataHeader{DATA_MAGIC, DATA_TYPE_RECORD, 0x1000, 5000});
         r.dev->ExpectWrite(Bytes(h.begin(), h.end()));
         ExpectChunked(*r.dev, r.At(kRecords), 5000);
         r.dev->ExpectWriteFails(16, 3);
       }},
  };
  for (const auto& c : cases) {
    DownloadRig rig("a.img", Img(records));
    c.script(rig);
    auto ctx = rig.Context(KIND_IMG);
    rig.Take(DownloadImgRaw(ctx));
    EXPECT_EQ(rig.errors, 1) << c.name;
    EXPECT_EQ(rig.link.ErrorText(), "Error: couldn't write USB data") << c.name;
  }
}

}  // namespace
}  // namespace brenvik
