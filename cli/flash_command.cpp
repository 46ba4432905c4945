#include <unistd.h>

#include <chrono>
#include <csignal>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>
#include <thread>

#include "commands.h"
#include "download/sha256.h"
#include "flash_log.h"
#include "flash_run.h"
#include "flash_table.h"
#include "image_identity.h"
#include "reporters.h"
#include "link/protocol.h"
#include "run/classify.h"
#include "run/download_run.h"
#include "run/outcome_text.h"
#include "targets.h"

namespace brenvik::cli {
namespace {

// What the whole command shares: the image as the log records it, and the log.
struct Bench {
  explicit Bench(const FlashArgs& a) : args(a) {}
  const FlashArgs& args;
  FlashLog log;
  LoggedImage image;
  // Runs are recorded: in the log, the database or both.
  bool Recorded() const { return log.IsOpen() || args.records; }
};

std::optional<Verdict> Conclude(Bench& bench, FlashReport& report, RunPresenter& presenter) {
  return Conclude(bench.log, bench.args.logPath, bench.image, report, presenter, bench.args.records);
}

// Before any byte goes out: the log must take lines, and the image it names is hashed. An
// image that cannot be mapped is told by the run, as without a log.
bool PrepareBench(Bench& bench, RunPresenter& presenter) {
  const FlashArgs& args = bench.args;
  std::string error;
  if (!args.logPath.empty() && !bench.log.Open(args.logPath, args.image, error)) {
    presenter.Failure(error, kExitUsage);
    return false;
  }
  bench.image.absolutePath = AbsoluteImagePath(args.image);
  bench.image.Map(args);
  if (bench.image.view.Mapped()) bench.image.sha256 = ImageSha256(bench.image.view);
  return true;
}

int FlashSeveral(Bench& bench, const Targets& targets, PresenterStyle style, RunPresenter& presenter) {
  const FlashArgs& args = bench.args;
  // The image is checked once, before any handset is opened (with a log, it was already).
  if (!bench.Recorded()) bench.image.Map(args);
  if (!bench.image.view.Mapped()) {
    presenter.Failure(DescribeMapping(bench.image.mapping, args.image), kExitUsage);
    return kExitUsage;
  }
  // Without a log nothing needs it any more; each run maps its own, and a 32-bit process
  // has little address space to spare.
  if (!bench.Recorded()) bench.image.view.Release();
  Board board(stdout);
  std::vector<std::unique_ptr<RunPresenter>> presenters;
  for (const FoundHandset& h : targets.handsets)
    presenters.push_back(MakeDevicePresenter(style, stdout, stderr, h.path, board));
  std::vector<FlashReport> reports(targets.handsets.size());
  {
    // Each run has its own view of the image and its own link; they share nothing else.
    std::vector<std::jthread> runs;
    // An error of the program ends one handset's run, never the others'.
    auto failed = [&](size_t i, const std::string& cause) {
      FailBeforeRun(reports[i], targets.handsets[i], cause, presenters[i].get());
    };
    for (size_t i = 0; i < targets.handsets.size(); ++i) {
      auto conclude = [&, i](FlashReport& report) { return Conclude(bench, report, *presenters[i]); };
      try {
        runs.emplace_back([&, i, conclude] {
          try {
            FlashOne(args, &targets.handsets[i], *presenters[i], conclude, reports[i]);
          } catch (const std::exception& e) {
            const bool logged = reports[i].concluded;
            failed(i, std::string("an error of brenvik-cli: ") + e.what());
            if (!logged) conclude(reports[i]);
          }
        });
      } catch (const std::system_error& e) {  // no thread to be had: this handset is not flashed
        failed(i, std::string("no thread could be started for this handset: ") + e.what());
        conclude(reports[i]);
      }
    }
  }
  if (style == PresenterStyle::kTerminal) board.Close();
  PrintSummary(reports, style == PresenterStyle::kJson, stdout);
  return SummaryExitCode(reports, stderr);
}

}  // namespace

int RunFlash(const FlashArgs& args) {
  const PresenterStyle style = StyleFor(args.json);
  auto presenter = MakePresenter(style, stdout, stderr);
  Bench bench(args);
  if ((!args.logPath.empty() || args.records) && !PrepareBench(bench, *presenter)) return kExitUsage;
  const Targets targets = ChooseTargets(args);
  if (!targets.failure.empty()) {
    presenter->Failure(targets.failure, kExitNoDevice);
    return kExitNoDevice;
  }
  if (targets.several) return FlashSeveral(bench, targets, style, *presenter);

  if (!targets.chosenNote.empty()) presenter->Note(targets.chosenNote);
  const FoundHandset* handset = targets.searchByClass ? nullptr : &targets.handsets.front();
  FlashReport report;
  // An image that cannot be flashed is no run of a handset here: it is told, not logged.
  auto conclude = [&](FlashReport& r) {
    const bool handsetRun = r.opened || r.exitCode == kExitNoDevice || r.result == station::Result::kStopped;
    return handsetRun ? Conclude(bench, r, *presenter) : std::nullopt;
  };
  FlashOne(args, handset, *presenter, conclude, report);
  return report.exitCode;
}

}  // namespace brenvik::cli
