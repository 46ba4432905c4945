// When a station tells its line that runs wait for the records' database, and when they are
// all in again: at the start of the trouble, then at most once a minute while it lasts, and
// once when it is over. A database that comes and goes does not flood the service's journal.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace brenvik::cli {

struct RecordsState {
  size_t waiting = 0;     // runs in the log and not in the database
  bool caughtUp = true;   // the log's own catch-up has been read in
  std::string error;      // why the last attempt failed; "" when it went through
};

struct RecordsNotice {
  bool in = false;  // false: runs wait (the state says how many and why); true: all are in again
  RecordsState state;
};

class RecordsNotices {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kQuiet{60};

  std::optional<RecordsNotice> Update(const RecordsState& state, Clock::time_point now);

 private:
  bool m_told = false;  // the line was told that runs wait, and not yet that they are in
  std::optional<Clock::time_point> m_lastSaid;
};

}  // namespace brenvik::cli
