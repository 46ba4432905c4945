// The station's output, taken off its runs and its loop. What they write goes into a pipe
// of the process's own, a thread moves it into memory, and another writes it out: a reader
// that pauses (a supervisor busy elsewhere, a pipe nobody drains) never holds a flash nor a
// signal.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string_view>

namespace brenvik::cli {

class OutputQueue {
 public:
  // Lines that `droppable` admits (progress, which a later line says again) are dropped
  // while `bound` bytes wait; every other line is kept, whatever waits.
  using Droppable = std::function<bool(std::string_view line)>;

  // A queue in front of `fd`; none where no pipe or thread can be had (then the caller
  // writes directly, as before).
  static std::unique_ptr<OutputQueue> Start(int fd, size_t bound, Droppable droppable);

  // Where to write: whole lines, each ended by '\n', or a bell alone.
  std::FILE* File() const;
  // Closes File() and waits until what was written is out, or until the reader has taken
  // nothing for `idle`: a process that ends must not wait forever on a reader that went away.
  void Finish(std::chrono::milliseconds idle);

  struct State;

 private:
  explicit OutputQueue(std::shared_ptr<State> state);
  std::shared_ptr<State> m_state;
};

}  // namespace brenvik::cli
