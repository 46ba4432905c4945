#include "record_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "importer.h"
#include "store.h"

namespace brenvik::records {
namespace {

constexpr size_t kRowsPerInsert = 1000;
// Beyond this many waiting runs, they are left to the log, which is read again once the
// database is back.
constexpr size_t kMostWaiting = 100000;
constexpr auto kFirstRetry = std::chrono::milliseconds(500);
constexpr auto kLastRetry = std::chrono::seconds(10);
constexpr auto kGoodbye = std::chrono::milliseconds(500);

}  // namespace

// Shared with the thread, which may outlive the writer when the database holds it up.
struct RecordWriter::State {
  DbUrl url;
  std::string log;
  mutable std::mutex mutex;
  std::condition_variable wake;
  std::deque<Row> waiting;
  bool catchUp = false;     // the log is to be read into the database
  bool finishing = false;   // no more retries: one last attempt, then the thread ends
  bool done = false;
  std::string lastError;

  void Run() {
    std::unique_ptr<Store> store;
    auto retry = kFirstRetry;
    std::unique_lock<std::mutex> lock(mutex);
    while (true) {
      wake.wait(lock, [&] { return finishing || !waiting.empty() || catchUp; });
      if (waiting.empty() && !catchUp) break;  // finishing, nothing left
      const std::vector<Row> batch(waiting.begin(), waiting.begin() + std::ptrdiff_t(std::min(kRowsPerInsert, waiting.size())));
      const bool readLog = batch.empty() && catchUp;
      lock.unlock();
      std::string error;
      try {
        if (!store) store = OpenStore(url);
        if (readLog) {
          ImportCounts counts;  // a line that is no run was never a run's record
          // A log not made yet holds nothing to catch up with.
          if (::access(log.c_str(), F_OK) == 0 || errno != ENOENT) ImportLog(*store, log, counts);
        } else {
          store->Insert(batch);  // idempotent: a batch sent again adds only what is missing
        }
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
        retry = kFirstRetry;
        if (readLog)
          catchUp = false;
        else
          waiting.erase(waiting.begin(), waiting.begin() + std::ptrdiff_t(std::min(batch.size(), waiting.size())));
        wake.notify_all();
        continue;
      }
      if (finishing) break;
      wake.wait_for(lock, retry, [&] { return finishing; });
      retry = std::min<std::chrono::milliseconds>(retry * 2, kLastRetry);
    }
    lock.unlock();
    store.reset();  // closed before the writer is told it is done
    lock.lock();
    done = true;
    wake.notify_all();
  }
};

RecordWriter::RecordWriter(const DbUrl& url, const std::string& catchUpLog) : m_state(std::make_shared<State>()) {
  m_state->url = url;
  m_state->log = catchUpLog;
  m_state->catchUp = !catchUpLog.empty();
  std::thread([state = m_state] { state->Run(); }).detach();
}

RecordWriter::~RecordWriter() { Finish(std::chrono::milliseconds(0)); }

void RecordWriter::Take(const std::string& line) {
  std::string why;
  auto row = ParseLogLine(line, why);
  if (!row) return;  // the log writes no such line
  std::lock_guard<std::mutex> lock(m_state->mutex);
  if (m_state->waiting.size() >= kMostWaiting) {
    if (m_state->log.empty()) m_state->waiting.pop_front();
    else {
      m_state->waiting.clear();  // every one of them is in the log
      m_state->catchUp = true;
    }
  }
  // Also while the log is read: its reading may have passed the end already.
  m_state->waiting.push_back(std::move(*row));
  m_state->wake.notify_all();
}

size_t RecordWriter::Waiting() const {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  return m_state->waiting.size();
}

bool RecordWriter::Finish(std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(m_state->mutex);
  // First the runs get their chance at the pace the database takes, then the last attempt.
  m_state->wake.wait_for(lock, bound, [&] { return m_state->done || (m_state->waiting.empty() && !m_state->catchUp); });
  m_state->finishing = true;
  m_state->wake.notify_all();
  // A moment for the writer to close its connection itself (the server sees a goodbye, not a
  // dropped socket); one stuck in the database is left behind, never waited for.
  m_state->wake.wait_for(lock, kGoodbye, [&] { return m_state->done; });
  return m_state->waiting.empty();
}

std::string RecordWriter::LastError() const {
  std::lock_guard<std::mutex> lock(m_state->mutex);
  return m_state->lastError;
}

const DbUrl& RecordWriter::Url() const { return m_state->url; }

}  // namespace brenvik::records
