// Runs per group (hour, day, station, image, result): how many, how many went through, the
// failure rate and the median and 95th percentile of the duration.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "query.h"
#include "store.h"

namespace brenvik::records {

enum class GroupBy { kHour, kDay, kStation, kImage, kResult };
std::optional<GroupBy> ParseGroupBy(const std::string& text);

struct Group {
  std::string key;       // "2026-12-07T14", "2026-12-07", the station, the image, the result
  std::string keyBytes;  // an image that is no UTF-8: its bytes in hex
  size_t runs = 0, successes = 0;
  // Seconds, over every run with a duration (a failed one's too: one that found no device
  // counts 0); none where no run has one.
  std::optional<double> median, p95;
  // The same over the successes alone: how long a flash takes.
  std::optional<double> successMedian, successP95;
  double FailureRate() const { return runs ? double(runs - successes) / double(runs) : 0; }
};

// The groups in the order of their keys.
std::vector<Group> Summarise(Store& store, const Where& where, GroupBy by);

// The value at quantile q (0..1) of sorted values, interpolated between the two nearest.
double Quantile(const std::vector<double>& sorted, double q);

}  // namespace brenvik::records
