#include "record_writer.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "catch_up.h"
#include "store.h"

namespace brenvik::records {
namespace {

constexpr size_t kRowsPerInsert = 1000;
constexpr auto kGoodbye = std::chrono::milliseconds(500);

}  // namespace

// Shared with the thread, which may outlive the writer when the database holds it up.
struct RecordWriter::State {
  DbUrl url;
  std::string log;
  WriterLimits limits;
  mutable std::mutex mutex;
  std::condition_variable wake;
  // The runs not in yet, oldest first; the first has the number `front`. A batch is sent
  // by numbers, so that what goes in is taken off whatever happened to the queue meanwhile.
  std::deque<Row> waiting;
  uint64_t front = 0;
  bool catchUp = false;     // the log is to be read into the database
  uint64_t catchUpAsked = 0;  // how often: a request during a reading asks for another
  bool finishing = false;   // no more retries: one last attempt, then the thread ends
  bool done = false;
  size_t dropped = 0;
  size_t failures = 0;
  std::string lastError;

  void Run() {
    std::unique_ptr<Store> store;
    auto retry = limits.firstRetry;
    std::unique_lock<std::mutex> lock(mutex);
    while (true) {
      wake.wait(lock, [&] { return finishing || !waiting.empty() || catchUp; });
      if (waiting.empty() && !catchUp) break;  // finishing, nothing left
      const size_t count = std::min(kRowsPerInsert, waiting.size());
      const std::vector<Row> batch(waiting.begin(), waiting.begin() + std::ptrdiff_t(count));
      const uint64_t batchEnd = front + count;
      const bool readLog = batch.empty() && catchUp;
      const uint64_t asked = catchUpAsked;
      lock.unlock();
      std::string error;
      try {
        if (!store) store = OpenStore(url);
        if (readLog)
          CatchUpLog(*store, log);
        else
          store->Insert(batch);  // idempotent: a batch sent again adds only what is missing
      } catch (const StoreError& e) {
        error = e.what();
        store.reset();  // opened afresh at the next attempt: a dropped connection is reopened
      } catch (const std::exception& e) {
        error = url.Scrub(e.what());
        store.reset();
      }
      lock.lock();
      lastError = error;
      if (error.empty()) {
        failures = 0;
        retry = limits.firstRetry;
        if (readLog) {
          // Runs cleared while the log was read may have come after the point it read to.
          if (catchUpAsked == asked) catchUp = false;
        } else if (batchEnd > front) {
          const size_t sent = std::min<size_t>(size_t(batchEnd - front), waiting.size());
          waiting.erase(waiting.begin(), waiting.begin() + std::ptrdiff_t(sent));
          front += sent;
        }
        wake.notify_all();
        continue;
      }
      ++failures;
      if (finishing) break;
      wake.wait_for(lock, retry, [&] { return finishing; });
      retry = std::min<std::chrono::milliseconds>(retry * 2, limits.lastRetry);
    }
    lock.unlock();
    store.reset();  // closed before the writer is told it is done
    lock.lock();
    done = true;
    wake.notify_all();
  }
};

RecordWriter::RecordWriter(const DbUrl& url, const std::string& catchUpLog, WriterLimits limits)
    : m_state(std::make_shared<State>()) {
  m_state->url = url;
  m_state->log = catchUpLog;
  m_state->limits = limits;
  m_state->catchUp = !catchUpLog.empty();
  std::thread([state = m_state] { state->Run(); }).detach();
}

RecordWriter::~RecordWriter() { Finish(std::chrono::milliseconds(0)); }

void RecordWriter::Take(const std::string& line) {
  std::string why;
  auto row = ParseLogLine(line, why);
  if (!row) return;  // the log writes no such line
  State& s = *m_state;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.waiting.size() >= s.limits.mostWaiting) {
    if (s.log.empty()) {
      // Nowhere to read it from again: this run is given up, and counted. The queue's head
      // may be on its way into the database; it is never touched here.
      ++s.dropped;
      return;
    }
    s.front += s.waiting.size();  // every one of them is in the log
    s.waiting.clear();
    s.catchUp = true;
    ++s.catchUpAsked;
  }
  // Also while the log is read: its reading may have passed the end already.
  s.waiting.push_back(std::move(*row));
  s.wake.notify_all();
}

size_t RecordWriter::Waiting() const {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  return m_state->waiting.size();
}

bool RecordWriter::CaughtUp() const {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  return !m_state->catchUp;
}

bool RecordWriter::Finish(std::chrono::milliseconds bound) {
  State& s = *m_state;
  std::unique_lock<std::mutex> lock(s.mutex);
  // First the runs get their chance at the pace the database takes, then the last attempt.
  s.wake.wait_for(lock, bound, [&] { return s.done || (s.waiting.empty() && !s.catchUp); });
  s.finishing = true;
  s.wake.notify_all();
  // A moment for the writer to close its connection itself (the server sees a goodbye, not a
  // dropped socket); one stuck in the database is left behind, never waited for.
  s.wake.wait_for(lock, kGoodbye, [&] { return s.done; });
  return s.waiting.empty() && !s.catchUp;
}

size_t RecordWriter::Dropped() const {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  return m_state->dropped;
}

size_t RecordWriter::FailedAttempts() const {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  return m_state->failures;
}

std::string RecordWriter::LastError() const {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  return m_state->lastError;
}

const DbUrl& RecordWriter::Url() const { return m_state->url; }

}  // namespace brenvik::records
