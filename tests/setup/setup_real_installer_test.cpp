// setup.exe run whole under Wine with Wine's own rundll32.exe in the system folder, the real
// installer host: it processes our INF, and no rundll32.exe beside setup.exe or in its
// current folder takes its place.
#include <gtest/gtest.h>

#include "messages.h"
#include "setup_harness.h"

namespace setup_test {
namespace {

constexpr wchar_t kDriverKey[] = L"SOFTWARE\\Brenvik\\Driver";

TEST(SetupRealInstaller, ProcessesOurInf) {
  SetupWindowsVersion version(L"winxp");
  DeleteKeyTree(HKEY_LOCAL_MACHINE, kDriverKey);
  // Strays beside setup.exe and in its current folder, as on a shared drive.
  SetupFolder folder(RunFolder(L"real installer\\Brenvik Tools"), {});

  ExpectOneBox(RunSetup(folder), setup::kInstalledText);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kDriverKey, L"Section"), L"Host_Inst.NT");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kDriverKey, L"InterfaceClass"),
            L"{25DBCE51-6C8F-4A72-8A6D-B54C2B4FC835}");
  EXPECT_EQ(folder.StrayCalls(), std::vector<std::string>{});
}

TEST(SetupPackage, InstallsFromTheUnpackedZip) {
  SetupWindowsVersion version(L"winxp");
  DeleteKeyTree(HKEY_LOCAL_MACHINE, kDriverKey);
  const SetupFolder folder(RunFolder(L"unpacked\\" BRENVIK_PACKAGE_NAME));

  ExpectOneBox(RunSetup(folder), setup::kInstalledText);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kDriverKey, L"Section"), L"Host_Inst.NT");
}

}  // namespace
}  // namespace setup_test
