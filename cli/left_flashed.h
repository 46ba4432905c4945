// The station's memory of the handsets it left flashed, kept from one station to the next
// (a restart by systemd, or by hand) so that a handset that stayed plugged in is not flashed
// again. left_flashed_posix.cpp and left_flashed_win32.cpp keep it.
#pragma once

#include <string>
#include <vector>

#include "station/station.h"

namespace brenvik::cli {

// The file, in the service's state folder ($STATE_DIRECTORY) or the user's runtime folder
// ($XDG_RUNTIME_DIR); "" where there is neither, or where the system gives no USB device
// nodes to tell a handset that stayed from one plugged in again (Windows).
std::string LeftFlashedFile();

// What the file holds, if it was written since this machine started; nothing otherwise.
std::vector<station::LeftFlashed> ReadLeftFlashed(const std::string& file);

// Replaces the file as a whole (a new file renamed over it); false when it cannot.
bool WriteLeftFlashed(const std::string& file, const std::vector<station::LeftFlashed>& left);

}  // namespace brenvik::cli
