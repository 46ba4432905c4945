// One run as the records keep it: the row of columns.h, read from a line of the flash log.
// Every value is kept as the text the database is given as a bound parameter.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "columns.h"

namespace brenvik::records {

// The row of one log line, or nothing with `why` when the line is no run. A line without its
// own run_id (written before there was one) gets a stable one: a hash of its bytes.
std::optional<Row> ParseLogLine(std::string_view line, std::string& why);

// The run_id a line without one is given: a UUID of version 8 made of the SHA-256 of its bytes.
std::string LineRunId(std::string_view line);

}  // namespace brenvik::records
