// The records of flash and station, written as they go from a thread of their own: the log is
// the record of truth, and a database that is down or slow never fails nor holds up a run.
// What could not go in yet waits and is tried again; a station also catches up from its log.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "db_url.h"
#include "run_sink.h"

namespace brenvik::records {

struct WriterLimits {
  // Beyond this many waiting runs the oldest are left to the log, which is read again once
  // the database is back (without a log, the oldest are given up and counted).
  size_t mostWaiting = 100000;
  std::chrono::milliseconds firstRetry{500};
  std::chrono::milliseconds lastRetry{10000};
};

class RecordWriter : public RunSink {
 public:
  // `catchUpLog`: a log whose runs go in too (a station's own, with its rotated files, so
  // that a restart misses none); "" for none.
  RecordWriter(const DbUrl& url, const std::string& catchUpLog, WriterLimits limits = {});
  ~RecordWriter() override;
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  void Take(const std::string& line) override;
  size_t Waiting() const override;
  bool CaughtUp() const override;
  std::string LastError() const override;

  // Gives the waiting runs at most `bound` to go in and stops the writer; true when every
  // run is in: none waiting, and the log read to its end. A writer stuck on the database is
  // left to end by itself.
  bool Finish(std::chrono::milliseconds bound);
  // Runs given up because too many waited and there was no log to read them from again.
  size_t Dropped() const;
  // How many attempts failed since the last one that went through (the back-off's count).
  size_t FailedAttempts() const;
  const DbUrl& Url() const;

 private:
  struct State;
  std::shared_ptr<State> m_state;
};

}  // namespace brenvik::records
