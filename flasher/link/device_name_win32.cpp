// Device names as Windows reads them. The system, not our own parsing, says what a name
// means: GetFullPathNameW turns every spelling of a DOS device (a colon, a folder or an
// extension around it) into \\.\NAME, and QueryDosDeviceW tells the device behind it.
#include <windows.h>

#include <cctype>
#include <iterator>
#include <string>
#include <vector>

#include "link/device_name.h"
#include "link/protocol.h"
#include "win32/text.h"

namespace brenvik {
namespace {

// A DOS device name's alias chain (AUX -> \DosDevices\COM1 -> \Device\Serial0) is short;
// the bound only guards against a loop.
constexpr int kMaxAliasHops = 8;

std::wstring Upper(std::wstring s) {
  if (!s.empty()) ::CharUpperBuffW(s.data(), DWORD(s.size()));
  return s;
}

bool StartsWith(const std::wstring& s, const wchar_t* prefix) { return s.rfind(prefix, 0) == 0; }

// A bare "COM7" only names the port through the device namespace (required from COM10 on).
std::string DeviceNamespacePath(const std::string& path) {
  if (path.size() < 4) return path;
  for (size_t i = 0; i < 3; ++i)
    if (std::toupper(static_cast<unsigned char>(path[i])) != "COM"[i]) return path;
  for (size_t i = 3; i < path.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(path[i]))) return path;
  return "\\\\.\\" + path;
}

std::wstring FullPath(const std::wstring& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD n = ::GetFullPathNameW(path.c_str(), DWORD(buffer.size()), buffer.data(), nullptr);
    if (n == 0) return path;
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(n + 1);
  }
  return path;
}

// The first target of a DOS device name, followed through the DOS names it points at;
// "" when the system has none (Wine's own COM links are found only when opened).
std::wstring DosDeviceTarget(std::wstring name) {
  std::wstring target;
  for (int hop = 0; hop < kMaxAliasHops; ++hop) {
    wchar_t buffer[1024];
    if (!::QueryDosDeviceW(name.c_str(), buffer, DWORD(std::size(buffer)))) break;
    target = buffer;  // the first of the list
    const std::wstring upper = Upper(target);
    if (StartsWith(upper, L"\\DOSDEVICES\\")) {
      name = target.substr(12);
    } else if (StartsWith(upper, L"\\??\\")) {
      name = target.substr(4);
    } else {
      break;
    }
  }
  return Upper(target);
}

// Names that are the system's own devices, never a port a handset is on. AUX and PRN are
// aliases: a port is named by its own name (COM1, LPT1) or not at all.
bool IsSystemDevice(const std::wstring& upperName) {
  for (const wchar_t* name : {L"NUL", L"CON", L"PRN", L"AUX", L"CONIN$", L"CONOUT$", L"CLOCK$"})
    if (upperName == name) return true;
  return false;
}

// Every interface of a class is named "...#{class guid}" by the system.
bool IsClassInterface(const std::wstring& upperPath) {
  const std::wstring suffix = L"#" + Upper(win32::Widen(HANDSET_INTERFACE_CLASS));
  return (StartsWith(upperPath, L"\\\\?\\") || StartsWith(upperPath, L"\\\\.\\")) &&
         upperPath.size() > suffix.size() &&
         upperPath.compare(upperPath.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

DeviceName ReadDeviceName(const std::string& path) {
  DeviceName name;
  name.open = DeviceNamespacePath(path);
  // \\?\ paths reach the system as written; everything else as GetFullPathNameW reads it.
  const std::wstring wide = win32::Widen(name.open);
  const std::wstring full = Upper(StartsWith(wide, L"\\\\?\\") ? wide : FullPath(wide));
  name.classInterface = IsClassInterface(full);
  name.identity = win32::Narrow(full.c_str());
  const bool dosNamespace = StartsWith(full, L"\\\\.\\") || StartsWith(full, L"\\\\?\\");
  if (dosNamespace && full.find(L'\\', 4) == std::wstring::npos) {
    const std::wstring dosName = full.substr(4);
    name.systemDevice = IsSystemDevice(dosName);
    const std::wstring target = DosDeviceTarget(dosName);
    name.identity = win32::Narrow((target.empty() ? L"\\\\.\\" + dosName : target).c_str());
  }
  return name;
}

}  // namespace brenvik
