// Where the downloads report progress: a progress bar and the status line, or their likes.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace brenvik {

class ProgressReporter {
 public:
  virtual ~ProgressReporter() = default;
  virtual void SetRange(uint32_t maximum) = 0;  // minimum 0; the full 32 bits, never wrapped
  virtual void SetPosition(uint32_t position) = 0;
  virtual void SetStatus(const std::string& line) = 0;
  // The bytes of the run written to the handset so far, of all it will take (known before
  // the first transfer). A dialog without a use for them need not listen.
  virtual void SetBytes(uint64_t /*sent*/, uint64_t /*total*/) {}
};

// Whole seconds on a monotonic clock: a step of the wall clock during a flash never shows
// as elapsed time. Tests give their own.
using SecondsClock = std::function<int64_t()>;
inline int64_t MonotonicSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace brenvik
