// The bench's record of every flash: one JSON line per handset and run, appended to a file
// that several runs, and several processes, share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

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
  std::string result;  // "success", "failed", "stopped"
  std::string cause;   // "" on success
};

class FlashLog {
 public:
  ~FlashLog();
  // Opens for appending, creating the file; false (and `error`) when it cannot be written.
  bool Open(const std::string& path, std::string& error);
  bool IsOpen() const { return m_file != nullptr; }
  // One whole line at a time: lines of parallel runs never mix. False when it was not written.
  bool Append(const FlashRecord& record);

 private:
  std::mutex m_mutex;
  std::FILE* m_file = nullptr;
};

// Now, as "2026-12-07T14:30:05.123Z".
std::string UtcNow();

}  // namespace brenvik::cli
