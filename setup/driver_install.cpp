#include "driver_install.h"

#include <vector>

namespace setup {
namespace {

const wchar_t* CommandPrefix(int platform) {
  switch (platform) {
    case kWindows9x:
      return L"rundll32.exe setupapi.dll,InstallHinfSection Host_Inst 132 ";
    case kWindows2000:  // Windows 2000 wants it this way: upper case, a blank after the comma
      return L"RUNDLL32.EXE SETUPAPI.DLL, InstallHinfSection Host_Inst.NT 132 ";
    case kWindowsXP:
      return L"rundll32.exe setupapi.dll,InstallHinfSection Host_Inst.NT 132 ";
    default:
      return nullptr;
  }
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Sent messages are still answered while the installer runs: an installer that sends to
// every top-level window (as after a device change) would otherwise wait on our hidden
// dialog while we wait on it.
void WaitServingSentMessages(HANDLE process) {
  for (;;) {
    const DWORD woken = ::MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_SENDMESSAGE);
    if (woken != WAIT_OBJECT_0 + 1) return;  // ended, or the wait itself failed
    MSG message;
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace

std::wstring SystemRundll32() {
  wchar_t folder[MAX_PATH] = {};
  const UINT n = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};  // failed, or it would not fit: no path at all
  std::wstring path(folder, n);
  if (path.back() != L'\\') path += L'\\';
  return path + L"rundll32.exe";
}

PlatformCode PlatformFromVersion(const OSVERSIONINFOW& version) {
  if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return kWindows9x;
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion == 5) {
    if (version.dwMinorVersion == 0) return kWindows2000;
    if (version.dwMinorVersion == 1) return kWindowsXP;
  }
  return kNoInstaller;
}

PlatformCode DetectPlatform() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!::GetVersionExW(&version)) return kNoInstaller;
  return PlatformFromVersion(version);
}

std::wstring InstallerCommandLine(int platform, const std::wstring& programDir) {
  const wchar_t* prefix = CommandPrefix(platform);
  if (!prefix) return {};
  return prefix + programDir + kInfPath;
}

std::wstring ProgramDirectory() {
  // Paths may be longer than MAX_PATH; a truncated name would give a wrong folder.
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      const std::wstring name(path.data(), n);
      const size_t slash = name.rfind(L'\\');
      return slash == std::wstring::npos ? std::wstring() : name.substr(0, slash + 1);
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

InstallResult InstallDriver(int platform, const std::wstring& programDir) {
  const std::wstring command = InstallerCommandLine(platform, programDir);
  if (command.empty()) return InstallResult::kNoInstaller;
  if (command.size() + 1 > kCommandLineCapacity) return InstallResult::kTooLong;
  // The installer reports nothing back, so a missing INF would pass for an installation.
  if (!IsFile(programDir + kInfPath)) return InstallResult::kNoInf;

  // The program is named by its full path, so that no search takes place: a rundll32.exe
  // beside setup.exe or in the current folder would otherwise run in its place, with the
  // administrator's rights, and the installation would pass for done.
  const std::wstring program = SystemRundll32();
  if (program.empty()) return InstallResult::kNotStarted;

  // CreateProcessW may write into its command line.
  wchar_t buffer[kCommandLineCapacity] = {};
  command.copy(buffer, command.size());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(program.c_str(), buffer, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return InstallResult::kNotStarted;
  }
  WaitServingSentMessages(process.hProcess);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return InstallResult::kInstalled;
}

}  // namespace setup
