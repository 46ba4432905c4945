// How brenvik-cli shows a run: a progress bar on a terminal, plain lines otherwise, or one
// JSON object per line for scripts.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "download/progress.h"
#include "download/outcome.h"
#include "run/messages.h"

namespace brenvik::cli {

class RunPresenter : public ProgressReporter, public MessageSink {
 public:
  // The end of the run: the final text and the exit code the program will return; for a
  // failed run, why it failed (`cause`, one line) where that is known.
  virtual void Result(const Outcome& outcome, const std::string& finalText, int exitCode,
                      const std::string& cause) = 0;
  // A failure of the tool itself (no device, unreadable image), with its reason.
  virtual void Failure(const std::string& reason, int exitCode) = 0;
};

enum class PresenterStyle { kTerminal, kPlain, kJson };

std::unique_ptr<RunPresenter> MakePresenter(PresenterStyle style, std::FILE* out, std::FILE* err);

const char* CaptionName(MessageCaption caption);

}  // namespace brenvik::cli
