// What a run came to, as flash and station judge it. It is a word only where it is shown:
// the log's line, the table, the JSON events, the records.
#pragma once

#include <optional>
#include <string_view>

namespace brenvik::station {

enum class Result { kSuccess, kFailed, kStopped };

const char* ResultName(Result result);  // "success", "failed", "stopped"
// The word back, as a log line holds it; nothing for any other text.
std::optional<Result> ParseResult(std::string_view name);

}  // namespace brenvik::station
