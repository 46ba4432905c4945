#include "flash_log.h"

#include <chrono>
#include <cstdio>

#include "columns.h"
#include "log_file.h"
#include "text/json_text.h"

namespace brenvik::cli {

using text::HexBytes;
using text::IsUtf8;
using text::JsonLine;
using text::TextOrNull;
using text::WholeOrNull;

using enum records::Column;
using records::Column;
using records::ColumnName;
using records::InLog;
using records::kColumns;

namespace {

// A name that is no UTF-8 would reach the line with replacement characters, and two files
// would share one name: its bytes go beside it.
nlohmann::json BytesOf(const std::string& name) { return IsUtf8(name) ? nlohmann::json(nullptr) : nlohmann::json(HexBytes(name)); }

// The record's value of one column of the row, null where it is not known.
nlohmann::json ValueOf(const FlashRecord& r, Column column) {
  switch (column) {
    case kRunId: return r.runId;
    case kStation: return TextOrNull(r.station);
    case kTime: return r.time;
    case kImage: return r.image;
    case kImageBytes: return BytesOf(r.image);
    case kSize: return r.size;
    case kSha256: return TextOrNull(r.sha256);
    case kKind: return r.kind;
    case kDevice: return r.device;
    case kDeviceBytes: return BytesOf(r.device);
    case kUsbPort: return TextOrNull(r.usbPort);
    case kUsbSerial: return TextOrNull(r.usbSerial);
    case kBytesSent: return r.bytesSent;
    case kSeconds: return double(int64_t(r.seconds * 1000 + 0.5)) / 1000;
    case kAverageRate: return WholeOrNull(r.averageRate);
    case kResult: return station::ResultName(r.result);
    case kCause: return TextOrNull(r.cause);
    case kColumnCount: break;
  }
  return nullptr;
}

}  // namespace

std::string LogLine(const FlashRecord& r) {
  nlohmann::json j = nlohmann::json::object();
  for (size_t c = 0; c < kColumnCount; ++c) {
    nlohmann::json value = ValueOf(r, Column(c));
    if (value.is_null() && kColumns[c].inLog == InLog::kWhereNoUtf8) continue;
    j[ColumnName(c)] = std::move(value);
  }
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
