// How each handset's run ended, and the table that shows them all after a flash of several.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "station/result.h"

namespace brenvik::cli {

struct FlashReport {
  std::string device;
  std::string serial;
  std::string usbPort;   // "" where unknown
  std::string started;   // UTC, ISO 8601
  int32_t kind = 0;
  bool opened = false;   // the handset was opened and the download began
  bool concluded = false;  // settled, and logged where there is a log
  bool permissionDenied = false;  // the device would not open for lack of permission
  uint64_t bytesSent = 0;
  double seconds = 0;
  std::optional<double> averageRate;  // bytes per second from the first byte to the last
  station::Result result = station::Result::kFailed;  // until the run is judged
  std::string cause;     // one line, without the program's name; "" on success
  std::string causeName; // the cause as a word of a fixed set ("timeout", "no_device"); "" on success
  int exitCode = 0;
};

// device, kind, bytes, time, speed, result, cause: as a table, or one JSON "summary" line.
// With `identities`, each JSON run also has its serial and usb_port: a station reuses ttys,
// so the device alone does not tell two handsets apart.
void PrintSummary(const std::vector<FlashReport>& reports, bool json, std::FILE* out, bool identities = false);

// 0 when every run succeeded; a stop signal's code; 3 when none could be opened; else 1,
// and the failed handsets are named on `err` (also with JSON on the output).
int SummaryExitCode(const std::vector<FlashReport>& reports, std::FILE* err);

}  // namespace brenvik::cli
