#include "summary.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

#include "station/result.h"

namespace brenvik::records {

std::optional<GroupBy> ParseGroupBy(const std::string& text) {
  if (text == "hour") return GroupBy::kHour;
  if (text == "day") return GroupBy::kDay;
  if (text == "station") return GroupBy::kStation;
  if (text == "image") return GroupBy::kImage;
  if (text == "result") return GroupBy::kResult;
  return std::nullopt;
}

double Quantile(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return 0;
  const double at = q * double(sorted.size() - 1);
  const size_t below = size_t(std::floor(at));
  const size_t above = std::min(below + 1, sorted.size() - 1);
  return sorted[below] + (sorted[above] - sorted[below]) * (at - double(below));
}

std::vector<Group> Summarise(Store& store, const Where& where, GroupBy by) {
  // Only what the groups need is read, whatever the number of runs: the key's column (and an
  // image's bytes), the result and the duration. An hour or a day is the head of the time.
  Column key = kResult;
  size_t keyLength = std::string::npos;
  switch (by) {
    case GroupBy::kHour: key = kTime, keyLength = 13; break;
    case GroupBy::kDay: key = kTime, keyLength = 10; break;
    case GroupBy::kStation: key = kStation; break;
    case GroupBy::kImage: key = kImage; break;
    case GroupBy::kResult: key = kResult; break;
  }
  struct Acc {
    Group group;
    std::vector<double> seconds, successSeconds;
  };
  std::map<std::pair<std::string, std::string>, Acc> groups;
  store.Select({{key, kImageBytes, kResult, kSeconds}, where}, [&](const Values& v) {
    const std::string bytes = by == GroupBy::kImage ? v[1].value_or("") : "";
    Acc& acc = groups[{v[0].value_or("").substr(0, keyLength), bytes}];
    ++acc.group.runs;
    const bool success = station::ParseResult(v[2].value_or("")) == station::Result::kSuccess;
    if (success) ++acc.group.successes;
    if (v[3]) {
      acc.seconds.push_back(std::strtod(v[3]->c_str(), nullptr));
      if (success) acc.successSeconds.push_back(acc.seconds.back());
    }
  });
  std::vector<Group> out;
  for (auto& [k, acc] : groups) {
    acc.group.key = k.first;
    acc.group.keyBytes = k.second;
    auto quantiles = [](std::vector<double>& seconds, std::optional<double>& median, std::optional<double>& p95) {
      if (seconds.empty()) return;
      std::sort(seconds.begin(), seconds.end());
      median = Quantile(seconds, 0.5);
      p95 = Quantile(seconds, 0.95);
    };
    quantiles(acc.seconds, acc.group.median, acc.group.p95);
    quantiles(acc.successSeconds, acc.group.successMedian, acc.group.successP95);
    out.push_back(std::move(acc.group));
  }
  return out;
}

}  // namespace brenvik::records
