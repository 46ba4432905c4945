// The deadline of a write: its own bound until a stop is requested, then at most a short
// while more. A packet that has begun is finished, so that a stop leaves no torn packet
// behind, but a device that does not take it gets that short while, not the whole bound.
#pragma once

#include <algorithm>
#include <chrono>

namespace brenvik {

class WriteDeadline {
 public:
  using Clock = std::chrono::steady_clock;
  // How long a packet that has begun may still take to finish after a stop request.
  static constexpr std::chrono::milliseconds kStopFinishBound{1000};

  explicit WriteDeadline(Clock::time_point bound) : at_(bound) {}

  // The first call cuts the deadline short; later calls change nothing.
  void NoteStop() {
    if (stopSeen_) return;
    stopSeen_ = true;
    at_ = std::min(at_, Clock::now() + kStopFinishBound);
  }

  bool StopSeen() const { return stopSeen_; }
  Clock::time_point At() const { return at_; }

 private:
  Clock::time_point at_;
  bool stopSeen_ = false;
};

}  // namespace brenvik
