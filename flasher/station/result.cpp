#include "station/result.h"

namespace brenvik::station {

const char* ResultName(Result result) {
  switch (result) {
    case Result::kSuccess: return "success";
    case Result::kFailed: return "failed";
    case Result::kStopped: return "stopped";
  }
  return "failed";
}

std::optional<Result> ParseResult(std::string_view name) {
  for (const Result r : {Result::kSuccess, Result::kFailed, Result::kStopped})
    if (name == ResultName(r)) return r;
  return std::nullopt;
}

}  // namespace brenvik::station
