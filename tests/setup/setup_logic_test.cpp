// The platform decision and the refusals that need no process.
#include <gtest/gtest.h>

#include "driver_install.h"

namespace {

using setup::InstallResult;

TEST(SetupPlatform, CodeFollowsTheVersion) {
  struct Row {
    DWORD platform, major, minor;
    setup::PlatformCode code;
  } rows[] = {
      {VER_PLATFORM_WIN32_WINDOWS, 4, 0, setup::kWindows9x},   // 95
      {VER_PLATFORM_WIN32_WINDOWS, 4, 90, setup::kWindows9x},  // Me
      {VER_PLATFORM_WIN32_NT, 5, 0, setup::kWindows2000},
      {VER_PLATFORM_WIN32_NT, 5, 1, setup::kWindowsXP},
      {VER_PLATFORM_WIN32_NT, 5, 2, setup::kNoInstaller},  // Server 2003
      {VER_PLATFORM_WIN32_NT, 4, 0, setup::kNoInstaller},
      {VER_PLATFORM_WIN32_NT, 6, 1, setup::kNoInstaller},
      {VER_PLATFORM_WIN32_NT, 10, 0, setup::kNoInstaller},
      {VER_PLATFORM_WIN32s, 5, 1, setup::kNoInstaller},
  };
  for (const Row& row : rows) {
    OSVERSIONINFOW version{};
    version.dwPlatformId = row.platform;
    version.dwMajorVersion = row.major;
    version.dwMinorVersion = row.minor;
    EXPECT_EQ(setup::PlatformFromVersion(version), row.code)
        << row.platform << ' ' << row.major << '.' << row.minor;
  }
}

TEST(SetupCommandLine, PrefixesAndTheirLengths) {
  const std::wstring dir = L"C:\\Tools\\Setup\\";
  struct Row {
    int platform;
    std::wstring prefix;
    size_t length;
  } rows[] = {
      {1, L"rundll32.exe setupapi.dll,InstallHinfSection Host_Inst 132 ", 59},
      {2, L"RUNDLL32.EXE SETUPAPI.DLL, InstallHinfSection Host_Inst.NT 132 ", 63},
      {3, L"rundll32.exe setupapi.dll,InstallHinfSection Host_Inst.NT 132 ", 62},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.prefix.size(), row.length);
    EXPECT_EQ(setup::InstallerCommandLine(row.platform, dir),
              row.prefix + L"C:\\Tools\\Setup\\Driver\\wceusbsh.inf");
  }
  // A folder that could not be told gives the path relative to the current directory.
  EXPECT_EQ(setup::InstallerCommandLine(3, L""), rows[2].prefix + L"Driver\\wceusbsh.inf");
  for (int platform : {0, 4, 5}) EXPECT_EQ(setup::InstallerCommandLine(platform, dir), L"");
}

// The installer host is named by its full path, so that no search can find another.
TEST(SetupCommandLine, InstallerHostIsTheSystemFoldersRundll32) {
  wchar_t folder[MAX_PATH] = {};
  const UINT n = ::GetSystemDirectoryW(folder, MAX_PATH);
  ASSERT_GT(n, 0u);
  const std::wstring host = setup::SystemRundll32();
  EXPECT_EQ(host, std::wstring(folder, n) + L"\\rundll32.exe");
  ASSERT_GE(host.size(), 3u);
  EXPECT_EQ(host.substr(1, 2), L":\\");  // a drive's root onwards, never relative
}

TEST(SetupCommandLine, RefusedBeforeAnyProcess) {
  // 62 + 174 + 19 characters and the zero fill the buffer exactly; one more does not fit.
  const std::wstring fits = L"Z:\\nowhere\\" + std::wstring(174 - 12, L'a') + L"\\";
  ASSERT_EQ(fits.size(), 174u);
  EXPECT_EQ(setup::InstallDriver(3, fits), InstallResult::kNoInf);
  EXPECT_EQ(setup::InstallDriver(3, L"Z:\\nowhere\\a" + fits.substr(11)), InstallResult::kTooLong);
  EXPECT_EQ(setup::InstallDriver(1, std::wstring(178, L'a')), InstallResult::kTooLong);
  EXPECT_EQ(setup::InstallDriver(4, L"C:\\"), InstallResult::kNoInstaller);
}

}  // namespace
