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

class RecordWriter : public RunSink {
 public:
  // `catchUpLog`: a log whose runs go in too (a station's own, so that a restart misses
  // none); "" for none.
  RecordWriter(const DbUrl& url, const std::string& catchUpLog);
  ~RecordWriter() override;
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  void Take(const std::string& line) override;
  size_t Waiting() const override;

  // Gives the waiting runs at most `bound` to go in and stops the writer; true when none is
  // left waiting. A writer stuck on the database is left to end by itself.
  bool Finish(std::chrono::milliseconds bound);
  // Why the last attempt failed ("" when it did not), with any password masked.
  std::string LastError() const;
  const DbUrl& Url() const;

 private:
  struct State;
  std::shared_ptr<State> m_state;
};

}  // namespace brenvik::records
