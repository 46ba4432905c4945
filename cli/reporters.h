// How brenvik-cli shows a run: a progress bar on a terminal, plain lines otherwise, or one
// JSON object per line for scripts.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "download/progress.h"
#include "download/outcome.h"
#include "progress_text.h"
#include "run/messages.h"
#include "text/terminal_size.h"

namespace brenvik::cli {

class RunPresenter : public ProgressReporter, public MessageSink {
 public:
  // The end of the run: the final text and the exit code the program will return; for a
  // failed run, why it failed (`cause`, one line) where that is known.
  virtual void Result(const Outcome& outcome, const std::string& finalText, int exitCode,
                      const std::string& cause) = 0;
  // A failure of the tool itself (no device, unreadable image), with its reason.
  virtual void Failure(const std::string& reason, int exitCode) = 0;
  // What the tool chose on the user's behalf (the handset it took).
  virtual void Note(const std::string& text) = 0;
  // Bytes per second over the whole run so far; none before its first byte.
  virtual std::optional<double> AverageRate() const { return std::nullopt; }
};

enum class PresenterStyle { kTerminal, kPlain, kJson };

std::unique_ptr<RunPresenter> MakePresenter(PresenterStyle style, std::FILE* out, std::FILE* err);

// The terminal's view of several runs at once: one line per handset, redrawn in place and
// fitted to the terminal's size as it is at each drawing.
class Board {
 public:
  using SizeQuery = std::function<text::TerminalSize()>;
  // Done rows green and failed ones red, unless NO_COLOR is set or the terminal is dumb.
  explicit Board(std::FILE* out, SizeQuery size = {});
  size_t AddLine();
  void Set(size_t line, BoardRow row);  // redraws at most 10 times a second
  void Close();                         // the last drawing, whatever the time

 private:
  void DrawLocked();
  std::FILE* m_out;
  SizeQuery m_size;
  bool m_colour;
  std::mutex m_mutex;
  std::vector<BoardRow> m_rows;
  bool m_drawn = false;
  size_t m_drawnLines = 0;
  std::chrono::steady_clock::time_point m_lastDraw{};
};

// One of several runs at once: its lines carry the device (a prefix, a "device" field in
// JSON, or its own line on the board).
std::unique_ptr<RunPresenter> MakeDevicePresenter(PresenterStyle style, std::FILE* out, std::FILE* err,
                                                  const std::string& device, Board& board);

// A run whose progress goes into a given row of a board (a station's slot), shown as `name`.
std::unique_ptr<RunPresenter> MakeRowPresenter(Board& board, size_t line, std::FILE* err, const std::string& name);
// A run whose JSON lines all carry `fields` (its device, port and serial). With `onResult`,
// the result's fields go there instead of into a line of their own, and the run says its
// place only in its `progress` events, not per record: a station's many runs would flood
// the supervisor that reads it.
using ResultFields = std::function<void(nlohmann::json)>;
std::unique_ptr<RunPresenter> MakeJsonPresenter(std::FILE* out, nlohmann::json fields, ResultFields onResult = {});

const char* CaptionName(MessageCaption caption);

}  // namespace brenvik::cli
