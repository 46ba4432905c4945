// The dialog's own rules that need no window: the command-line tail, the settings file and
// the progress the worker publishes for the window.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <algorithm>
#include <map>
#include <tuple>
#include <vector>

#include "app/command_tail.h"
#include "app/published_progress.h"
#include "app/settings_file.h"

namespace brenvik::app {
namespace {

TEST(CommandTail, Rules) {
  struct Case {
    std::wstring tail;
    std::optional<std::wstring> image, device;
  } cases[] = {
      {L"", {}, {}},
      {L"C:\\fw.img", L"C:\\fw.img", {}},
      {L"C:\\a b\\fw.img more  ", L"C:\\a b\\fw.img more  ", {}},  // taken whole, blanks too
      {L"\"C:\\a b\\fw.img\"", L"C:\\a b\\fw.img", {}},           // one pair of quotes goes
      {L"\"C:\\a.img\" \"C:\\b.img\"", L"\"C:\\a.img\" \"C:\\b.img\"", {}},
      {L"\"C:\\open.img", L"\"C:\\open.img", {}},
      {L"\"\"", L"", {}},
      {L"-device COM7", {}, L"COM7"},
      {L"-device   \\\\.\\COM12  ", {}, L"\\\\.\\COM12"},
      {L"-device \"C:\\dev ices\\pty\"", {}, L"C:\\dev ices\\pty"},
      {L"-device", {}, {}},
      {L"-device   ", {}, {}},
      {L"-devices COM7", {}, {}},
      {L"-x C:\\fw.img", {}, {}},  // a tail beginning with '-' is never an image
      // One device word, then an image tail under the same rules as a tail of its own.
      {L"-device COM7 C:\\img\\t.img", L"C:\\img\\t.img", L"COM7"},
      {L"-device\tCOM7\t  C:\\a b\\t.img ", L"C:\\a b\\t.img ", L"COM7"},
      {L"-device COM7 \"C:\\a b\\t.img\"", L"C:\\a b\\t.img", L"COM7"},
      {L"-device \"\\\\.\\my dev\" image", L"image", L"\\\\.\\my dev"},
      {L"-device \"\\\\.\\my dev\" \"C:\\a b.img\"", L"C:\\a b.img", L"\\\\.\\my dev"},
      {L"-device COM7 \"\"", L"", L"COM7"},
      {L"-device COM7 -x", {}, L"COM7"},
      {L"-device \"COM7 C:\\t.img", {}, {}},  // a quote left open voids the option
      {L"-device \"\" C:\\t.img", {}, {}},
  };
  for (const auto& c : cases) {
    const StartRequest r = ParseCommandTail(c.tail);
    EXPECT_EQ(r.imagePath, c.image) << std::string(c.tail.begin(), c.tail.end());
    EXPECT_EQ(r.devicePath, c.device) << std::string(c.tail.begin(), c.tail.end());
  }
}

TEST(SettingsPath, NameFollowsTheFolderAndLongFoldersAreShortened) {
  const std::wstring a60(60, L'a'), b60(60, L'b'), c60(60, L'c'), tail(70, L't');
  const std::wstring deep = L"C:\\" + a60 + L"\\" + b60 + L"\\" + c60 + L"\\" + tail;  // 256
  std::map<std::wstring, std::wstring> shortNames = {
      {L"C:\\" + a60 + L"\\" + b60 + L"\\" + c60, L"C:\\AAAAAA~1\\BBBBBB~1\\CCCCCC~1"},
      {deep, L"C:\\AAAAAA~1\\BBBBBB~1\\CCCCCC~1\\TTTTTT~1"},
  };
  auto shortPath = [&](const std::wstring& p) { return shortNames.count(p) ? shortNames[p] : L""; };
  auto none = [](const std::wstring&) { return std::wstring(); };
  const std::wstring longLast = L"C:\\" + a60 + L"\\" + std::wstring(250, L'z');

  struct Case {
    std::wstring directory;
    std::wstring expected;
    bool shortNamesExist;
  } cases[] = {
      {L"C:\\tools", L"C:\\toolsBrenvik.ini", true},
      {L"C:\\", L"C:\\Brenvik.ini", true},
      {L"\\\\server\\share\\x", L"\\\\server\\share\\xBrenvik.ini", true},
      {deep, L"C:\\AAAAAA~1\\BBBBBB~1\\CCCCCC~1\\" + tail + L"Brenvik.ini", true},
      {deep, deep + L"Brenvik.ini", false},  // nothing shorter to be had
      {longLast, longLast + L"Brenvik.ini", true},
  };
  for (const auto& c : cases) {
    const std::wstring got = c.shortNamesExist ? SettingsPathFor(c.directory, shortPath)
                                               : SettingsPathFor(c.directory, none);
    EXPECT_EQ(got, c.expected) << c.directory.size();
  }
  shortNames[longLast] = L"C:\\AAAAAA~1\\ZZZZZZ~1";
  EXPECT_EQ(SettingsPathFor(longLast, shortPath), L"C:\\AAAAAA~1\\ZZZZZZ~1Brenvik.ini");
}

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    dir_ = std::filesystem::path(temp) / (L"brenvik-settings-" + std::to_wstring(::GetCurrentProcessId()));
    std::filesystem::create_directories(dir_);
    ini_ = (dir_ / L"workBrenvik.ini").wstring();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  void WriteBytes(const std::string& bytes) {
    std::ofstream(std::filesystem::path(ini_), std::ios::binary) << bytes;
    ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, ini_.c_str());  // drop any cached copy
  }
  std::string Bytes() {
    std::ifstream f(std::filesystem::path(ini_), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  std::filesystem::path dir_;
  std::wstring ini_;
};

TEST_F(SettingsFile, MissingFileOrKeyGivesAnEmptyPath) {
  EXPECT_EQ(ReadImagePath(ini_), L"");
  WriteBytes("[Other]\r\nItem1=x\r\n");
  EXPECT_EQ(ReadImagePath(ini_), L"");
  EXPECT_FALSE(WriteImagePath(L"", L"C:\\x.img"));
}

TEST_F(SettingsFile, PathsComeBackWholeAndInTheirOwnCharacters) {
  const std::wstring cases[] = {
      L"C:\\fw.img",
      L"",
      L"C:\\" + std::wstring(300, L'd') + L"\\fw.img",
      L"C:\\" + std::wstring(5000, L'e'),
      L"C:\\固件\\升级 包\\fw.img",
      L"C:\\Ελληνικά\\ünïcødé.dio",
  };
  for (const auto& path : cases) {
    ASSERT_TRUE(WriteImagePath(ini_, path));
    EXPECT_EQ(ReadImagePath(ini_), path) << path.size();
  }
}

TEST_F(SettingsFile, StaysInTheCodePageUntilAPathNeedsUnicodeKeepingWhatWasThere) {
  WriteBytes("[Before]\r\nfirst=1\r\n[Section1]\r\nItem1=C:\\old.img\r\nItem2=two\r\n[Other]\r\nkeep=yes\r\n");
  ASSERT_TRUE(WriteImagePath(ini_, L"C:\\plain.img"));
  EXPECT_EQ(Bytes().substr(0, 8), "[Before]") << "no byte-order mark while the code page will do";
  EXPECT_NE(Bytes().find("Item1=C:\\plain.img"), std::string::npos);

  const std::wstring outside = L"C:\\固件\\Ελληνικά\\fw.img";  // in no single code page
  ASSERT_TRUE(WriteImagePath(ini_, outside));
  EXPECT_EQ(Bytes().substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(ReadImagePath(ini_), outside);
  const wchar_t* kept[][3] = {{L"Before", L"first", L"1"}, {L"Section1", L"Item2", L"two"}, {L"Other", L"keep", L"yes"}};
  for (const auto& [section, key, value] : kept) {
    wchar_t got[16] = {};
    ::GetPrivateProfileStringW(section, key, L"", got, 16, ini_.c_str());
    EXPECT_STREQ(got, value) << section;
  }
}

TEST_F(SettingsFile, AFileThatCannotBeReadWholeIsLeftAsItWasAndThePathIsNotSaved) {
  const std::string sections = "[Section1]\r\nItem1=C:\\old.img\r\n[Other]\r\nkeep=yes\r\n";
  struct Case {
    const char* name;
    uintmax_t size;     // grown past what is converted, or as written
    DWORD heldSharing;  // another program's handle: what it lets others do, or none
  } cases[] = {
      {"too large", (64u << 20) + 1, 0},
      {"held by a reader", sections.size(), FILE_SHARE_READ},
  };
  for (const auto& c : cases) {
    WriteBytes(sections);
    std::filesystem::resize_file(ini_, c.size);
    const std::string before = Bytes();
    HANDLE held = INVALID_HANDLE_VALUE;
    if (c.heldSharing) {
      held = ::CreateFileW(ini_.c_str(), GENERIC_READ, c.heldSharing, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(held, INVALID_HANDLE_VALUE);
    }
    EXPECT_FALSE(WriteImagePath(ini_, L"C:\\固件\\Ελληνικά\\fw.img")) << c.name;
    if (held != INVALID_HANDLE_VALUE) ::CloseHandle(held);
    EXPECT_TRUE(Bytes() == before) << c.name << ": now " << Bytes().size() << " bytes";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1) << c.name << ": nothing left beside it";
  }
}

TEST_F(SettingsFile, AFileInTheCodePageIsRead) {
  // "Café" in the code page of the system the test runs on.
  const std::wstring cafe = L"C:\\Caf\u00e9\\fw.img";
  char ansi[64] = {};
  BOOL lossy = FALSE;
  ::WideCharToMultiByte(CP_ACP, 0, cafe.c_str(), -1, ansi, sizeof(ansi), nullptr, &lossy);
  if (lossy) GTEST_SKIP() << "the code page has no e acute";
  WriteBytes(std::string("[Section1]\r\nItem1=") + ansi + "\r\n");
  EXPECT_EQ(ReadImagePath(ini_), cafe);
}

// Whatever the window misses between two looks, what it shows after a look is what the bar
// and the status line would show had every report been applied at once (a bar clamps its
// position to its range).
TEST(PublishedProgress, ATakeLeavesTheControlsAsEveryReportWould) {
  struct Bar {
    uint32_t range = 100, position = 0;
    std::string status;
    void SetRange(uint32_t r) { range = r, position = std::min(position, r); }
    void SetPosition(uint32_t p) { position = std::min(p, range); }
  };
  // Reports: 'R' range, 'P' position, 'S' status, 'T' the window takes what is there.
  struct Report {
    char what;
    uint32_t value;
  };
  struct Case {
    const char* name;
    std::vector<Report> reports;
  } cases[] = {
      {"range then positions", {{'R', 40}, {'P', 3}, {'S', 1}, {'P', 39}}},
      {"a lower range after the position clamps it", {{'R', 400}, {'P', 300}, {'R', 200}}},
      {"a new procedure: position, range, position", {{'R', 100}, {'P', 100}, {'P', 0}, {'R', 7000}, {'P', 6999}}},
      {"a position past the range stays clamped when a wider range follows", {{'P', 150}, {'R', 200}}},
      {"takes in between", {{'R', 10}, {'T', 0}, {'P', 9}, {'R', 5}, {'T', 0}, {'P', 2}, {'S', 2}, {'T', 0}}},
      {"nothing reported changes nothing", {{'T', 0}}},
  };
  for (const Case& c : cases) {
    Bar expected, shown;
    PublishedProgress published;
    auto take = [&] {
      const PublishedProgress::Update u = published.Take();
      if (u.rangeBefore) shown.SetRange(*u.rangeBefore);
      if (u.position) shown.SetPosition(*u.position);
      if (u.rangeAfter) shown.SetRange(*u.rangeAfter);
      if (u.status) shown.status = *u.status;
    };
    for (const Report& r : c.reports) {
      switch (r.what) {
        case 'R': expected.SetRange(r.value), published.SetRange(r.value); break;
        case 'P': expected.SetPosition(r.value), published.SetPosition(r.value); break;
        case 'S':
          expected.status = "line " + std::to_string(r.value);
          published.SetStatus(expected.status);
          break;
        case 'T': take(); break;
      }
    }
    take();
    EXPECT_EQ(std::tie(shown.range, shown.position, shown.status),
              std::tie(expected.range, expected.position, expected.status))
        << c.name;
  }
}

}  // namespace
}  // namespace brenvik::app
