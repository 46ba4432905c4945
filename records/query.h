// The questions a line asks of its records: which runs, by serial, image, port, station and
// time. The same filters serve find and summary.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "columns.h"

namespace brenvik::records {

struct Filter {
  std::string serialPrefix, sha256Prefix, image, device, usbPort, result, station;
  std::string since, until;  // as given: ISO 8601, "today", "-8h"
};

enum class Compare { kEqual, kAtLeast, kBelow };

// One condition on a column: its value is only ever bound, never written into SQL.
struct Condition {
  Column column;
  Compare compare;
  std::string value;
  bool operator==(const Condition&) const = default;
};

// The runs that meet every condition; none: every run.
using Where = std::vector<Condition>;

// Nothing, with `error`, for a time or a result that is not understood.
std::optional<Where> BuildWhere(const Filter& filter, std::time_t now, std::string& error);

// A time as the log writes it ("2026-12-07T14:30:05.000Z"): ISO 8601 (a date, a time with or
// without seconds, Z or an offset; without one it is local time), "today" (local midnight),
// "yesterday", or back from now: "-8h", "-30m", "-2d", "-90s".
std::optional<std::string> ParseWhen(const std::string& text, std::time_t now);

// The first text after every text that starts with `prefix`, in byte order; "" when none is.
std::string PrefixEnd(const std::string& prefix);

}  // namespace brenvik::records
