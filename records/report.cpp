#include "report.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <map>
#include <unordered_map>

#include "station/result.h"
#include "summary.h"

namespace brenvik::records {
namespace {

// "2026-12-07T14" and back, so that the hours without runs are shown as such.
std::optional<std::time_t> HourStart(const std::string& hour) {
  std::tm tm{};
  if (hour.size() != 13 || std::sscanf(hour.c_str(), "%4d-%2d-%2dT%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                                       &tm.tm_hour) != 4)
    return std::nullopt;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  return timegm(&tm);
}

std::string HourText(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H", &tm);
  return text;
}

// A report of years of runs still draws one bar per hour; past this the gaps are not filled.
constexpr std::time_t kMostHours = 24 * 366 * 2;

struct HandsetAcc {
  size_t failures = 0;
  std::string lastTime, lastResult, lastCause;
};

}  // namespace

std::string CauseKind(const std::string& cause) {
  std::string out;
  for (size_t i = 0; i < cause.size();) {
    if (cause[i] >= '0' && cause[i] <= '9') {
      while (i < cause.size() && ((cause[i] >= '0' && cause[i] <= '9') || cause[i] == '.')) ++i;
      out += 'N';
    } else {
      out += cause[i++];
    }
  }
  return out;
}

Report GatherReport(Store& store, const Where& where) {
  Report report;
  std::map<std::string, ReportHour> hours;
  std::map<std::string, ReportStation> stations;
  std::unordered_map<std::string, size_t> causes;
  struct ImageAcc {
    ReportImage image;
    std::vector<double> seconds;
  };
  std::map<std::pair<std::string, std::string>, ImageAcc> images;
  std::unordered_map<std::string, HandsetAcc> handsets;
  store.Select({{kTime, kStation, kResult, kCause, kImage, kImageBytes, kUsbSerial, kSeconds}, where},
               [&](const Values& v) {
                 const std::string& time = *v[0];
                 const std::string& result = *v[2];
                 const auto parsed = station::ParseResult(result);
                 const bool ok = parsed == station::Result::kSuccess;
                 ++report.runs;
                 report.successes += ok;
                 ReportHour& h = hours[time.substr(0, 13)];
                 (ok ? h.success : parsed == station::Result::kStopped ? h.stopped : h.failed)++;
                 ReportStation& s = stations[v[1].value_or("")];
                 ++s.runs;
                 s.successes += ok;
                 if (!ok) ++causes[CauseKind(v[3].value_or(""))];
                 ImageAcc& img = images[{v[4].value_or(""), v[5].value_or("")}];
                 ++img.image.runs;
                 if (v[7]) img.seconds.push_back(std::strtod(v[7]->c_str(), nullptr));
                 // Only handsets with a serial are told apart: a path names the next one too.
                 if (!v[6] || v[6]->empty()) return;
                 HandsetAcc& a = handsets[*v[6]];
                 a.failures += !ok;
                 if (time >= a.lastTime) a.lastTime = time, a.lastResult = result, a.lastCause = v[3].value_or("");
               });
  // The period is that of --since and --until where they are given: a shift's first hour
  // without runs is shown as such, not left out.
  std::optional<std::time_t> first, last;
  if (!hours.empty()) first = HourStart(hours.begin()->first), last = HourStart(hours.rbegin()->first);
  for (const Condition& c : where) {
    if (c.column != kTime) continue;
    if (c.compare == Compare::kAtLeast) {
      if (auto since = HourStart(c.value.substr(0, 13)); since && (!first || *since < *first)) first = since;
    } else if (c.compare == Compare::kBelow) {
      // --until is exclusive: an until on the hour ends with the hour before.
      auto until = HourStart(c.value.substr(0, 13));
      if (until && c.value.compare(13, std::string::npos, ":00:00.000Z") == 0) *until -= 3600;
      if (until && (!last || *until > *last)) last = until;
    }
  }
  if (first && last && *last >= *first && (*last - *first) / 3600 < kMostHours)
    for (std::time_t t = *first; t <= *last; t += 3600) hours.try_emplace(HourText(t));
  for (auto& [hour, h] : hours) {
    h.hour = hour;
    report.hours.push_back(h);
  }
  for (auto& [name, s] : stations) {
    s.station = name;
    report.stations.push_back(s);
  }
  for (auto& [cause, runs] : causes) report.causes.push_back({cause, runs});
  std::sort(report.causes.begin(), report.causes.end(),
            [](const ReportCause& a, const ReportCause& b) { return a.runs != b.runs ? a.runs > b.runs : a.cause < b.cause; });
  for (auto& [key, acc] : images) {
    acc.image.image = key.first;
    acc.image.imageBytes = key.second;
    if (!acc.seconds.empty()) {
      std::sort(acc.seconds.begin(), acc.seconds.end());
      acc.image.median = Quantile(acc.seconds, 0.5);
      acc.image.p95 = Quantile(acc.seconds, 0.95);
    }
    report.images.push_back(std::move(acc.image));
  }
  for (auto& [serial, a] : handsets)
    if (a.failures > 1) report.handsets.push_back({serial, a.failures, a.lastTime, a.lastResult, a.lastCause});
  std::sort(report.handsets.begin(), report.handsets.end(), [](const ReportHandset& a, const ReportHandset& b) {
    return a.failures != b.failures ? a.failures > b.failures : a.serial < b.serial;
  });
  return report;
}

}  // namespace brenvik::records
