#include "setup_harness.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <type_traits>

#include "winui/text.h"

namespace setup_test {
namespace {

// The build gives Unix paths; Wine's drive Z: is the Unix root.
fs::path DosPath(const char* unixPath) {
  std::wstring path = L"Z:" + winui::Widen(unixPath);
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

constexpr wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\setup.exe";
constexpr DWORD kPollMs = 50;

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
  if (!ok) throw std::runtime_error(what + ": " + winui::SystemMessage(::GetLastError()));
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

SetupFolder::SetupFolder(const fs::path& dir, FolderContents contents) : dir_(dir) {
  fs::remove_all(dir_);
  fs::create_directories(dir_);
  fs::copy_file(DosPath(BRENVIK_SETUP_EXE), dir_ / L"setup.exe");
  if (contents.inf) {
    fs::create_directories(dir_ / L"Driver");
    fs::copy_file(DosPath(BRENVIK_SETUP_INF), dir_ / L"Driver" / L"wceusbsh.inf");
  }
  if (contents.standIn) fs::copy_file(DosPath(BRENVIK_STAND_IN), dir_ / L"rundll32.exe");
  if (contents.pingParent) std::ofstream(dir_ / L"ping-parent").put('\n');
}

std::vector<std::string> SetupFolder::InstallerCalls() const {
  std::vector<std::string> calls;
  std::ifstream log(dir_ / L"rundll32-calls.txt", std::ios::binary);
  for (std::string line; std::getline(log, line);) calls.push_back(line);
  return calls;
}

fs::path RunFolder(const std::wstring& leaf) { return DosPath(BRENVIK_SETUP_RUNS) / leaf; }

SetupRun RunSetup(const SetupFolder& folder, DWORD boundMs) {
  SetupRun run;
  HANDLE process = Start(folder.Dir() / L"setup.exe", folder.Dir());
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
  if (::RegOpenKeyExW(root, key, 0, KEY_READ | KEY_WOW64_32KEY, &opened) != ERROR_SUCCESS)
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
  if (::RegOpenKeyExW(root, key, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &opened) != ERROR_SUCCESS)
    return;
  ::RegDeleteTreeW(opened, nullptr);
  ::RegCloseKey(opened);
  ::RegDeleteKeyExW(root, key, KEY_WOW64_32KEY, 0);
}

void WriteDword(HKEY root, const wchar_t* key, const wchar_t* name, DWORD value) {
  HKEY opened = nullptr;
  Check(::RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY, nullptr, &opened,
                          nullptr) == ERROR_SUCCESS,
        "cannot create a registry key");
  ::RegSetValueExW(opened, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  ::RegCloseKey(opened);
}

}  // namespace setup_test
