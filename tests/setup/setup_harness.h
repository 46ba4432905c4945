// Runs setup.exe as a service engineer would, from a folder laid out as the package unpacks,
// and reads back what it showed, what it started and what it wrote.
#pragma once

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace setup_test {

namespace fs = std::filesystem;

// A fresh folder (emptied first) with setup.exe and, by choice, Driver\wceusbsh.inf, the
// stand-in rundll32.exe, and the stand-in's "ping-parent" switch.
struct FolderContents {
  bool inf = true;
  bool standIn = true;
  bool pingParent = false;
};

class SetupFolder {
 public:
  SetupFolder(const fs::path& dir, FolderContents contents);
  // A folder that holds setup.exe already, used as it is.
  explicit SetupFolder(const fs::path& dir) : dir_(dir) {}
  const fs::path& Dir() const { return dir_; }
  // The folder as setup.exe sees its own: ending in a backslash.
  std::wstring ProgramDir() const { return dir_.wstring() + L"\\"; }
  // What the stand-in recorded, one line per start (UTF-8).
  std::vector<std::string> InstallerCalls() const;

 private:
  fs::path dir_;
};

// A folder for one test under the build tree's runs/ folder; `leaf` may hold blanks or
// more levels.
fs::path RunFolder(const std::wstring& leaf);

struct SetupRun {
  bool ended = false;  // within the bound, after its box was answered
  DWORD exitCode = STILL_ACTIVE;
  int boxes = 0;  // message boxes it showed, one after the other
  std::wstring caption, text;  // of the first box
  bool otherWindowSeen = false;  // a visible window of the process that was not a box
};

// Starts setup.exe in the folder (also its current directory), answers each message box
// with OK, and waits for the end; a run past the bound is killed.
SetupRun RunSetup(const SetupFolder& folder, DWORD boundMs = 30000);

// The Windows version Wine gives every program named setup.exe while the object lives
// ("win98", "win2k", "winxp", "win7", ...); the former setting comes back afterwards.
class SetupWindowsVersion {
 public:
  explicit SetupWindowsVersion(const wchar_t* version);
  ~SetupWindowsVersion();
  SetupWindowsVersion(const SetupWindowsVersion&) = delete;
  SetupWindowsVersion& operator=(const SetupWindowsVersion&) = delete;

 private:
  std::optional<std::wstring> former_;
};

// The version ("platform major.minor") a program named setup.exe is given now, read by a
// probe copied under that name into dir.
std::string VersionSeenBySetup(const fs::path& dir);

// Registry, in the 32-bit view a 32-bit setup.exe writes to.
std::optional<DWORD> ReadDword(HKEY root, const wchar_t* key, const wchar_t* name);
std::optional<std::wstring> ReadString(HKEY root, const wchar_t* key, const wchar_t* name);
void DeleteKeyTree(HKEY root, const wchar_t* key);
void WriteDword(HKEY root, const wchar_t* key, const wchar_t* name, DWORD value);

}  // namespace setup_test
