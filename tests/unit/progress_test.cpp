#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "download/rate_meter.h"
#include "fakes/download_rig.h"
#include "progress_text.h"
#include "text/display_width.h"

namespace brenvik {
namespace {

constexpr double kMiB = 1 << 20;

// Bytes sent by time t on a synthetic timeline; the meter is fed every 10 ms up to `at`.
struct Timeline {
  const char* name;
  std::function<double(double)> bytesAt;
  double total;
  double at;
  std::optional<double> rate;  // expected, within 5 %; none: no rate shown
  std::optional<double> left;  // expected, within 10 %; none: no time left shown
  double average;              // from the first byte to the last, however long after
};

TEST(RateMeter, SyntheticTimelines) {
  const Timeline cases[] = {
      {"steady, before half a second", [](double t) { return t * kMiB; }, 10 * kMiB, 0.4, {}, {}, kMiB},
      {"steady, after 2 s", [](double t) { return t * kMiB; }, 10 * kMiB, 2.0, kMiB, 8.0, kMiB},
      {"steady, half way", [](double t) { return t * kMiB; }, 10 * kMiB, 5.0, kMiB, 5.0, kMiB},
      {"a stall longer than the window", [](double t) { return std::min(t, 6.0) * kMiB; }, 10 * kMiB, 12.0, 0.0, {}, kMiB},
      {"a burst after a wait", [](double t) { return t < 5 ? 0 : std::min(t - 5, 1.0) * 10 * kMiB; }, 20 * kMiB, 6.0,
       2 * kMiB, 5.0, 10 * kMiB / 6},
      {"a very slow start is forgotten", [](double t) { return t < 10 ? t * 10240 : 102400 + (t - 10) * kMiB; },
       20 * kMiB, 16.0, kMiB, 13.8, (102400 + 6 * kMiB) / 16},
  };
  for (const Timeline& c : cases) {
    SCOPED_TRACE(c.name);
    double now = 100.0;
    RateMeter meter([&] { return now; });
    for (int step = 0; step <= int(c.at * 100 + 0.5); ++step) {
      now = 100.0 + step / 100.0;
      meter.Update(uint64_t(c.bytesAt(step / 100.0)), uint64_t(c.total));
    }
    const auto rate = meter.Rate();
    ASSERT_EQ(rate.has_value(), c.rate.has_value());
    if (rate) {
      EXPECT_NEAR(*rate, *c.rate, *c.rate * 0.05 + 1);
    }
    const auto left = meter.SecondsLeft();
    ASSERT_EQ(left.has_value(), c.left.has_value());
    if (left) {
      EXPECT_NEAR(*left, *c.left, *c.left * 0.1);
    }
    now += 3;  // the run's end, drained and concluded
    EXPECT_NEAR(meter.AverageRate().value_or(0), c.average, c.average * 0.01);
  }
}

// The bytes a procedure reports are those it wrote, their total known before the first one,
// also where the record position runs past its range.
TEST(ProgressBytes, EveryProcedureCountsWhatItWrote) {
  using namespace testing;
  const std::vector<RecordInput> records = {
      {0x80001000, PatternBytes(5000, 1)}, {0x80003000, {}}, {0x80004000, PatternBytes(4096, 3)}};
  Bytes img = PatternBytes(0x20000, 9);
  const Bytes stream = MakeBinStream(records);
  img.insert(img.end(), stream.begin(), stream.end());
  Bytes bin = stream;
  bin.resize(600000, 0);
  struct Case {
    const char* name;
    int32_t kind;
    Bytes file;
    std::function<void(DownloadRig&)> script;
    std::function<Outcome(DownloadContext&)> run;
    uint64_t total;
  };
  auto scriptRecords = [&](DownloadRig& rig, size_t offset) {
    for (const auto& r : records) {
      if (!r.data.empty()) ExpectTransfer(*rig.dev, DATA_TYPE_RECORD, r.address, rig.At(offset + 12), uint32_t(r.data.size()));
      offset += 12 + r.data.size();
    }
    ExpectDownloadEnd(*rig.dev);
  };
  const uint64_t recordBytes = 2 * 32 + 5000 + 4096;
  const Case cases[] = {
      {"blocks", KIND_DIO, PatternBytes(300000),
       [](DownloadRig& rig) {
         for (uint32_t following : {1u, 0u}) {
           const uint32_t length = following ? 262144 : 300000 - 262144;
           rig.dev->AddRead(Repeat(READY_BYTE, 16));
           auto h = Encode(BlockHeader{following, length, BLOCK_TAG});
           rig.dev->ExpectWrite(Bytes(h.begin(), h.end()));
           ExpectChunked(*rig.dev, rig.At(following ? 0 : 262144), length);
         }
       },
       DownloadBlocks, 2 * 12 + 300000},
      {"img", KIND_IMG, img,
       [&](DownloadRig& rig) {
         ExpectTransfer(*rig.dev, DATA_TYPE_BOOT, 0, rig.At(0), 0x20000);
         scriptRecords(rig, 0x2000F);
       },
       DownloadImgRaw, 32 + 0x20000 + recordBytes},
      {"large bin", KIND_LARGE_BIN, bin, [&](DownloadRig& rig) { scriptRecords(rig, 15); }, DownloadOut, recordBytes},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DownloadRig rig("fw", c.file);
    c.script(rig);
    auto ctx = rig.Context(c.kind);
    rig.Take(c.run(ctx));
    ASSERT_EQ(rig.errors, 0);
    const auto& bytes = rig.shown.bytes;
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.front(), std::make_pair(uint64_t(0), c.total));
    EXPECT_EQ(bytes.back(), std::make_pair(c.total, c.total));
    // Everything but the download-end command of a record download.
    EXPECT_EQ(c.total, rig.link.BytesSent() - (c.kind == KIND_DIO ? 0 : 16));
    for (size_t i = 1; i < bytes.size(); ++i) EXPECT_LE(bytes[i - 1].first, bytes[i].first);
  }
}

using namespace brenvik::cli;
using namespace brenvik::text;

BoardRow Row(std::string name, RowState state, std::string text, unsigned percent = 40) {
  return BoardRow{std::move(name), state, Figures{percent, "12.0/32.0 MiB", "7.9 MiB/s", "0:02 left"}, std::move(text)};
}

TEST(BoardFit, RowsFitTheTerminalAndCountsStandInForRowsThatDoNot) {
  const std::string longName = "/dev/serial/by-id/usb-Vendor_Handset_0123456789ABCDEF-if00-port0";
  const std::string chinese = "\xE5\x8D\x87\xE7\xBA\xA7\xE6\x88\x90\xE5\x8A\x9F";  // four wide characters
  std::vector<BoardRow> few = {Row(longName, RowState::kFlashing, "00 Minutes, 03 Seconds   Speed:10 KBS"),
                               Row("/dev/ttyUSB1", RowState::kDone, "Update Sucess! " + chinese, 100),
                               Row("/dev/ttyUSB2", RowState::kFailed, chinese + chinese + chinese + chinese)};
  std::vector<BoardRow> many;
  for (int i = 0; i < 30; ++i)
    many.push_back(Row("/dev/ttyUSB" + std::to_string(i),
                       i < 12 ? RowState::kDone : i < 14 ? RowState::kFailed : i < 24 ? RowState::kFlashing
                                                                                      : RowState::kWaiting,
                       "x"));
  std::vector<BoardRow> oneLeft(7, Row("/dev/ttyUSB0", RowState::kDone, "x"));
  oneLeft.push_back(Row("/dev/ttyUSB7", RowState::kGone, "gone"));  // a handset that left waits for nothing
  struct Case {
    const std::vector<BoardRow>& rows;
    size_t width, height;
    size_t lines;
    std::string first;  // the first line begins so
    std::vector<std::string> paints = {};  // with colour: each line's opening escape, "" for none
  };
  const std::string green = "\x1b[32m", red = "\x1b[31m";
  const Case cases[] = {
      {few, 40, 24, 3, "/dev/s\xE2\x80\xA6-port0  ["},
      {few, 80, 24, 3, "/dev/serial/\xE2\x80\xA6-if00-port0  ["},
      {few, 200, 0, 3, "/dev/serial/by-id/usb-Vendor_Handset_0123456789ABCDEF-if00-port0"},
      {many, 80, 24, 23, "30 handsets: 12 done, 2 failed, 10 flashing, 6 waiting"},
      {many, 40, 5, 4, "30: 12 done 2 failed 10 flashing 6 waiti"},
      {oneLeft, 80, 5, 4, "7 handsets: 7 done, 0 failed, 0 flashing, 0 waiting"},
      {few, 40, 24, 3, "/dev/s\xE2\x80\xA6-port0  [", {"", green, red}},
      {many, 40, 5, 4, "30: 12 done 2 failed 10 flashing 6 waiti", {"", red, red, ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    const std::vector<std::string> lines = FitBoard(c.rows, c.width, c.height);
    ASSERT_EQ(lines.size(), c.lines);
    if (!c.paints.empty()) {  // the colour is all that colour adds, and it takes no columns
      const std::vector<std::string> painted = FitBoard(c.rows, c.width, c.height, true);
      for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(painted[i], c.paints[i].empty() ? lines[i] : c.paints[i] + lines[i] + "\x1b[0m");
    }
    EXPECT_EQ(lines[0].rfind(c.first, 0), 0u) << lines[0];
    for (const std::string& line : lines) EXPECT_LE(DisplayWidth(line), c.width) << line;
    if (&c.rows == &many) {  // the failed ones first, then the running ones
      EXPECT_EQ(lines[1].rfind("/dev/ttyUSB12 ", 0), 0u) << lines[1];
      EXPECT_EQ(lines[3].rfind("/dev/ttyUSB14 ", 0), 0u) << lines[3];
    }
  }
  // A finished row keeps its verdict where the figures give way; a wide character is never halved.
  EXPECT_NE(FitRow(few[1], 40).find("Update Sucess!"), std::string::npos);
  EXPECT_EQ(CutToWidth(chinese, 7), chinese.substr(0, 9));
}

}  // namespace
}  // namespace brenvik
