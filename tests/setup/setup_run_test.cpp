// setup.exe run whole under Wine: what it writes, what it starts on each platform, and the
// one message box it shows.
#include <gtest/gtest.h>

#include "messages.h"
#include "setup_harness.h"
#include "sync_settings.h"
#include "winui/text.h"

namespace setup_test {
namespace {

constexpr wchar_t kXpPrefix[] = L"rundll32.exe setupapi.dll,InstallHinfSection Host_Inst.NT 132 ";
constexpr wchar_t kDriverKey[] = L"SOFTWARE\\Brenvik\\Driver";

std::string Utf8(const std::wstring& text) { return winui::Narrow(text.c_str()); }

void ExpectOneBox(const SetupRun& run, const wchar_t* text) {
  EXPECT_TRUE(run.ended);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.boxes, 1);
  EXPECT_FALSE(run.otherWindowSeen);
  EXPECT_EQ(run.caption, L"setup");
  EXPECT_EQ(Utf8(run.text), Utf8(text));
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
  SetupFolder folder(RunFolder(name), {});

  const SetupRun run = RunSetup(folder);
  ExpectOneBox(run, p.prefix ? setup::kInstalledText : setup::kFailedText);
  ExpectSyncValues();
  if (p.prefix) {
    const std::wstring expected = p.prefix + folder.ProgramDir() + L"Driver\\wceusbsh.inf";
    EXPECT_EQ(folder.InstallerCalls(), std::vector<std::string>{Utf8(expected)});
  } else {
    EXPECT_TRUE(folder.InstallerCalls().empty());
  }
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
    ExpectOneBox(RunSetup(folder), setup::kFailedText);
    ExpectSyncValues();
    if (keysExist) EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, setup::kFiltersKey, L"Other"), 5u);
  }
}

TEST(SetupRun, TheRealInstallerProcessesOurInf) {
  SetupWindowsVersion version(L"winxp");
  DeleteKeyTree(HKEY_LOCAL_MACHINE, kDriverKey);
  SetupFolder folder(RunFolder(L"real installer\\Brenvik Tools"), {.standIn = false});

  ExpectOneBox(RunSetup(folder), setup::kInstalledText);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kDriverKey, L"Section"), L"Host_Inst.NT");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kDriverKey, L"InterfaceClass"),
            L"{25DBCE51-6C8F-4A72-8A6D-B54C2B4FC835}");
}

TEST(SetupPackage, InstallsFromTheUnpackedZip) {
  SetupWindowsVersion version(L"winxp");
  DeleteKeyTree(HKEY_LOCAL_MACHINE, kDriverKey);
  const SetupFolder folder(RunFolder(L"unpacked\\" BRENVIK_PACKAGE_NAME));

  ExpectOneBox(RunSetup(folder), setup::kInstalledText);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kDriverKey, L"Section"), L"Host_Inst.NT");
}

TEST(SetupRun, CommandLineTakesTheFolderAsItIs) {
  SetupWindowsVersion version(L"winxp");
  // 174 characters of folder are the most the command line holds.
  const std::wstring leaves[] = {L"with blanks\\Service Bench", L"服务 工具",
                                 LeafForProgramDir(L"longest", 174)};
  for (const std::wstring& leaf : leaves) {
    SetupFolder folder(RunFolder(leaf), {});
    SCOPED_TRACE(Utf8(folder.ProgramDir()));
    ExpectOneBox(RunSetup(folder), setup::kInstalledText);
    const std::wstring expected = kXpPrefix + folder.ProgramDir() + L"Driver\\wceusbsh.inf";
    EXPECT_LE(expected.size(), 255u);
    EXPECT_EQ(folder.InstallerCalls(), std::vector<std::string>{Utf8(expected)});
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
    ExpectOneBox(RunSetup(folder), setup::kFailedText);
    EXPECT_TRUE(folder.InstallerCalls().empty());
  }
}

TEST(SetupRun, AnswersMessagesWhileTheInstallerRuns) {
  SetupWindowsVersion version(L"winxp");
  SetupFolder folder(RunFolder(L"ping"), {.pingParent = true});
  ExpectOneBox(RunSetup(folder), setup::kInstalledText);
  const auto calls = folder.InstallerCalls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "parent answered");
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
    ExpectOneBox(RunSetup(SetupFolder(RunFolder(std::wstring(L"message-") + windows), {})), text);
  }
}

}  // namespace
}  // namespace setup_test
