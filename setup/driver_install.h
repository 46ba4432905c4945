// Installing the handset's USB driver: the system's rundll32.exe, named by its full path,
// runs SetupAPI's InstallHinfSection on Driver\wceusbsh.inf beside the program, on the
// platforms whose installer command is known.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace setup {

// Which installer command a platform gets.
enum PlatformCode : int {
  kWindows9x = 1,    // 95, 98, Me
  kWindows2000 = 2,  // NT 5.0
  kWindowsXP = 3,    // NT 5.1
  kNoInstaller = 4,  // NT 4.0, NT 5.2, version 6 and later, Win32s
};

PlatformCode PlatformFromVersion(const OSVERSIONINFOW& version);
// The running system's code; kNoInstaller when the version cannot be read.
PlatformCode DetectPlatform();

// The installer's command line takes at most this many characters, its terminating zero
// included: the buffer the installer has always been started with.
inline constexpr std::size_t kCommandLineCapacity = 256;
inline constexpr wchar_t kInfPath[] = L"Driver\\wceusbsh.inf";

// The command line for a platform, followed directly by the INF's path in programDir (which
// ends in a backslash, or is empty for the current directory); empty for kNoInstaller. The
// path is never quoted: InstallHinfSection takes the rest of the line as the path.
std::wstring InstallerCommandLine(int platform, const std::wstring& programDir);

// The system's own installer host: rundll32.exe in the system folder, by its full path;
// empty when the system folder cannot be told.
std::wstring SystemRundll32();

// The running program's folder up to and including its last backslash.
std::wstring ProgramDirectory();

enum class InstallResult {
  kInstalled,       // the installer was started and has ended
  kNoInstaller,     // no command for this platform
  kTooLong,         // the command line would not fit kCommandLineCapacity
  kNoInf,           // Driver\wceusbsh.inf is not there
  kNotStarted,      // the installer could not be started
};

// Starts the installer, SystemRundll32() and never a rundll32.exe found by a search, with
// InstallerCommandLine() as its command line, and waits for it to end, however long that
// takes (it may ask the user something). The installer's own exit code says nothing and is
// not read.
InstallResult InstallDriver(int platform, const std::wstring& programDir);

}  // namespace setup
