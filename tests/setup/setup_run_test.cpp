// setup.exe run whole under Wine, with the recording stand-in as the system folder's
// rundll32.exe: what it writes, the exact command line the system's rundll32.exe gets on each
// platform, the one message box it shows, and that no rundll32.exe beside setup.exe or in its
// current folder is ever started. This program runs under the override rundll32.exe=n
// (wine-run-stand-in.sh), without which Wine would start its builtin rundll32.exe instead.
#include <gtest/gtest.h>

#include "messages.h"
#include "setup_harness.h"
#include "sync_settings.h"
#include "win32/text.h"

namespace setup_test {
namespace {

constexpr wchar_t kXpPrefix[] = L"rundll32.exe setupapi.dll,InstallHinfSection Host_Inst.NT 132 ";

const std::vector<std::string> kNone;

// The one command line the system's rundll32.exe is to be started with.
std::vector<std::string> OneCall(const wchar_t* prefix, const SetupFolder& folder) {
  return {Utf8(prefix + folder.ProgramDir() + L"Driver\\wceusbsh.inf")};
}

// A leaf under the runs folder that makes the program directory exactly `length` long.
std::wstring LeafForProgramDir(const std::wstring& head, size_t length) {
  const size_t base = RunFolder(head).wstring().size() + 1;  // with its closing backslash
  return head + std::wstring(length - base, L'x');
}

void ExpectSyncValues() {
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, setup::kFiltersKey, setup::kEnableConversion), 0u);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, setup::kServicesKey, setup::kGuestOnly), 1u);
}

struct Platform {
  const wchar_t* version;
  const char* seen;  // what a program named setup.exe must be given: "platform major.minor"
  const wchar_t* prefix;  // of the one installer command; none for no installer
};

class SetupPlatforms : public testing::TestWithParam<Platform> {};

TEST_P(SetupPlatforms, StartsTheInstallerOfItsPlatform) {
  const Platform& p = GetParam();
  const std::wstring name = std::wstring(L"platform-") + p.version;
  SetupWindowsVersion version(p.version);
  ASSERT_EQ(VersionSeenBySetup(RunFolder(name + L"-probe")), p.seen);
  SetupFolder folder(RunFolder(name), {});  // strays beside it and in its current folder
  SystemStandIn installer;

  const SetupRun run = RunSetup(folder);
  ExpectOneBox(run, p.prefix ? setup::kInstalledText : setup::kFailedText);
  ExpectSyncValues();
  EXPECT_EQ(installer.Calls(), p.prefix ? OneCall(p.prefix, folder) : kNone);
  EXPECT_EQ(folder.StrayCalls(), kNone);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, SetupPlatforms,
    testing::Values(
        Platform{L"win98", "1 4.10",
                 L"rundll32.exe setupapi.dll,InstallHinfSection Host_Inst 132 "},
        Platform{L"win2k", "2 5.0",
                 L"RUNDLL32.EXE SETUPAPI.DLL, InstallHinfSection Host_Inst.NT 132 "},
        Platform{L"winxp", "2 5.1", kXpPrefix},
        Platform{L"win2003", "2 5.2", nullptr},
        Platform{L"nt40", "2 4.0", nullptr},
        Platform{L"win7", "2 6.1", nullptr}),
    [](const testing::TestParamInfo<Platform>& info) { return Utf8(info.param.version); });

TEST(SetupRun, NeverStartsARundll32BesideItOrInItsCurrentFolder) {
  SetupWindowsVersion version(L"winxp");
  struct Row {
    const char* where;
    FolderContents contents;
  } rows[] = {
      {"beside setup.exe", {.strayInCurrent = false}},
      {"in the current folder", {.strayBeside = false}},
      {"beside setup.exe and in the current folder", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.where);
    SetupFolder folder(RunFolder(L"strays"), row.contents);
    SystemStandIn installer;
    ExpectOneBox(RunSetup(folder), setup::kInstalledText);
    EXPECT_EQ(installer.Calls(), OneCall(kXpPrefix, folder));
    EXPECT_EQ(folder.StrayCalls(), kNone);
  }
}

// Under the override rundll32.exe=n Wine cannot start its own (builtin) rundll32.exe: here the
// system's installer host is there but cannot be started, as when it is missing. A stray
// beside setup.exe must not take its place and pass for an installation.
TEST(SetupRun, FailsWhenTheSystemInstallerCannotBeStarted) {
  SetupWindowsVersion version(L"winxp");
  ASSERT_TRUE(SystemRundll32IsWines());
  SetupFolder folder(RunFolder(L"no system installer"), {});
  ExpectOneBox(RunSetup(folder), setup::kFailedText);
  EXPECT_EQ(folder.StrayCalls(), kNone);
}

TEST(SetupRun, WritesTheSyncValuesWhetherOrNotTheKeysExist) {
  SetupWindowsVersion version(L"win7");  // no installer: only the values
  for (bool keysExist : {false, true}) {
    SCOPED_TRACE(keysExist ? "keys exist" : "no keys");
    DeleteKeyTree(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows CE Services");
    DeleteKeyTree(HKEY_LOCAL_MACHINE, setup::kServicesKey);
    if (keysExist) {
      WriteDword(HKEY_CURRENT_USER, setup::kFiltersKey, setup::kEnableConversion, 7);
      WriteDword(HKEY_CURRENT_USER, setup::kFiltersKey, L"Other", 5);
      WriteDword(HKEY_LOCAL_MACHINE, setup::kServicesKey, setup::kGuestOnly, 0);
    }
    SetupFolder folder(RunFolder(L"sync-values"), {});
    SystemStandIn installer;
    ExpectOneBox(RunSetup(folder), setup::kFailedText);
    ExpectSyncValues();
    if (keysExist) EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, setup::kFiltersKey, L"Other"), 5u);
    EXPECT_EQ(installer.Calls(), kNone);
    EXPECT_EQ(folder.StrayCalls(), kNone);
  }
}

TEST(SetupRun, CommandLineTakesTheFolderAsItIs) {
  SetupWindowsVersion version(L"winxp");
  // 174 characters of folder are the most the command line holds.
  const std::wstring leaves[] = {L"with blanks\\Service Bench", L"服务 工具",
                                 LeafForProgramDir(L"longest", 174)};
  for (const std::wstring& leaf : leaves) {
    SetupFolder folder(RunFolder(leaf), {});
    SCOPED_TRACE(Utf8(folder.ProgramDir()));
    SystemStandIn installer;
    ExpectOneBox(RunSetup(folder), setup::kInstalledText);
    const std::vector<std::string> expected = OneCall(kXpPrefix, folder);
    EXPECT_LE(win32::Widen(expected.front().c_str()).size(), 255u);
    EXPECT_EQ(installer.Calls(), expected);
    EXPECT_EQ(folder.StrayCalls(), kNone);
  }
}

TEST(SetupRun, RefusesWhatItCannotInstall) {
  SetupWindowsVersion version(L"winxp");
  struct Row {
    const char* why;
    std::wstring leaf;
    FolderContents contents;
  } rows[] = {
      {"no INF beside it", L"no-inf", {.inf = false}},
      {"a command line one character too long", LeafForProgramDir(L"too-long", 175), {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    SetupFolder folder(RunFolder(row.leaf), row.contents);
    SystemStandIn installer;
    ExpectOneBox(RunSetup(folder), setup::kFailedText);
    EXPECT_EQ(installer.Calls(), kNone);
    EXPECT_EQ(folder.StrayCalls(), kNone);
  }
}

TEST(SetupRun, AnswersMessagesWhileTheInstallerRuns) {
  SetupWindowsVersion version(L"winxp");
  SetupFolder folder(RunFolder(L"ping"), {});
  SystemStandIn installer(/*pingParent=*/true);
  ExpectOneBox(RunSetup(folder), setup::kInstalledText);
  const std::vector<std::string> expected = {"parent answered", OneCall(kXpPrefix, folder)[0]};
  EXPECT_EQ(installer.Calls(), expected);
}

// Run under zh_CN.UTF-8 and under en_US.UTF-8: the texts come back the same whichever the
// ANSI code page.
TEST(SetupMessage, ReadsBackAsUtf16) {
  if (const char* acp = std::getenv("BRENVIK_EXPECT_ACP")) {
    ASSERT_EQ(::GetACP(), UINT(std::atoi(acp)));
  }
  const std::pair<const wchar_t*, const wchar_t*> rows[] = {
      {L"winxp", setup::kInstalledText}, {L"win7", setup::kFailedText}};
  for (const auto& [windows, text] : rows) {
    SetupWindowsVersion version(windows);
    SystemStandIn installer;
    ExpectOneBox(RunSetup(SetupFolder(RunFolder(std::wstring(L"message-") + windows), {})), text);
  }
}

}  // namespace
}  // namespace setup_test
