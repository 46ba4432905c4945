#include "station_metrics.h"

#include <charconv>
#include <cstring>

namespace brenvik::cli {

const std::array<const char*, 15> kMetricCauses = {
    "timeout",  "hang_up",  "device_error", "short_transfer",    "wrong_packet", "stopped", "image_changed", "malformed",
    "not_correct", "internal", "unplugged", "permission_denied", "no_device",    "image",   "other"};

namespace {

constexpr size_t kOther = kMetricCauses.size() - 1;

size_t CauseIndex(const std::string& name) {
  for (size_t i = 0; i < kOther; ++i)
    if (name == kMetricCauses[i]) return i;
  return kOther;
}

std::string Number(double value) {
  char text[64];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc() ? std::string(text, end) : "NaN";
}

// A label's value in the text format: backslash, quote and newline escaped. Only the image's
// hash and the program's version come here, but neither is trusted to be plain.
std::string LabelValue(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

void Head(std::string& out, const char* name, const char* type, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

}  // namespace

const char* MetricCause(const std::string& name) { return kMetricCauses[CauseIndex(name)]; }

StationMetrics::StationMetrics(double startUnixSeconds, std::string version)
    : m_start(startUnixSeconds), m_version(std::move(version)) {}

void StationMetrics::RunEnded(station::Result result, const std::string& cause, double seconds, uint64_t bytesSent) {
  std::lock_guard<std::mutex> lock(m_mutex);
  ++m_counts.runs[size_t(result)];
  m_counts.bytesSent += bytesSent;
  if (result != station::Result::kSuccess) {
    ++m_counts.causes[CauseIndex(cause)];
    return;
  }
  ++m_counts.successes;
  m_counts.secondsSum += seconds;
  for (size_t i = 0; i < kDurationBuckets.size(); ++i)
    if (seconds <= kDurationBuckets[i]) ++m_counts.buckets[i];
}

void StationMetrics::SetHandsets(const std::vector<station::Slot>& slots) {
  std::array<int, 4> counts{};
  for (const station::Slot& s : slots) {
    switch (s.state) {
      case station::SlotState::kRunning: ++counts[0]; break;
      case station::SlotState::kDone: ++counts[1]; break;
      case station::SlotState::kFailed: ++counts[2]; break;
      case station::SlotState::kWaiting: ++counts[3]; break;
      case station::SlotState::kGone: break;
    }
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_counts.handsets = counts;
}

void StationMetrics::SetImage(const std::string& sha256, std::optional<int32_t> kind) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_counts.sha256 = sha256;
  m_counts.kind = kind;
}

void StationMetrics::SetRecordsWaiting(std::function<size_t()> waiting) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_waiting = std::move(waiting);
}

std::string StationMetrics::Render() const {
  Counts c;
  std::function<size_t()> waiting;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    c = m_counts;
    waiting = m_waiting;
  }
  std::string out;
  out.reserve(4096);
  Head(out, "brenvik_station_runs_total", "counter", "Runs that ended, by result.");
  for (station::Result r : {station::Result::kSuccess, station::Result::kFailed, station::Result::kStopped})
    out += std::string("brenvik_station_runs_total{result=\"") + station::ResultName(r) + "\"} " +
           std::to_string(c.runs[size_t(r)]) + "\n";
  Head(out, "brenvik_station_failures_total", "counter", "Runs that failed or were stopped, by cause.");
  for (size_t i = 0; i < kMetricCauses.size(); ++i)
    out += std::string("brenvik_station_failures_total{cause=\"") + kMetricCauses[i] + "\"} " +
           std::to_string(c.causes[i]) + "\n";
  Head(out, "brenvik_station_success_duration_seconds", "histogram", "Durations of the successful runs.");
  for (size_t i = 0; i < kDurationBuckets.size(); ++i)
    out += "brenvik_station_success_duration_seconds_bucket{le=\"" + Number(kDurationBuckets[i]) + "\"} " +
           std::to_string(c.buckets[i]) + "\n";
  out += "brenvik_station_success_duration_seconds_bucket{le=\"+Inf\"} " + std::to_string(c.successes) + "\n";
  out += "brenvik_station_success_duration_seconds_sum " + Number(c.secondsSum) + "\n";
  out += "brenvik_station_success_duration_seconds_count " + std::to_string(c.successes) + "\n";
  Head(out, "brenvik_station_sent_bytes_total", "counter", "Bytes sent to handsets.");
  out += "brenvik_station_sent_bytes_total " + std::to_string(c.bytesSent) + "\n";
  Head(out, "brenvik_station_handsets", "gauge", "Handsets plugged in, by state.");
  const char* states[] = {"flashing", "done", "failed", "waiting"};
  for (size_t i = 0; i < 4; ++i)
    out += std::string("brenvik_station_handsets{state=\"") + states[i] + "\"} " + std::to_string(c.handsets[i]) + "\n";
  Head(out, "brenvik_station_records_waiting", "gauge", "Runs in the log that wait to go into the database.");
  out += "brenvik_station_records_waiting " + std::to_string(waiting ? waiting() : 0) + "\n";
  if (!c.sha256.empty()) {
    Head(out, "brenvik_station_image_info", "gauge", "The image the station flashes: its SHA-256 and kind.");
    out += "brenvik_station_image_info{sha256=\"" + LabelValue(c.sha256) + "\",kind=\"" +
           (c.kind ? std::to_string(*c.kind) : std::string()) + "\"} 1\n";
  }
  Head(out, "brenvik_station_start_time_seconds", "gauge", "When the station started, in seconds since the epoch.");
  out += "brenvik_station_start_time_seconds " + Number(m_start) + "\n";
  Head(out, "brenvik_station_build_info", "gauge", "The station's program and its version.");
  out += "brenvik_station_build_info{version=\"" + LabelValue(m_version) + "\"} 1\n";
  return out;
}

}  // namespace brenvik::cli
