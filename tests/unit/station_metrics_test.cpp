// The station's metrics as Prometheus reads them: cumulative buckets, causes kept to their
// fixed set, handsets by state.
#include <gtest/gtest.h>

#include "station_metrics.h"

namespace brenvik::cli {
namespace {

using station::Result;

TEST(StationMetrics, CountsRunsCausesAndDurations) {
  StationMetrics m(1796601600.5, "1.0");
  m.RunEnded(Result::kSuccess, "", 3, 100);
  m.RunEnded(Result::kSuccess, "", 12, 100);
  m.RunEnded(Result::kSuccess, "", 700, 100);
  m.RunEnded(Result::kFailed, "timeout", 9, 50);
  m.RunEnded(Result::kFailed, "at block 3: \"no answer\"\n", 9, 0);  // free text never becomes a label
  m.RunEnded(Result::kStopped, "stopped", 1, 0);
  std::vector<station::Slot> slots(5);
  slots[0].state = station::SlotState::kRunning;
  slots[1].state = station::SlotState::kRunning;
  slots[2].state = station::SlotState::kDone;
  slots[3].state = station::SlotState::kGone;
  slots[4].state = station::SlotState::kWaiting;
  m.SetHandsets(slots);
  m.SetImage(std::string(64, 'a'), 5);
  m.SetRecordsWaiting([] { return size_t(7); });
  const std::string text = m.Render();
  for (const char* line : {
           "brenvik_station_runs_total{result=\"success\"} 3\n",
           "brenvik_station_runs_total{result=\"failed\"} 2\n",
           "brenvik_station_runs_total{result=\"stopped\"} 1\n",
           "brenvik_station_failures_total{cause=\"timeout\"} 1\n",
           "brenvik_station_failures_total{cause=\"other\"} 1\n",
           "brenvik_station_failures_total{cause=\"stopped\"} 1\n",
           "brenvik_station_failures_total{cause=\"unplugged\"} 0\n",
           "brenvik_station_success_duration_seconds_bucket{le=\"5\"} 1\n",
           "brenvik_station_success_duration_seconds_bucket{le=\"10\"} 1\n",
           "brenvik_station_success_duration_seconds_bucket{le=\"20\"} 2\n",
           "brenvik_station_success_duration_seconds_bucket{le=\"600\"} 2\n",
           "brenvik_station_success_duration_seconds_bucket{le=\"+Inf\"} 3\n",
           "brenvik_station_success_duration_seconds_sum 715\n",
           "brenvik_station_success_duration_seconds_count 3\n",
           "brenvik_station_sent_bytes_total 350\n",
           "brenvik_station_handsets{state=\"flashing\"} 2\n",
           "brenvik_station_handsets{state=\"done\"} 1\n",
           "brenvik_station_handsets{state=\"failed\"} 0\n",
           "brenvik_station_handsets{state=\"waiting\"} 1\n",
           "brenvik_station_records_waiting 7\n",
           "kind=\"5\"} 1\n",
           "brenvik_station_start_time_seconds 1796601600.5\n",
           "brenvik_station_build_info{version=\"1.0\"} 1\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\nin:\n" << text;
  EXPECT_EQ(text.find("no answer"), std::string::npos);
}

}  // namespace
}  // namespace brenvik::cli
