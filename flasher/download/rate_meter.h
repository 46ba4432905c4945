// A steady transfer rate and the time left, for every presenter alike: bytes over the last
// few seconds of a monotonic clock, so a stall or a burst shows within seconds and a
// change of the wall clock never does.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

namespace brenvik {

class RateMeter {
 public:
  using Clock = std::function<double()>;  // seconds, monotonic
  static double SteadySeconds();
  static constexpr double kWindowSeconds = 5.0;
  static constexpr double kFirstSeconds = 0.5;  // no rate is told before this much data time

  explicit RateMeter(Clock clock = SteadySeconds) : m_clock(std::move(clock)) {}

  // The run's bytes so far; the first call starts the run's time.
  void Update(uint64_t sent, uint64_t total);

  bool Started() const { return m_started; }
  uint64_t Sent() const { return m_sent; }
  uint64_t Total() const { return m_total; }
  // Bytes per second over the window; none before the first half second.
  std::optional<double> Rate() const;
  // Remaining bytes at that rate; none while the rate is 0 or unknown.
  std::optional<double> SecondsLeft() const;
  // The whole run: every byte over the seconds from its start to its last byte, so that it
  // stays what it was at the end however late it is asked.
  std::optional<double> AverageRate() const;

 private:
  struct Sample {
    double at;
    uint64_t bytes;
  };
  Clock m_clock;
  bool m_started = false;
  double m_start = 0;
  double m_last = 0;  // when the count last grew
  uint64_t m_sent = 0, m_total = 0;
  std::deque<Sample> m_samples;  // one every tenth of a second at most: a short queue
};

}  // namespace brenvik
