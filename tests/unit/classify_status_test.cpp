#include <gtest/gtest.h>

#include "run/classify.h"
#include "download/status_text.h"

namespace brenvik {
namespace {

TEST(ClassifyImage, KindByLastThreeCharactersAndSize) {
  struct Case {
    const char* path;
    uint32_t size;
    int32_t kind;
  } cases[] = {
      {"x.img", 0, 5},          {"x.IMG", 5000000, 9},     {"x.Img", 10, 9},
      {"x.dio", 0, 1},          {"x.DIO", 123, 1},         {"x.Dio", 123, 9},
      {"x.bin", 512000, 2},     {"x.bin", 512001, 6},      {"x.bin", 307200, 9},
      {"x.bin", 307201, 2},     {"x.BIN", 600000, 9},      {"x.bin", 0, 9},
      {"x.nb0", 2048, 3},       {"x.NB0", 262144, 4},      {"x.nb0", 2049, 9},
      {"x.nbO", 2048, 9},       {"x.nb0", 0, 9},           {"x.raw", 1, 7},
      {"x.RAW", 0, 7},          {"x.Raw", 0, 9},           {"straw", 0, 7},
      {"abin", 600000, 6},      {"a.xbin", 400000, 2},     {"a.nb", 2048, 9},
      {"ab", 0, 9},             {"", 0, 9},                {"C:\\fw\\中文\\x.img", 1, 5},
      {"x.bin", 0xFFFFFFFF, 6},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ClassifyImage(c.path, c.size).kind, c.kind) << c.path << " of " << c.size << " bytes";
}

TEST(StatusLine, TimeWithinTheHourAndSpeed) {
  struct Case {
    int64_t elapsed;
    int32_t speed;
    const char* line;
  } cases[] = {
      {75, 134, "01 Minutes, 15 Seconds   Speed:134 KBS"},
      {3675, 7, "01 Minutes, 15 Seconds   Speed:7 KBS"},
      {0, 0, "00 Minutes, 00 Seconds   Speed:0 KBS"},
      {59 * 60 + 59, -5, "59 Minutes, 59 Seconds   Speed:-5 KBS"},
      {-3, 1, "00 Minutes, 00 Seconds   Speed:1 KBS"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatStatusLine(c.elapsed, c.speed), c.line);
}

TEST(StatusLine, SpeedFigures) {
  struct Case {
    const char* name;
    int32_t got, want;
  } cases[] = {
      {"10 MiB in 75 s", BlockSpeed(10485760, 75), 134},
      {"first second divides by 1", BlockSpeed(300000, 0), 292},
      {"one hour divides by 1", BlockSpeed(10485760, 3600), 10240},
      {"a clock that went back", BlockSpeed(10485760, -20), 10240},
      {"block figure is signed", BlockSpeed(0x80000000u, 0), -2097152},
      {"record figure is unsigned", RecordSpeed(0x80000000u, 0), 2097152},
      {"raw boot area", RecordSpeed(0x20000, 1), 64},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.name;
  EXPECT_EQ(SpeedDivisor(3599), 3600);
  EXPECT_EQ(SpeedDivisor(7200), 1);
}

}  // namespace
}  // namespace brenvik
