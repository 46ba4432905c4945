// What the records' HTML report shows, gathered in one pass over the runs that match: runs
// per hour by result, each station's success rate, the failure causes ranked, each image's
// durations and the handsets that failed more than once. The figures are those of summary:
// the same runs, the same quantiles.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "query.h"
#include "store.h"

namespace brenvik::records {

struct ReportHour {
  std::string hour;  // "2026-12-07T14", UTC; every hour of the period, those without runs too
  size_t success = 0, failed = 0, stopped = 0;
};

struct ReportStation {
  std::string station;
  size_t runs = 0, successes = 0;
};

struct ReportCause {
  std::string cause;  // the cause with its numbers as "N": one kind of failure, whatever block
  size_t runs = 0;
};

struct ReportImage {
  std::string image, imageBytes;  // imageBytes: an image name that is no UTF-8, in hex
  size_t runs = 0;
  std::optional<double> median, p95;
};

struct ReportHandset {
  std::string serial;
  size_t failures = 0;
  std::string lastTime, lastResult, lastCause;
};

struct Report {
  size_t runs = 0, successes = 0;
  std::vector<ReportHour> hours;        // oldest first
  std::vector<ReportStation> stations;  // by name
  std::vector<ReportCause> causes;      // most first
  std::vector<ReportImage> images;      // by name
  std::vector<ReportHandset> handsets;  // those that failed more than once, most failures first
};

Report GatherReport(Store& store, const Where& where);

// "at block 3's ready packet: timed out after 60 s" -> "at block N's ready packet: timed out after N s".
std::string CauseKind(const std::string& cause);

}  // namespace brenvik::records
