#include "serve.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

#include "recorder.h"
#include "summary.h"

namespace brenvik::handset {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr size_t kReadChunk = 64 * 1024;
// How soon a stop request is noticed while waiting.
constexpr std::chrono::milliseconds kPollSlice{200};
// Hang-ups a line may recover from before the PC says anything: a host that sets a USB
// device up resets it a few times, one that keeps doing so is not talking to it.
constexpr int kMaxRecoveries = 8;

std::string Seconds(std::chrono::milliseconds d) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g s", double(d.count()) / 1000.0);
  return buf;
}

enum class Wait { kData, kTimeout, kStopped, kError };

// The handset's end of the line, every wait bounded and interruptible by a stop request.
class LineIo {
 public:
  LineIo(Line& pty, const volatile std::sig_atomic_t& stop) : pty_(pty), stop_(stop) {}

  // Waits until input arrives (or `deadline`, if any) and reads what is there. Reads first
  // and polls only when nothing is there: while the PC streams, a chunk costs one system
  // call instead of two, and the PC's writes are not held up by the handset's polls.
  Wait Read(uint8_t* buf, size_t cap, std::optional<Clock::time_point> deadline, size_t& got) {
    for (;;) {
      if (stop_) return Wait::kStopped;
      if (!pty_.IsOpen()) return Wait::kError;
      auto slice = kPollSlice;
      if (deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
        if (left.count() <= 0) return Wait::kTimeout;
        slice = std::min(slice, left + std::chrono::milliseconds(1));
      }
      const ssize_t n = ::read(pty_.Fd(), buf, cap);
      if (n > 0) {
        got = size_t(n);
        return Wait::kData;
      }
      if (n == 0 || (errno != EAGAIN && errno != EINTR)) return Wait::kError;
      if (errno == EINTR) continue;
      pollfd p{pty_.Fd(), POLLIN, 0};
      if (::poll(&p, 1, int(slice.count())) < 0 && errno != EINTR) return Wait::kError;
    }
  }

  bool WriteAll(const Bytes& data, Clock::time_point deadline) {
    size_t put = 0;
    while (put < data.size()) {
      if (!pty_.IsOpen()) return false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return false;
      // A ready packet nearly always fits at once: write first, wait only for room.
      const ssize_t n = ::write(pty_.Fd(), data.data() + put, data.size() - put);
      if (n > 0) {
        put += size_t(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      pollfd p{pty_.Fd(), POLLOUT, 0};
      if (::poll(&p, 1, int(std::min(left, kPollSlice).count())) < 0 && errno != EINTR) return false;
    }
    return true;
  }

 private:
  Line& pty_;
  const volatile std::sig_atomic_t& stop_;
};

struct Outcome {
  bool served = false;  // the session began (a stop between sessions serves none)
  bool ok = false;
  bool endRun = false;
};

class SessionServer {
 public:
  SessionServer(Line& pty, LineIo& io, const ServeOptions& options, int number, Bytes& carry)
      : pty_(pty), io_(io), o_(options), number_(number), carry_(carry) {}

  Outcome Serve(std::ostream& log) {
    const std::string dir = o_.outDir.empty() || o_.sessions == 1
                                ? o_.outDir
                                : o_.outDir + "/session-" + std::to_string(number_);
    OutputFiles files(dir, o_.expectPath);
    std::optional<ExpectedImage> expected;
    if (!o_.expectPath.empty()) {
      std::string error;
      if (!expected.emplace().Open(o_.expectPath, error)) note_ = error;
    }
    SessionRecorder recorder([this](const Reply& r) { QueueReply(r); }, dir.empty() ? nullptr : &files,
                      expected ? &*expected : nullptr);
    Session session(recorder, o_.autoUpgrade);
    session_ = &session;

    const bool served = Exchange();
    if (!served) return {};
    recorder.Finish();
    SessionReport report{number_, o_.autoUpgrade, session, recorder, o_.faults, faults_, expected ? &*expected : nullptr,
                         files.Error(), note_};
    if (files.Prepare()) {
      std::string error;
      if (!WriteSummary(dir + "/summary.json", report, error)) report.outputError = error;
    }
    log << HumanSummary(report) << std::endl;
    // A mismatch with the reference leaves the link in step: the next session may follow.
    return {true, report.Ok(), !report.Sound() || faults_.dropped || stopped_ || linkFailed_};
  }

 private:
  // The conversation itself; false when it was stopped before the PC said anything.
  bool Exchange() {
    std::vector<uint8_t> buf(kReadChunk);
    session_->Start();
    const Bytes opening = outbox_;
    if (!SendReplies()) return true;
    started_ = !carry_.empty();
    lastInput_ = Clock::now();
    if (!carry_.empty()) {
      Bytes early;
      early.swap(carry_);
      if (!Consume(early.data(), early.size())) return true;
    }
    for (;;) {
      if (session_->Finished()) return true;
      if (DropDue()) return Drop();
      size_t got = 0;
      size_t cap = buf.size();
      if (o_.faults.dropAfterBytes && taken_ < *o_.faults.dropAfterBytes)
        cap = size_t(std::min<uint64_t>(cap, *o_.faults.dropAfterBytes - taken_));
      const Wait w = io_.Read(buf.data(), cap, Deadline(), got);
      if (w == Wait::kTimeout) return TimedOut();
      if (w == Wait::kStopped) {
        if (!started_) return false;
        stopped_ = true;
        if (session_->Complete()) {
          note_ = "stopped before the repeated download-end command came";
          return true;
        }
        session_->GiveUp("stopped while waiting for " + session_->Expecting());
        return true;
      }
      if (w == Wait::kError && !started_ && recoveries_ < kMaxRecoveries && pty_.RecoverFromHangUp()) {
        // Nothing of this session reached the PC that it read: the handset starts over.
        ++recoveries_;
        outbox_ = opening;
        if (!SendReplies()) return true;
        continue;
      }
      if (w == Wait::kError) {
        linkFailed_ = true;
        session_->GiveUp("the link failed while waiting for " + session_->Expecting());
        return true;
      }
      started_ = true;
      lastInput_ = Clock::now();
      if (!Consume(buf.data(), got)) return true;
    }
  }

  std::optional<Clock::time_point> Deadline() const {
    if (session_->Complete()) return *completeAt_ + o_.linger;
    if (faults_.silentAtBlock) return *silentSince_ + o_.timeout;
    if (!started_ && o_.sessions == 0) return std::nullopt;
    return lastInput_ + o_.timeout;
  }

  bool TimedOut() {
    if (session_->Complete()) {
      note_ = "the repeated download-end command did not come within " + Seconds(o_.linger);
      return true;
    }
    std::string why = "timed out waiting for " + session_->Expecting();
    if (faults_.silentAtBlock)
      why += " (the handset stopped answering before block " + std::to_string(*faults_.silentAtBlock) + " and gave up " +
             Seconds(o_.timeout) + " later)";
    else
      why += " (no data from the PC for " + Seconds(o_.timeout) + ")";
    session_->GiveUp(why);
    return true;
  }

  // A download that already ended is not cut short.
  bool DropDue() const {
    return o_.faults.dropAfterBytes && taken_ >= *o_.faults.dropAfterBytes && !session_->Complete();
  }

  bool Drop() {
    pty_.Close();
    faults_.dropped = true;
    return true;
  }

  void Pace() {
    if (o_.rate == 0) return;
    if (!paceStart_) paceStart_ = Clock::now();
    const auto due = *paceStart_ + std::chrono::microseconds(taken_ * 1'000'000 / o_.rate);
    if (due > Clock::now()) std::this_thread::sleep_until(due);
  }

  // Takes bytes from the PC. False when the session cannot go on.
  bool Consume(const uint8_t* data, size_t size) {
    taken_ += size;
    Pace();
    if (faults_.silentAtBlock) return true;  // a silent handset reads and forgets
    const size_t used = session_->Feed(data, size);
    if (session_->Complete() && !completeAt_) completeAt_ = Clock::now();
    if (session_->Finished() && !session_->Failed() && used < size) carry_.assign(data + used, data + size);
    return SendReplies();
  }

  void QueueReply(const Reply& reply) {
    if (auto bytes = ShapeReply(o_.faults, faults_, reply)) outbox_.insert(outbox_.end(), bytes->begin(), bytes->end());
    if (faults_.silentAtBlock && !silentSince_) silentSince_ = Clock::now();
  }

  bool SendReplies() {
    if (outbox_.empty()) return true;
    const bool ok = io_.WriteAll(outbox_, Clock::now() + o_.timeout);
    outbox_.clear();
    if (!ok) {
      linkFailed_ = true;
      session_->GiveUp("could not send to the PC while it waited for " + session_->Expecting());
    }
    return ok;
  }

  Line& pty_;
  LineIo& io_;
  const ServeOptions& o_;
  const int number_;
  Bytes& carry_;
  Session* session_ = nullptr;
  FaultLog faults_;
  Bytes outbox_;
  uint64_t taken_ = 0;
  std::optional<Clock::time_point> paceStart_;
  bool started_ = false;
  bool stopped_ = false;
  bool linkFailed_ = false;
  int recoveries_ = 0;
  Clock::time_point lastInput_;
  std::optional<Clock::time_point> completeAt_, silentSince_;
  std::string note_;
};

}  // namespace

int Serve(Line& pty, const ServeOptions& options, const volatile std::sig_atomic_t& stop, std::ostream& log) {
  LineIo io(pty, stop);
  Bytes carry;  // bytes that arrived with one session but belong to the next
  bool allOk = true;
  int served = 0;
  for (int n = 1; options.sessions == 0 || n <= options.sessions; ++n) {
    const Outcome o = SessionServer(pty, io, options, n, carry).Serve(log);
    if (!o.served) break;
    ++served;
    allOk = allOk && o.ok;
    if (o.endRun) break;
  }
  const bool allServed = options.sessions == 0 || served == options.sessions;
  return allOk && allServed ? 0 : 1;
}

}  // namespace brenvik::handset
