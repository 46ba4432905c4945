#include "output_queue.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "pipe_io.h"

namespace brenvik::cli {
namespace {

using Steady = std::chrono::steady_clock;

}  // namespace

struct OutputQueue::State {
  int out = -1;
  int readEnd = -1;
  std::FILE* file = nullptr;
  size_t bound = 0;
  Droppable droppable;

  std::mutex mutex;
  std::condition_variable work;      // a line came, or the input ended
  std::condition_variable progress;  // a line went out
  std::deque<std::string> lines;
  size_t bytes = 0;
  bool inputEnded = false;
  bool writing = false;
  bool broken = false;  // the output failed (a closed pipe): nothing more is written
  Steady::time_point lastOut = Steady::now();

  void Push(std::string line) {
    std::lock_guard<std::mutex> lock(mutex);
    if (broken) return;
    if (bytes >= bound && droppable && droppable(line)) return;
    bytes += line.size();
    lines.push_back(std::move(line));
    work.notify_one();
  }

  // Reads the process's own pipe into memory; never waits on the reader outside.
  void Pump() {
    std::string partial;
    std::vector<char> buffer(65536);
    while (true) {
      const long got = pipe_io::ReadSome(readEnd, buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      partial.append(buffer.data(), size_t(got));
      size_t start = 0;
      for (size_t nl; (nl = partial.find('\n', start)) != std::string::npos; start = nl + 1)
        Push(partial.substr(start, nl + 1 - start));
      partial.erase(0, start);
      // A bell comes alone, without a line: it rings now, not with the next line.
      if (!partial.empty() && partial.find_first_not_of('\a') == std::string::npos) Push(std::exchange(partial, {}));
    }
    if (!partial.empty()) Push(std::move(partial));
    pipe_io::CloseFd(readEnd);
    std::lock_guard<std::mutex> lock(mutex);
    inputEnded = true;
    work.notify_one();
    progress.notify_all();
  }

  void Write() {
    std::unique_lock<std::mutex> lock(mutex);
    while (true) {
      work.wait(lock, [&] { return !lines.empty() || inputEnded; });
      if (lines.empty()) return;
      std::string line = std::move(lines.front());
      lines.pop_front();
      writing = true;
      lock.unlock();
      bool failed = false;
      for (size_t done = 0; done < line.size();) {
        const long wrote = pipe_io::WriteSome(out, line.data() + done, line.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
          failed = true;
          break;
        }
        done += size_t(wrote);
      }
      lock.lock();
      writing = false;
      bytes -= line.size();
      lastOut = Steady::now();
      if (failed) {
        broken = true;
        bytes = 0;
        lines.clear();
      }
      progress.notify_all();
    }
  }
};

OutputQueue::OutputQueue(std::shared_ptr<State> state) : m_state(std::move(state)) {}

std::unique_ptr<OutputQueue> OutputQueue::Start(int fd, size_t bound, Droppable droppable) {
  int fds[2];
  if (!pipe_io::OpenPipe(fds)) return nullptr;
  auto state = std::make_shared<State>();
  state->out = fd;
  state->readEnd = fds[0];
  state->bound = bound;
  state->droppable = std::move(droppable);
  state->file = pipe_io::OpenFile(fds[1]);
  if (!state->file) {
    pipe_io::CloseFd(fds[0]);
    pipe_io::CloseFd(fds[1]);
    return nullptr;
  }
  try {
    // Never joined: at the end of the process the writer may still wait on a paused reader.
    std::thread([state] { state->Pump(); }).detach();
    std::thread([state] { state->Write(); }).detach();
  } catch (const std::system_error&) {
    std::fclose(state->file);  // the pump, if it started, ends at this end of its pipe
    return nullptr;
  }
  return std::unique_ptr<OutputQueue>(new OutputQueue(std::move(state)));
}

std::FILE* OutputQueue::File() const { return m_state->file; }

void OutputQueue::Finish(std::chrono::milliseconds idle) {
  State& s = *m_state;
  std::fclose(s.file);  // the pump reads to the end and says so
  s.file = nullptr;
  std::unique_lock<std::mutex> lock(s.mutex);
  const Steady::time_point since = Steady::now();
  while (!s.broken && !(s.inputEnded && s.lines.empty() && !s.writing)) {
    if (Steady::now() - std::max(since, s.lastOut) >= idle) return;
    s.progress.wait_for(lock, idle);
  }
}

}  // namespace brenvik::cli
