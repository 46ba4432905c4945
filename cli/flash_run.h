// One handset's run as flash and station share it: from the opening to the second end
// command, judged alike by its result, the table, the log and the exit code.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "commands.h"
#include "download/image_view.h"
#include "download/outcome.h"
#include "flash_log.h"
#include "flash_table.h"
#include "link/device_discovery.h"
#include "reporters.h"

namespace brenvik::cli {

PresenterStyle StyleFor(bool json);

// How a run ends, told alike by its result, the table, the log and the exit code.
struct Verdict {
  Outcome outcome;
  int exitCode = kExitOk;
  station::Result result = station::Result::kFailed;
  std::string cause;   // the table's and the log's cause; "" on success
  std::string line;    // the line before the final text; "" on success
};

// A run that went through and yet must not count as a success.
Verdict Failed(const Outcome& outcome, const std::string& cause);

// Settles a run before its result is shown: the result must tell what the log holds. Gives
// the verdict when the run, which went through, is failed after all.
using Conclusion = std::function<std::optional<Verdict>(FlashReport&)>;

// One handset from the opening to the second end command; every failure reaches `presenter`.
void FlashOne(const FlashArgs& args, const FoundHandset* handset, RunPresenter& presenter,
              const Conclusion& conclude, FlashReport& report);

// A run that ended before it began (no thread, an error of the program), told to `presenter`.
void FailBeforeRun(FlashReport& report, const FoundHandset& handset, const std::string& cause,
                   RunPresenter* presenter);

// The image as the log records it: checked (and with a log, hashed) before a handset is
// opened, and held until the run's line is written, so that a change after the hash is seen.
struct LoggedImage {
  ImageView view;
  MapResult mapping;
  std::string absolutePath;
  std::optional<std::string> sha256;
  // The kind the runs flash as, for those that end before they classify it themselves.
  std::optional<int32_t> kind;

  void Map(const FlashArgs& args);
};

// The log's line for a run, which fails a run that went through when it cannot be written:
// a flash that the bench cannot show did not happen as far as the bench knows.
std::optional<Verdict> Conclude(FlashLog& log, const std::string& logPath, LoggedImage& image, FlashReport& report,
                                RunPresenter& presenter, records::RunSink* records);

}  // namespace brenvik::cli
