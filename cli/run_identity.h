// What tells one run from every other on a line: its own id, and the station it ran on.
#pragma once

#include <string>

namespace brenvik::cli {

// A random UUID (version 4), new at each call.
std::string NewRunId();

// The host's name, "" where it cannot be had.
std::string StationName();

}  // namespace brenvik::cli
