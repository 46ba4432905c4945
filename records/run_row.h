// One run as the records keep it: the columns of the runs table, read from a line of the
// flash log. Every value is kept as the text the database is given as a bound parameter.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace brenvik::records {

enum Column : size_t {
  kRunId, kStation, kTime, kImage, kImageBytes, kSize, kSha256, kKind, kDevice, kDeviceBytes,
  kUsbPort, kUsbSerial, kBytesSent, kSeconds, kAverageRate, kResult, kCause, kColumnCount
};

// The column names in the order above, as the schema and the log name them.
extern const std::array<const char*, kColumnCount> kColumnNames;

using Row = std::array<std::optional<std::string>, kColumnCount>;

// The row of one log line, or nothing with `why` when the line is no run. A line without its
// own run_id (written before there was one) gets a stable one: a hash of its bytes.
std::optional<Row> ParseLogLine(std::string_view line, std::string& why);

// The run_id a line without one is given: a UUID of version 8 made of the SHA-256 of its bytes.
std::string LineRunId(std::string_view line);

}  // namespace brenvik::records
