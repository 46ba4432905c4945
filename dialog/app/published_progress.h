// The progress a worker reports, kept for a window that shows it at its own pace: the worker
// only stores its newest values, and the window takes them when it is ready to draw.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace brenvik::app {

class PublishedProgress {
 public:
  // What changed since the last take, in the order to apply it. A range reported after the
  // last position comes after it, so a bar clamps the position as it would have at once.
  struct Update {
    std::optional<uint32_t> rangeBefore, position, rangeAfter;
    std::optional<std::string> status;
  };

  PublishedProgress() { ::InitializeCriticalSection(&lock_); }
  ~PublishedProgress() { ::DeleteCriticalSection(&lock_); }
  PublishedProgress(const PublishedProgress&) = delete;
  PublishedProgress& operator=(const PublishedProgress&) = delete;

  void SetRange(uint32_t maximum) {
    Locked([&] { (pending_.position ? pending_.rangeAfter : pending_.rangeBefore) = maximum; });
  }
  void SetPosition(uint32_t position) {
    Locked([&] {
      if (pending_.rangeAfter) pending_.rangeBefore = *pending_.rangeAfter;
      pending_.rangeAfter.reset();
      pending_.position = position;
    });
  }
  void SetStatus(const std::string& line) {
    Locked([&] { pending_.status = line; });
  }
  Update Take() {
    Update taken;
    Locked([&] { std::swap(taken, pending_); });
    return taken;
  }

 private:
  template <typename F>
  void Locked(F change) {
    ::EnterCriticalSection(&lock_);
    change();
    ::LeaveCriticalSection(&lock_);
  }
  CRITICAL_SECTION lock_;
  Update pending_;
};

}  // namespace brenvik::app
