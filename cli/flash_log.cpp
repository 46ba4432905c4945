#include "flash_log.h"

#include <chrono>
#include <cstdio>

#include "log_file.h"
#include "text/json_text.h"

namespace brenvik::cli {

using text::HexBytes;
using text::IsUtf8;
using text::JsonLine;
using text::TextOrNull;
using text::WholeOrNull;

namespace {

// A name that is no UTF-8 would reach the line with replacement characters, and two files
// would share one name: the bytes go beside it.
void PutName(nlohmann::json& j, const char* key, const std::string& name) {
  j[key] = name;
  if (!IsUtf8(name)) j[std::string(key) + "_bytes"] = HexBytes(name);
}

}  // namespace

std::string LogLine(const FlashRecord& r) {
  nlohmann::json j{{"time", r.time},
                   {"size", r.size},
                   {"sha256", TextOrNull(r.sha256)},
                   {"kind", r.kind},
                   {"usb_serial", TextOrNull(r.usbSerial)},
                   {"bytes_sent", r.bytesSent},
                   {"seconds", double(int64_t(r.seconds * 1000 + 0.5)) / 1000},
                   {"average_rate", WholeOrNull(r.averageRate)},
                   {"result", station::ResultName(r.result)},
                   {"cause", TextOrNull(r.cause)},
                   {"run_id", r.runId},
                   {"station", TextOrNull(r.station)},
                   {"usb_port", TextOrNull(r.usbPort)}};
  PutName(j, "image", r.image);
  PutName(j, "device", r.device);
  return JsonLine(j);
}

FlashLog::FlashLog() = default;
FlashLog::~FlashLog() = default;

bool FlashLog::Open(const std::string& path, const std::string& image, std::string& error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_file.reset();
  m_file = OpenLogFile(path, image, error);
  return m_file != nullptr;
}

bool FlashLog::IsOpen() const { return m_file != nullptr; }

bool FlashLog::Append(const FlashRecord& record, std::string& error) {
  const std::string line = LogLine(record) + "\n";
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!IsOpen()) {
    error = "the log is not open";
    return false;
  }
  return m_file->AppendLine(line, error);
}

std::string UtcNow() {
  using namespace std::chrono;
  const auto now = time_point_cast<milliseconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> time{now - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()), unsigned(date.month()),
                unsigned(date.day()), int(time.hours().count()), int(time.minutes().count()),
                int(time.seconds().count()), int(time.subseconds().count()));
  return text;
}

}  // namespace brenvik::cli
