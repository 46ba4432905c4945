// Where the downloads report progress: a progress bar and the status line, or their likes.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace brenvik {

class ProgressReporter {
 public:
  virtual ~ProgressReporter() = default;
  virtual void SetRange(uint32_t maximum) = 0;  // minimum 0; the full 32 bits, never wrapped
  virtual void SetPosition(uint32_t position) = 0;
  virtual void SetStatus(const std::string& line) = 0;
};

// Calendar time in whole seconds; tests give their own.
using SecondsClock = std::function<int64_t()>;
inline int64_t SystemSeconds() { return int64_t(std::time(nullptr)); }

}  // namespace brenvik
