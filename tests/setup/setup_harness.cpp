#include "setup_harness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <type_traits>

#include "win32/text.h"

namespace setup_test {
namespace {

// The build gives Unix paths; Wine's drive Z: is the Unix root.
fs::path DosPath(const char* unixPath) {
  std::wstring path = L"Z:" + win32::Widen(unixPath);
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

constexpr wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\setup.exe";
constexpr DWORD kPollMs = 50;
// The registry view setup.exe writes into: that of its own bitness, which is this program's.
constexpr REGSAM kProgramView = sizeof(void*) == 4 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

// The stand-in's files: what it records and the switch it looks for, both beside itself.
constexpr wchar_t kCallsFile[] = L"rundll32-calls.txt";
constexpr wchar_t kPingParentFile[] = L"ping-parent";
// In the system folder: Wine's rundll32.exe, and the original kept while the stand-in is
// there (system-rundll32.sh knows these names too).
constexpr wchar_t kRundll32[] = L"rundll32.exe";
constexpr wchar_t kKeptOriginal[] = L"rundll32.exe.brenvik-original";
constexpr wchar_t kKeeping[] = L"rundll32.exe.brenvik-keeping";

struct Windows {
  DWORD process;
  std::vector<HWND> visible;
};

BOOL CALLBACK CollectVisible(HWND window, LPARAM context) {
  auto& windows = *reinterpret_cast<Windows*>(context);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner == windows.process && ::IsWindowVisible(window)) windows.visible.push_back(window);
  return TRUE;
}

std::wstring Text(HWND window) {
  wchar_t text[1024] = {};
  const int n = ::GetWindowTextW(window, text, int(std::size(text)));
  return std::wstring(text, n > 0 ? size_t(n) : 0);
}

// A message box: a dialog of class #32770 whose text sits in static 0xFFFF.
bool IsMessageBox(HWND window) {
  wchar_t name[16] = {};
  ::GetClassNameW(window, name, int(std::size(name)));
  return std::wstring(name) == L"#32770" && ::GetDlgItem(window, 0xFFFF) != nullptr;
}

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what + ": " + win32::SystemMessage(::GetLastError()));
}

std::vector<std::string> Lines(const fs::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

fs::path SystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  const UINT n = ::GetSystemDirectoryW(folder, MAX_PATH);
  Check(n > 0 && n < MAX_PATH, "GetSystemDirectory");
  return std::wstring(folder, n);
}

// Wine's own programs in a prefix are placeholders that say so at offset 0x40.
bool IsWineBuiltin(const fs::path& file) {
  char head[0x50] = {};
  std::ifstream(file, std::ios::binary).read(head, sizeof head);
  return std::string(head + 0x40, 16) == "Wine builtin DLL";
}

// Whether this process tree was started under the override that lets Wine start a native
// rundll32.exe from the system folder.
bool NativeRundll32Allowed() {
  wchar_t value[2048] = {};
  const DWORD n = ::GetEnvironmentVariableW(L"WINEDLLOVERRIDES", value, DWORD(std::size(value)));
  if (n == 0 || n >= std::size(value)) return false;
  const std::wstring overrides = L";" + std::wstring(value, n) + L";";
  return overrides.find(L";rundll32.exe=n;") != std::wstring::npos ||
         overrides.find(L";rundll32.exe=n,b;") != std::wstring::npos;
}

// Wine's rundll32.exe back in the system folder from the kept original, if one is kept, by a
// rename (never a half-written file); the stand-in's files go.
void PutOriginalBack(const fs::path& system) {
  const fs::path kept = system / kKeptOriginal;
  if (fs::exists(kept)) {
    Check(::MoveFileExW(kept.c_str(), (system / kRundll32).c_str(), MOVEFILE_REPLACE_EXISTING),
          "cannot put Wine's rundll32.exe back from " + kept.string());
  }
  std::error_code ignored;
  fs::remove(system / kCallsFile, ignored);
  fs::remove(system / kPingParentFile, ignored);
}

HANDLE Start(const fs::path& exe, const fs::path& folder) {
  std::wstring command = L"\"" + exe.wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  Check(::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                         folder.c_str(), &startup, &process),
        "cannot start " + exe.string());
  ::CloseHandle(process.hThread);
  return process.hProcess;
}

}  // namespace

SetupFolder::SetupFolder(const fs::path& dir, FolderContents contents)
    : dir_(dir), current_(dir / L"current") {
  fs::remove_all(dir_);
  fs::create_directories(current_);
  fs::copy_file(DosPath(BRENVIK_SETUP_EXE), dir_ / L"setup.exe");
  if (contents.inf) {
    fs::create_directories(dir_ / L"Driver");
    fs::copy_file(DosPath(BRENVIK_SETUP_INF), dir_ / L"Driver" / L"wceusbsh.inf");
  }
  if (contents.strayBeside) fs::copy_file(DosPath(BRENVIK_STAND_IN), dir_ / kRundll32);
  if (contents.strayInCurrent) fs::copy_file(DosPath(BRENVIK_STAND_IN), current_ / kRundll32);
}

std::vector<std::string> SetupFolder::StrayCalls() const {
  std::vector<std::string> calls;
  for (const std::string& line : Lines(dir_ / kCallsFile))
    calls.push_back("beside setup.exe: " + line);
  if (current_ != dir_) {
    for (const std::string& line : Lines(current_ / kCallsFile))
      calls.push_back("in the current folder: " + line);
  }
  return calls;
}

SystemStandIn::SystemStandIn(bool pingParent) : system_(SystemFolder()) {
  if (!NativeRundll32Allowed()) {
    throw std::runtime_error(
        "WINEDLLOVERRIDES lacks rundll32.exe=n: Wine would start its builtin rundll32.exe, "
        "never the stand-in (run this program through tests/setup/wine-run-stand-in.sh)");
  }
  const fs::path rundll32 = system_ / kRundll32;
  const fs::path kept = system_ / kKeptOriginal;
  // A kept original is left from a run that was killed: it is the original, and what sits in
  // its place is a stand-in.
  if (!fs::exists(kept)) {
    if (!IsWineBuiltin(rundll32))
      throw std::runtime_error(rundll32.string() + " is not Wine's own rundll32.exe");
    // Copied under a passing name first, so that a kept original is always whole.
    const fs::path keeping = system_ / kKeeping;
    fs::copy_file(rundll32, keeping, fs::copy_options::overwrite_existing);
    Check(::MoveFileExW(keeping.c_str(), kept.c_str(), MOVEFILE_REPLACE_EXISTING),
          "cannot keep the original rundll32.exe");
  }
  try {
    std::error_code ignored;
    fs::remove(system_ / kCallsFile, ignored);
    fs::remove(system_ / kPingParentFile, ignored);
    fs::copy_file(DosPath(BRENVIK_STAND_IN), rundll32, fs::copy_options::overwrite_existing);
    if (pingParent) std::ofstream(system_ / kPingParentFile).put('\n');
  } catch (...) {
    PutOriginalBack(system_);
    throw;
  }
}

SystemStandIn::~SystemStandIn() {
  try {
    PutOriginalBack(system_);
    EXPECT_TRUE(IsWineBuiltin(system_ / kRundll32)) << "Wine's rundll32.exe is not back";
  } catch (const std::exception& e) {
    ADD_FAILURE() << e.what();
  }
}

std::vector<std::string> SystemStandIn::Calls() const { return Lines(system_ / kCallsFile); }

bool SystemRundll32IsWines() { return IsWineBuiltin(SystemFolder() / kRundll32); }

fs::path RunFolder(const std::wstring& leaf) { return DosPath(BRENVIK_SETUP_RUNS) / leaf; }

SetupRun RunSetup(const SetupFolder& folder, DWORD boundMs) {
  SetupRun run;
  HANDLE process = Start(folder.Dir() / L"setup.exe", folder.CurrentDir());
  const DWORD id = ::GetProcessId(process);
  HWND answered = nullptr;
  for (DWORD waited = 0; waited < boundMs; waited += kPollMs) {
    if (::WaitForSingleObject(process, kPollMs) == WAIT_OBJECT_0) {
      run.ended = true;
      break;
    }
    Windows windows{id, {}};
    ::EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&windows));
    for (HWND window : windows.visible) {
      if (!IsMessageBox(window)) {
        run.otherWindowSeen = true;
      } else if (window != answered) {
        if (run.boxes++ == 0) {
          run.caption = Text(window);
          run.text = Text(::GetDlgItem(window, 0xFFFF));
        }
        answered = window;
        ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      }
    }
  }
  if (!run.ended) ::TerminateProcess(process, 1);
  ::WaitForSingleObject(process, 10000);
  ::GetExitCodeProcess(process, &run.exitCode);
  ::CloseHandle(process);
  return run;
}

void ExpectOneBox(const SetupRun& run, const wchar_t* text) {
  EXPECT_TRUE(run.ended);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.boxes, 1);
  EXPECT_FALSE(run.otherWindowSeen);
  EXPECT_EQ(run.caption, L"setup");
  EXPECT_EQ(Utf8(run.text), Utf8(text));
}

std::string Utf8(const std::wstring& text) { return win32::Narrow(text.c_str()); }

SetupWindowsVersion::SetupWindowsVersion(const wchar_t* version) {
  former_ = ReadString(HKEY_CURRENT_USER, kAppDefaults, L"Version");
  HKEY key = nullptr;
  Check(::RegCreateKeyExW(HKEY_CURRENT_USER, kAppDefaults, 0, nullptr, 0, KEY_WRITE, nullptr,
                          &key, nullptr) == ERROR_SUCCESS,
        "AppDefaults");
  ::RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                   DWORD((wcslen(version) + 1) * sizeof(wchar_t)));
  ::RegCloseKey(key);
}

SetupWindowsVersion::~SetupWindowsVersion() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kAppDefaults, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
  if (former_) {
    ::RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(former_->c_str()),
                     DWORD((former_->size() + 1) * sizeof(wchar_t)));
  } else {
    ::RegDeleteValueW(key, L"Version");
  }
  ::RegCloseKey(key);
}

std::string VersionSeenBySetup(const fs::path& dir) {
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy_file(DosPath(BRENVIK_VERSION_PROBE), dir / L"setup.exe");
  HANDLE process = Start(dir / L"setup.exe", dir);
  const bool ended = ::WaitForSingleObject(process, 30000) == WAIT_OBJECT_0;
  if (!ended) ::TerminateProcess(process, 1);
  ::CloseHandle(process);
  std::string seen;
  std::getline(std::ifstream(dir / L"version.txt"), seen);
  return seen;
}

// A value of the given type, or nothing.
template <typename T>
std::optional<T> ReadValue(HKEY root, const wchar_t* key, const wchar_t* name, DWORD type) {
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(root, key, 0, KEY_READ | kProgramView, &opened) != ERROR_SUCCESS)
    return std::nullopt;
  BYTE data[1024] = {};
  DWORD found = 0, size = sizeof data - sizeof(wchar_t);
  const LONG status = ::RegQueryValueExW(opened, name, nullptr, &found, data, &size);
  ::RegCloseKey(opened);
  if (status != ERROR_SUCCESS || found != type) return std::nullopt;
  if constexpr (std::is_same_v<T, DWORD>) {
    if (size != sizeof(DWORD)) return std::nullopt;
    return *reinterpret_cast<const DWORD*>(data);
  } else {
    return std::wstring(reinterpret_cast<const wchar_t*>(data));
  }
}

std::optional<DWORD> ReadDword(HKEY root, const wchar_t* key, const wchar_t* name) {
  return ReadValue<DWORD>(root, key, name, REG_DWORD);
}

std::optional<std::wstring> ReadString(HKEY root, const wchar_t* key, const wchar_t* name) {
  return ReadValue<std::wstring>(root, key, name, REG_SZ);
}

void DeleteKeyTree(HKEY root, const wchar_t* key) {
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(root, key, 0, KEY_ALL_ACCESS | kProgramView, &opened) != ERROR_SUCCESS)
    return;
  ::RegDeleteTreeW(opened, nullptr);
  ::RegCloseKey(opened);
  ::RegDeleteKeyExW(root, key, kProgramView, 0);
}

void WriteDword(HKEY root, const wchar_t* key, const wchar_t* name, DWORD value) {
  HKEY opened = nullptr;
  Check(::RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_WRITE | kProgramView, nullptr, &opened,
                          nullptr) == ERROR_SUCCESS,
        "cannot create a registry key");
  ::RegSetValueExW(opened, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  ::RegCloseKey(opened);
}

}  // namespace setup_test
