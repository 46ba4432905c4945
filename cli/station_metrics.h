// What a station tells a line's Prometheus: its runs by result and cause, the successes'
// durations, the bytes sent, its handsets by state, the runs waiting for the database, its
// image and its start. Fed by the station's loop and runs, read by the metrics server's
// thread: each update holds a lock for a few additions only, and rendering formats a copy,
// so a scrape never holds up a flash.
//
// Every label has a bounded set of values: a cause is one of kCauses, never a run's text, and
// no serial number or device path is ever a label.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "station/result.h"
#include "station/station.h"

namespace brenvik::cli {

// The causes a failed or stopped run is counted under: the download's own (timeout, hang_up,
// ...) and those of the station (unplugged, permission_denied, no_device, image).
extern const std::array<const char*, 15> kMetricCauses;
// One of kMetricCauses for a name given (the download's CauseName, "unplugged" ...); "other"
// for any name outside the set.
const char* MetricCause(const std::string& name);

// The successes' duration buckets, in seconds: a handset takes from a few seconds to minutes.
inline constexpr std::array<double, 11> kDurationBuckets = {5, 10, 20, 30, 45, 60, 90, 120, 180, 300, 600};

class StationMetrics {
 public:
  // `startUnixSeconds`: when the station started; `version`: the program's.
  StationMetrics(double startUnixSeconds, std::string version);

  void RunEnded(station::Result result, const std::string& cause, double seconds, uint64_t bytesSent);
  void SetHandsets(const std::vector<station::Slot>& slots);
  void SetImage(const std::string& sha256, std::optional<int32_t> kind);
  // Asked at each scrape: how many runs wait for the database (none without one).
  void SetRecordsWaiting(std::function<size_t()> waiting);

  // The text format of Prometheus (version 0.0.4).
  std::string Render() const;

 private:
  struct Counts {
    std::array<uint64_t, 3> runs{};                  // by station::Result
    std::array<uint64_t, 15> causes{};              // by kMetricCauses
    std::array<uint64_t, 11> buckets{};              // successes at most each bound
    uint64_t successes = 0;
    double secondsSum = 0;
    uint64_t bytesSent = 0;
    std::array<int, 4> handsets{};                   // flashing, done, failed, waiting
    std::string sha256;
    std::optional<int32_t> kind;
  };
  mutable std::mutex m_mutex;
  Counts m_counts;
  std::function<size_t()> m_waiting;
  const double m_start;
  const std::string m_version;
};

}  // namespace brenvik::cli
