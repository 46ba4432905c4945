// A recording rundll32.exe: appends its exact command line (UTF-8, one line per start) to
// rundll32-calls.txt beside itself. Copied over the system folder's rundll32.exe it stands in
// for the system's installer host and records what setup.exe starts it with; copied beside
// setup.exe or into its current folder it is a stray, which must never be started.
//
// With a file "ping-parent" beside it, it first sends a message to each top-level window
// of the process that started it and records "parent answered" or "parent did not answer":
// an installer that broadcasts must not wait on setup.exe while setup.exe waits on it.
#include <windows.h>
#include <tlhelp32.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "win32/text.h"

namespace {

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH * 2];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, DWORD(std::size(path)));
  std::wstring folder(path, n);
  return folder.substr(0, folder.rfind(L'\\') + 1);
}

DWORD ParentProcessId() {
  DWORD parent = 0;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
       more = ::Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == ::GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  }
  ::CloseHandle(snapshot);
  return parent;
}

struct Ping {
  DWORD process;
  int windows = 0;
  int answered = 0;
};

BOOL CALLBACK PingWindow(HWND window, LPARAM context) {
  auto& ping = *reinterpret_cast<Ping*>(context);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if (owner != ping.process) return TRUE;
  ++ping.windows;
  DWORD_PTR result = 0;
  if (::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &result)) ++ping.answered;
  return TRUE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::wstring folder = OwnFolder();
  std::ofstream log(std::filesystem::path(folder + L"rundll32-calls.txt"),
                    std::ios::app | std::ios::binary);
  if (::GetFileAttributesW((folder + L"ping-parent").c_str()) != INVALID_FILE_ATTRIBUTES) {
    Ping ping{ParentProcessId()};
    ::EnumWindows(PingWindow, reinterpret_cast<LPARAM>(&ping));
    const bool answered = ping.windows > 0 && ping.answered == ping.windows;
    log << (answered ? "parent answered\n" : "parent did not answer\n");
  }
  log << win32::Narrow(::GetCommandLineW()) << '\n';
  return 0;
}
