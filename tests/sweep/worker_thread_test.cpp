// A download on a worker thread while the main thread watches its progress, as the dialog
// does: the worker reports under the reporter's own lock, and the main thread never waits
// on the worker until the worker has said that it is done. Built under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <ostream>
#include <thread>

#include "run/download_run.h"
#include "fakes/faulty_device.h"
#include "fakes/image_files.h"
#include "sweep_cases.h"

namespace brenvik::testing {
namespace {

class GuardedProgress : public ProgressReporter, public MessageSink {
 public:
  struct Seen {
    uint32_t range = 0, position = 0;
    std::string status;
    std::vector<std::string> messages;
    uint64_t updates = 0;
    bool done = false;
  };
  void SetRange(uint32_t maximum) override { Update([&](Seen& s) { s.range = maximum; }); }
  void SetPosition(uint32_t position) override { Update([&](Seen& s) { s.position = position; }); }
  void SetStatus(const std::string& line) override { Update([&](Seen& s) { s.status = line; }); }
  void ShowMessage(const std::string& text, MessageCaption) override {
    Update([&](Seen& s) { s.messages.push_back(text); });
  }
  void Done() {
    Update([](Seen& s) { s.done = true; });
  }
  Seen Read() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

 private:
  template <typename F>
  void Update(F change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change(seen_);
    ++seen_.updates;
  }
  mutable std::mutex mutex_;
  Seen seen_;
};

struct ThreadCase {
  size_t sweepCase;
  bool faulted;  // the sixth device operation fails: always image data or its header
};

void PrintTo(const ThreadCase& c, std::ostream* os) {
  *os << "case " << c.sweepCase << (c.faulted ? ", faulted" : ", clean");
}

class WorkerThread : public ::testing::TestWithParam<ThreadCase> {};

TEST_P(WorkerThread, TheMainThreadWatchesProgressWhileTheWorkerDownloads) {
  const std::vector<SweepCase> cases = SweepCases();
  const SweepCase& c = cases[GetParam().sweepCase];
  const bool faulted = GetParam().faulted;
  TempDir dir;
  GuardedProgress progress;
  DownloadRun run(progress, progress);
  const MemoryHandset* handset = nullptr;
  FlashOptions options;
  options.timeout = std::chrono::milliseconds(500);
  options.deviceFactory = [&]() -> std::unique_ptr<DeviceFile> {
    auto h = std::make_unique<MemoryHandset>(c.autoUpgrade, c.units);
    handset = h.get();
    const Fault fault{faulted ? FaultMode::kError : FaultMode::kNone, 5};
    return std::make_unique<FaultyDevice>(std::move(h), fault, 100000, ViewBounds{}, options.timeout);
  };
  ASSERT_EQ(run.Prepare(dir.Write(c.fileName, c.image), options), PrepareResult::kReady);

  std::atomic<bool> ok{false};
  std::thread worker([&] {
    ok = run.RunToEnd().Ok();
    progress.Done();
  });
  // The dialog's side: look at the reporter now and then, never wait on the worker.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  uint64_t lastUpdates = 0;
  GuardedProgress::Seen seen;
  while (!(seen = progress.Read()).done && std::chrono::steady_clock::now() < deadline) {
    EXPECT_GE(seen.updates, lastUpdates);
    lastUpdates = seen.updates;
    std::this_thread::yield();
  }
  ASSERT_TRUE(seen.done) << "the worker did not finish";
  worker.join();

  EXPECT_EQ(ok.load(), !faulted) << c.name;
  EXPECT_EQ(handset->AllUnitsArrived(), !faulted) << c.name;
  EXPECT_EQ(seen.messages, std::vector<std::string>{DownloadRun::FinalText(!faulted)});
  if (!faulted) {
    EXPECT_NE(seen.status.find("Speed:"), std::string::npos) << seen.status;
  }
}

std::string ThreadCaseName(const ::testing::TestParamInfo<ThreadCase>& info) {
  static const char* const names[] = {"PlainBlocks", "Img", "Raw", "LargeBin"};
  return std::string(names[info.param.sweepCase]) + (info.param.faulted ? "Faulted" : "Clean");
}

INSTANTIATE_TEST_SUITE_P(Procedures, WorkerThread,
                         ::testing::Values(ThreadCase{0, false}, ThreadCase{0, true}, ThreadCase{1, false},
                                           ThreadCase{1, true}, ThreadCase{2, false}, ThreadCase{3, false},
                                           ThreadCase{3, true}),
                         ThreadCaseName);

}  // namespace
}  // namespace brenvik::testing
