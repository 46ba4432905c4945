#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "download/image_view.h"
#include "run/outcome_text.h"
#include "fakes/image_files.h"
#include "fakes/recorder.h"

namespace brenvik {
namespace {

using testing::Bytes;
using testing::PatternBytes;
using testing::Recorder;
using testing::TempDir;

namespace fs = std::filesystem;

std::string Utf8(const fs::path& p) {
  auto u8 = p.u8string();
  return std::string(u8.begin(), u8.end());
}

void WriteFile(const fs::path& p, const Bytes& bytes) {
  std::ofstream f(p, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes Viewed(const ImageView& view) { return Bytes(view.Data(), view.Data() + view.Size()); }

TEST(ImageViewWin32, MapsWholeFilesAndCountsSectors) {
  struct Case {
    size_t size;
    uint32_t sectors;
  } cases[] = {{0, 1}, {1, 1}, {511, 1}, {512, 2}, {1000, 2}, {1024, 3}, {0x20001, 0x101}};
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    Bytes bytes = PatternBytes(c.size, uint32_t(c.size));
    std::string path = dir.Write("image-" + std::to_string(c.size) + ".img", bytes);
    ImageView view;
    const MapResult r = MapImageFile(view, path);
    EXPECT_EQ(r.size, c.size);
    EXPECT_EQ(r.sectorCount, c.sectors);
    EXPECT_TRUE(r.Opened());
    EXPECT_EQ(view.Mapped(), c.size != 0) << "an empty file gives no view";
    if (view.Mapped()) {
      EXPECT_EQ(Viewed(view), bytes);
    }
    // The mapping shares reading: the size can be taken while the view is open.
    EXPECT_EQ(GetImageFileSize(path), c.size);
  }
}

TEST(ImageViewWin32, EachMapShowsTheFileNamedInThatCall) {
  TempDir dir;
  Bytes first = PatternBytes(3000, 1), second = PatternBytes(1000, 2);
  std::string a = dir.Write("a.bin", first), b = dir.Write("b.nb0", second);
  ImageView view;
  struct Step {
    const std::string& path;
    const Bytes& bytes;
  } steps[] = {{a, first}, {b, second}, {a, first}, {b, second}};
  for (const auto& s : steps) {
    SCOPED_TRACE(s.path);
    const MapResult r = MapImageFile(view, s.path);
    ASSERT_EQ(r.size, s.bytes.size());
    EXPECT_EQ(r.sectorCount, SectorCount(uint32_t(s.bytes.size())));
    EXPECT_EQ(Viewed(view), s.bytes);
  }
  // Two views at once, one after the other: each keeps its own file.
  ImageView other;
  ASSERT_EQ(MapImageFile(other, a).size, first.size());
  EXPECT_EQ(Viewed(view), second);
  EXPECT_EQ(Viewed(other), first);
}

TEST(ImageViewWin32, WhatIsNoImageIsRefusedAndCreatesNothing) {
  TempDir dir;
  fs::create_directories(dir.Root() / "folder.img");
  const std::string mapped = dir.Write("mapped.img", PatternBytes(2048));
  struct Case {
    std::string path;
    ImageRefusal refusal;
  } cases[] = {{dir.Path("missing.img"), ImageRefusal::kUnreadable},
               {dir.Path("no-folder\\missing.img"), ImageRefusal::kUnreadable},
               {"", ImageRefusal::kUnreadable},
               {dir.Path("folder.img"), ImageRefusal::kNotRegular},
               {"NUL", ImageRefusal::kNotRegular}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    ImageView view;
    ASSERT_EQ(MapImageFile(view, mapped).size, 2048u);
    const MapResult r = MapImageFile(view, c.path);
    EXPECT_EQ(r.size, 0u);
    EXPECT_EQ(r.sectorCount, 0u) << "no sector count without a file";
    EXPECT_FALSE(view.Mapped()) << "the earlier view is released";
    EXPECT_EQ(r.refusal, c.refusal);
    const std::string why = DescribeMapping(r, c.path);
    EXPECT_NE(why.find(c.path), std::string::npos) << why;
    EXPECT_FALSE(GetImageFileSize(c.path).has_value());
  }
  EXPECT_FALSE(fs::exists(dir.Root() / "missing.img"));
  EXPECT_FALSE(fs::exists(dir.Root() / "no-folder"));
}

TEST(ImageViewWin32, NonAsciiPathsAreOpened) {
  TempDir dir;
  const fs::path folder = dir.Root() / fs::path(u8"固件 目录");
  fs::create_directories(folder);
  const fs::path file = folder / fs::path(u8"镜像.img");
  Bytes bytes = PatternBytes(1024, 9);
  WriteFile(file, bytes);
  ImageView view;
  const MapResult r = MapImageFile(view, Utf8(file));
  EXPECT_EQ(r.size, 1024u);
  EXPECT_EQ(r.sectorCount, 3u);
  EXPECT_EQ(Viewed(view), bytes);
  EXPECT_EQ(GetImageFileSize(Utf8(file)), 1024u);
}

}  // namespace
}  // namespace brenvik
