// What only the host system can give a run: random bytes where it has a call for them, the
// process's id, the host's name. host_facts_posix.cpp and host_facts_win32.cpp ask it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace brenvik::cli {

// 16 bytes from the kernel's random numbers; false where there is no call for them that
// every supported version keeps (Windows 2000).
bool SystemRandomBytes(std::array<uint8_t, 16>& bytes);
uint64_t ProcessId();
// The host's name, "" where it cannot be had.
std::string HostName();
// What a user refused a handset's device can do about it here; "" where the system has no
// such remedy to name.
const char* AccessDeniedHint();

}  // namespace brenvik::cli
