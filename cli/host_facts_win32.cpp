#include "host_facts.h"

#include <windows.h>

#include "win32/text.h"

namespace brenvik::cli {

bool SystemRandomBytes(std::array<uint8_t, 16>&) { return false; }

uint64_t ProcessId() { return uint64_t(::GetCurrentProcessId()); }

std::string HostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  return ::GetComputerNameW(name, &size) ? win32::Narrow(name, int(size)) : std::string();
}

const char* AccessDeniedHint() { return ""; }

}  // namespace brenvik::cli
