#include <gtest/gtest.h>

#include "fakes/image_files.h"
#include "inspection.h"

namespace brenvik {
namespace {

using namespace testing;

bool Mentions(const cli::Inspection& in, const std::string& words) {
  for (const auto& p : in.problems)
    if (p.find(words) != std::string::npos) return true;
  return false;
}

TEST(Inspect, ReportsLayoutRecordsAndProblems) {
  Bytes boot = PatternBytes(0x20000);
  auto img = [&](const Bytes& stream) {
    Bytes b = boot;
    b.insert(b.end(), stream.begin(), stream.end());
    return b;
  };
  Bytes good = MakeBinStream({{0x1000, PatternBytes(64)}, {0x2000, PatternBytes(8), 5}}, 0x80004321);
  Bytes noEnd = good;
  noEnd.resize(noEnd.size() - 12);
  Bytes pastEnd = good;
  pastEnd[15 + 4] = 0xFF;
  struct Case {
    const char* name;
    std::string path;
    Bytes bytes;
    size_t records;
    std::optional<uint32_t> entry;
    std::vector<std::string> problems;  // words each problem must contain, in order
  } cases[] = {
      {"img with a wrong checksum", "a.img", img(good), 2, 0x80004321, {"checksum"}},
      {"img without end record", "a.img", img(noEnd), 2, std::nullopt, {"checksum", "no end record"}},
      {"img record past the end", "a.img", img(pastEnd), 0, std::nullopt, {"past the end"}},
      {"img shorter than the boot area", "a.img", PatternBytes(100), 0, std::nullopt, {"shorter than the boot area"}},
      {"raw", "a.raw", PatternBytes(0x20000), 0, std::nullopt, {}},
      {"plain blocks", "a.dio", PatternBytes(300000), 0, std::nullopt, {}},
      {"not a correct file", "a.txt", PatternBytes(10), 0, std::nullopt, {"not a correct file"}},
  };
  for (const auto& c : cases) {
    cli::Inspection in = cli::InspectImage(c.path, c.bytes.data(), uint32_t(c.bytes.size()));
    EXPECT_EQ(in.records.size(), c.records) << c.name;
    EXPECT_EQ(in.entryPoint, c.entry) << c.name;
    ASSERT_EQ(in.problems.size(), c.problems.size()) << c.name;
    for (size_t i = 0; i < c.problems.size(); ++i)
      EXPECT_NE(in.problems[i].find(c.problems[i]), std::string::npos) << c.name << ": " << in.problems[i];
  }
  cli::Inspection blocks = cli::InspectImage("a.dio", nullptr, 300000);
  EXPECT_EQ(blocks.blocks, 2u);
  EXPECT_FALSE(Mentions(blocks, "past"));
}

}  // namespace
}  // namespace brenvik
