// The bench's record of every flash: one JSON line per handset and run, appended to a file
// that several runs, and several processes, share.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "station/result.h"

namespace brenvik::cli {

struct FlashRecord {
  std::string time;    // UTC, ISO 8601, when the run began
  std::string image;
  uint64_t size = 0;
  std::optional<std::string> sha256;
  int32_t kind = 0;
  std::string device;
  std::string usbSerial;  // "" where unknown
  uint64_t bytesSent = 0;
  double seconds = 0;
  std::optional<double> averageRate;  // bytes per second; none where no byte went out
  station::Result result = station::Result::kFailed;
  std::string cause;   // "" on success
  std::string runId;    // a random UUID, one per run
  std::string station;  // the host's name
  std::string usbPort;  // "" where unknown
};

// The record as its line, without the newline. A path that is no UTF-8 is written with
// replacement characters and again, losslessly, as its bytes in hex ("image_bytes").
std::string LogLine(const FlashRecord& record);

class LogFile;

class FlashLog {
 public:
  FlashLog();
  FlashLog(const FlashLog&) = delete;
  FlashLog& operator=(const FlashLog&) = delete;
  ~FlashLog();
  // Opens for appending, creating the file. Refuses, with `error`, what is no regular file
  // (nothing is opened that could block or act on a device), the image file itself under
  // any of its names, and a file that cannot be written.
  bool Open(const std::string& path, const std::string& image, std::string& error);
  bool IsOpen() const;
  // One whole line or nothing, under a lock that other processes honour too; a line always
  // starts on a line of its own. False, with `error`, when it was not written. A log that
  // was moved away or deleted (logrotate) is opened again at its path first, as Open does.
  bool Append(const FlashRecord& record, std::string& error);

 private:
  std::mutex m_mutex;
  std::unique_ptr<LogFile> m_file;  // the platform's file: log_file_posix.cpp, log_file_win32.cpp
};

// Now, as "2026-12-07T14:30:05.123Z".
std::string UtcNow();

}  // namespace brenvik::cli
