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

// A fresh folder (emptied first) with setup.exe and, by choice, Driver\wceusbsh.inf and
// stray rundll32.exe copies: one beside setup.exe and one in the folder setup.exe is started
// in (its subfolder "current"). A stray is the recording stand-in: were it ever started, it
// would leave its command line in rundll32-calls.txt beside itself.
struct FolderContents {
  bool inf = true;
  bool strayBeside = true;
  bool strayInCurrent = true;
};

class SetupFolder {
 public:
  SetupFolder(const fs::path& dir, FolderContents contents);
  // A folder that holds setup.exe already, used as it is (and as the current folder).
  explicit SetupFolder(const fs::path& dir) : dir_(dir), current_(dir) {}
  const fs::path& Dir() const { return dir_; }
  // The current folder setup.exe is started in.
  const fs::path& CurrentDir() const { return current_; }
  // The folder as setup.exe sees its own: ending in a backslash.
  std::wstring ProgramDir() const { return dir_.wstring() + L"\\"; }
  // What the strays recorded, each line led by where the stray sits ("beside setup.exe: ",
  // "in the current folder: "); empty unless a stray was started.
  std::vector<std::string> StrayCalls() const;

 private:
  fs::path dir_;
  fs::path current_;
};

// While it lives, the system folder's rundll32.exe is the recording stand-in, and it records
// what setup.exe starts it with; afterwards Wine's own is back, even when the test failed.
// Wine starts a native rundll32.exe from the system folder only under the override
// rundll32.exe=n in the environment its process tree was started with (setup_stand_in_tests
// gets it from its ctest emulator, wine-run-stand-in.sh); the constructor refuses to work
// without it. Everything else run in the prefix meanwhile still gets Wine's builtin.
//
// The original is kept as rundll32.exe.brenvik-original in the system folder until it is back;
// a test program killed on the way leaves it there, and the next stand-in, or ctest's
// setup.rundll32.restore (system-rundll32.sh), puts it back.
class SystemStandIn {
 public:
  // pingParent: the stand-in first pings the windows of the process that started it and
  // records whether they answered.
  explicit SystemStandIn(bool pingParent = false);
  ~SystemStandIn();
  SystemStandIn(const SystemStandIn&) = delete;
  SystemStandIn& operator=(const SystemStandIn&) = delete;

  // The exact command line of each start, one line per start (UTF-8).
  std::vector<std::string> Calls() const;

 private:
  fs::path system_;  // the system folder
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

// The run ended by itself with exit code 0 after exactly one message box, captioned "setup",
// with this text, and showed no other window.
void ExpectOneBox(const SetupRun& run, const wchar_t* text);

std::string Utf8(const std::wstring& text);

// Whether the system folder's rundll32.exe is Wine's own (no stand-in in its place).
bool SystemRundll32IsWines();

// Starts setup.exe in the folder (with the folder's current folder), answers each message box
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
