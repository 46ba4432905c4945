// Where each run's line goes besides the log: the records' database, which a background
// writer fills so that no flash ever waits for it.
#pragma once

#include <cstddef>
#include <string>

namespace brenvik::records {

class RunSink {
 public:
  virtual ~RunSink() = default;
  // The run's log line, just written; returns at once, whatever the database does.
  virtual void Take(const std::string& line) = 0;
  // Runs that are in the log and not yet in the database.
  virtual size_t Waiting() const = 0;
  // Whether the log the runs are caught up from has been read into the database.
  virtual bool CaughtUp() const { return true; }
  // Why the last attempt failed ("" when it did not), any password masked.
  virtual std::string LastError() const { return {}; }
};

}  // namespace brenvik::records
