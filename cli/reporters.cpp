#include "reporters.h"

#include <cmath>
#include <cstdlib>

#include "text/json_text.h"
#include "text/printable.h"
#include "run/outcome_text.h"
#include "text/terminal_size.h"

namespace brenvik::cli {

using text::JsonLine;
using text::Printable;
using text::QueryTerminalSize;
using text::TerminalSize;
using text::TextOrNull;
using text::WholeOrNull;

const char* CaptionName(MessageCaption caption) {
  switch (caption) {
    case MessageCaption::kError: return "Error";
    case MessageCaption::kPost: return "Post";
    case MessageCaption::kProgram: return "Brenvik";
  }
  return "";
}

namespace {

using Steady = std::chrono::steady_clock;

// Columns for a line on a terminal: one short of its width, so the cursor never wraps.
size_t LineWidth(std::FILE* out) {
  const size_t columns = QueryTerminalSize(out).columns;
  return (columns ? columns : 80) - 1;
}

// Shared bookkeeping of range, position, status and bytes, and the text forms of messages.
class Tracking : public RunPresenter {
 public:
  // `prefix` starts every line: the device, when several handsets share the output.
  Tracking(std::FILE* out, std::FILE* err, std::string prefix = {})
      : out_(out), err_(err), prefix_(std::move(prefix)) {}
  void ShowMessage(const std::string& text, MessageCaption caption) override {
    std::fprintf(out_, "%s[%s] %s\n", prefix_.c_str(), CaptionName(caption), text.c_str());
    std::fflush(out_);
  }
  void Failure(const std::string& reason, int) override {
    std::fprintf(err_, "brenvik-cli: %s%s\n", prefix_.c_str(), Printable(reason).c_str());
  }
  void Note(const std::string& text) override { std::fprintf(err_, "brenvik-cli: %s\n", Printable(text).c_str()); }
  void SetRange(uint32_t maximum) override { p_.max = maximum; }
  void SetPosition(uint32_t position) override { p_.pos = position; }
  void SetStatus(const std::string& line) override { p_.status = line; }
  void SetBytes(uint64_t sent, uint64_t total) override { p_.meter.Update(sent, total); }
  std::optional<double> AverageRate() const override { return p_.meter.AverageRate(); }

 protected:
  unsigned Percent() const { return p_.Percent(); }
  std::FILE* out_;
  std::FILE* err_;
  std::string prefix_;
  RunProgress p_;
};

class TerminalPresenter : public Tracking {
 public:
  using Tracking::Tracking;
  void SetPosition(uint32_t position) override {
    Tracking::SetPosition(position);
    Draw(false);
  }
  void SetStatus(const std::string& line) override {
    Tracking::SetStatus(line);
    Draw(false);
  }
  void ShowMessage(const std::string& text, MessageCaption caption) override {
    EndBar();
    Tracking::ShowMessage(text, caption);
  }
  void Result(const Outcome&, const std::string& finalText, int, const std::string& cause) override {
    if (drawn_) Draw(true, true);
    EndBar();
    if (!cause.empty()) std::fprintf(out_, "%s\n", Printable(cause).c_str());
    std::fprintf(out_, "%s\n", finalText.c_str());
    std::fflush(out_);
  }
  void Failure(const std::string& reason, int code) override {
    EndBar();
    Tracking::Failure(reason, code);
  }

 private:
  void Draw(bool force, bool final = false) {
    // Redraw at most 20 times a second: thousands of small records must not flood the tty.
    auto now = Steady::now();
    if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(50)) return;
    lastDraw_ = now;
    const std::string line = FitBar(FiguresOf(p_, final), p_.status, LineWidth(out_));
    std::fprintf(out_, "\r%s\x1b[K", line.c_str());
    std::fflush(out_);
    drawn_ = true;
  }
  void EndBar() {
    if (drawn_) std::fputc('\n', out_);
    drawn_ = false;
  }
  bool drawn_ = false;
  Steady::time_point lastDraw_{};
};

// Into a pipe or a file: a line at most every 5 % and every 10 s, whichever comes later, so
// that a log of a long flash stays short and a short flash says little more than its end.
class PlainPresenter : public Tracking {
 public:
  using Tracking::Tracking;
  void SetStatus(const std::string& line) override {
    Tracking::SetStatus(line);
    const auto now = Steady::now();
    if (lined_ && (Percent() < linePercent_ + 5 || now - lineAt_ < std::chrono::seconds(10))) return;
    lined_ = true;
    linePercent_ = Percent();
    lineAt_ = now;
    Line(false);
  }
  void Result(const Outcome&, const std::string& finalText, int, const std::string& cause) override {
    if (!p_.status.empty()) Line(true);
    if (!cause.empty()) std::fprintf(out_, "%s%s\n", prefix_.c_str(), Printable(cause).c_str());
    std::fprintf(out_, "%s%s\n", prefix_.c_str(), finalText.c_str());
    std::fflush(out_);
  }

 private:
  void Line(bool final) {
    const Figures f = FiguresOf(p_, final);
    // Appended piece by piece: gcc 12 for i686 sees a false overlap in the chain of + here.
    std::string figures;
    if (p_.meter.Started()) {
      figures.append(" ").append(std::to_string(f.percent)).append("% ").append(f.amount);
      if (!f.rate.empty()) figures.append(" ").append(f.rate);
      if (!f.left.empty()) figures.append(" ").append(f.left);
    }
    std::fprintf(out_, "%s%u/%u%s %s\n", prefix_.c_str(), p_.pos, p_.max, figures.c_str(), p_.status.c_str());
    std::fflush(out_);
  }
  bool lined_ = false;
  unsigned linePercent_ = 0;
  Steady::time_point lineAt_{};
};

nlohmann::json TenthsOrNull(const std::optional<double>& value) {
  return value ? nlohmann::json(std::round(*value * 10) / 10) : nlohmann::json(nullptr);
}

class JsonPresenter : public RunPresenter {
 public:
  JsonPresenter(std::FILE* out, nlohmann::json fields, ResultFields onResult)
      : out_(out), fields_(std::move(fields)), onResult_(std::move(onResult)) {}
  void SetRange(uint32_t maximum) override {
    p_.max = maximum;
    unreported_ = true;
    Emit({{"event", "range"}, {"max", maximum}});
  }
  void SetPosition(uint32_t position) override {
    p_.pos = position;
    unreported_ = true;
    if (!onResult_) Emit({{"event", "position"}, {"position", position}});
  }
  void SetStatus(const std::string& line) override {
    p_.status = line;
    unreported_ = true;
    if (!onResult_) Emit({{"event", "status"}, {"text", line}});
    // At most 4 a second: the status follows every record, and records can be thousands.
    const auto now = Steady::now();
    if (progressed_ && now - progressAt_ < std::chrono::milliseconds(250)) return;
    progressAt_ = now;
    Progress();
  }
  void SetBytes(uint64_t sent, uint64_t total) override {
    p_.meter.Update(sent, total);
    unreported_ = true;
  }
  std::optional<double> AverageRate() const override { return p_.meter.AverageRate(); }
  void ShowMessage(const std::string& text, MessageCaption caption) override {
    Emit({{"event", "message"}, {"caption", CaptionName(caption)}, {"text", text}});
  }
  void Result(const Outcome& outcome, const std::string& finalText, int exitCode,
              const std::string& cause) override {
    if (unreported_) Progress();  // the last figures, whatever the pace
    nlohmann::json j{{"event", "result"}, {"ok", outcome.Ok()}, {"text", finalText}, {"exit_code", exitCode},
                     {"average_rate", WholeOrNull(p_.meter.AverageRate())}};
    if (!outcome.Ok())
      j["error"] = {{"step", StepName(outcome.step)}, {"index", outcome.index},
                    {"cause", CauseName(outcome.cause)}, {"text", cause}};
    if (onResult_) {
      j.erase("event");
      onResult_(std::move(j));
      return;
    }
    Emit(j);
  }
  void Failure(const std::string& reason, int exitCode) override {
    Emit({{"event", "error"}, {"text", reason}, {"exit_code", exitCode}});
  }
  void Note(const std::string& text) override { Emit({{"event", "note"}, {"text", text}}); }

 private:
  void Progress() {
    progressed_ = true;
    unreported_ = false;
    const RateMeter& m = p_.meter;
    Emit({{"event", "progress"}, {"range", p_.max}, {"position", p_.pos}, {"status", TextOrNull(p_.status)},
          {"bytes", m.Sent()}, {"total_bytes", m.Total()}, {"rate", WholeOrNull(m.Rate())},
          {"eta", TenthsOrNull(m.SecondsLeft())}});
  }
  void Emit(nlohmann::json j) {
    if (fields_.is_object()) j.update(fields_);
    // One call per line: lines of parallel runs never mix.
    std::fprintf(out_, "%s\n", JsonLine(j).c_str());
    std::fflush(out_);
  }
  std::FILE* out_;
  nlohmann::json fields_;
  ResultFields onResult_;
  RunProgress p_;
  bool progressed_ = false, unreported_ = false;
  Steady::time_point progressAt_{};
};

// One handset's row on a shared board.
class BoardPresenter : public Tracking {
 public:
  BoardPresenter(Board& board, size_t line, std::FILE* err, const std::string& device)
      : Tracking(nullptr, err), board_(board), line_(line) {
    row_.name = device;
    Show("waiting");
  }
  void SetRange(uint32_t maximum) override {
    Tracking::SetRange(maximum);
    Show(p_.status);
  }
  void SetPosition(uint32_t position) override {
    Tracking::SetPosition(position);
    Show(p_.status);
  }
  void SetStatus(const std::string& line) override {
    Tracking::SetStatus(line);
    Show(p_.status);
  }
  void SetBytes(uint64_t sent, uint64_t total) override {
    Tracking::SetBytes(sent, total);
    row_.state = RowState::kFlashing;
  }
  void ShowMessage(const std::string& text, MessageCaption caption) override {
    Show(std::string("[") + CaptionName(caption) + "] " + text);
  }
  void Result(const Outcome& outcome, const std::string& finalText, int, const std::string& cause) override {
    row_.state = outcome.Ok() ? RowState::kDone : RowState::kFailed;
    Show(finalText + (cause.empty() ? "" : "  " + StripTool(cause)));
  }
  void Failure(const std::string& reason, int) override {
    row_.state = RowState::kFailed;
    Show(reason);
  }
  void Note(const std::string& text) override { Show(text); }

 private:
  static std::string StripTool(const std::string& cause) {
    const std::string tool = "brenvik-cli: ";
    return cause.rfind(tool, 0) == 0 ? cause.substr(tool.size()) : cause;
  }
  void Show(const std::string& text) {
    const bool over = row_.state == RowState::kDone || row_.state == RowState::kFailed;
    row_.figures = FiguresOf(p_, over);
    row_.text = text;
    board_.Set(line_, row_);
  }
  Board& board_;
  size_t line_;
  BoardRow row_;
};

}  // namespace

std::unique_ptr<RunPresenter> MakePresenter(PresenterStyle style, std::FILE* out, std::FILE* err) {
  switch (style) {
    case PresenterStyle::kTerminal: return std::make_unique<TerminalPresenter>(out, err);
    case PresenterStyle::kPlain: return std::make_unique<PlainPresenter>(out, err);
    case PresenterStyle::kJson: return std::make_unique<JsonPresenter>(out, nlohmann::json(), ResultFields());
  }
  return nullptr;
}

std::unique_ptr<RunPresenter> MakeDevicePresenter(PresenterStyle style, std::FILE* out, std::FILE* err,
                                                  const std::string& device, Board& board) {
  switch (style) {
    case PresenterStyle::kTerminal: return std::make_unique<BoardPresenter>(board, board.AddLine(), err, device);
    case PresenterStyle::kPlain: return std::make_unique<PlainPresenter>(out, err, Printable(device) + ": ");
    case PresenterStyle::kJson:
      return std::make_unique<JsonPresenter>(out, nlohmann::json{{"device", device}}, ResultFields());
  }
  return nullptr;
}

std::unique_ptr<RunPresenter> MakeRowPresenter(Board& board, size_t line, std::FILE* err, const std::string& name) {
  return std::make_unique<BoardPresenter>(board, line, err, name);
}

std::unique_ptr<RunPresenter> MakeJsonPresenter(std::FILE* out, nlohmann::json fields, ResultFields onResult) {
  return std::make_unique<JsonPresenter>(out, std::move(fields), std::move(onResult));
}

namespace {

bool ColourWanted() {
  const char* noColour = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  return (!noColour || !*noColour) && !(term && std::string(term) == "dumb");
}

}  // namespace

Board::Board(std::FILE* out, SizeQuery size) : m_out(out), m_size(std::move(size)), m_colour(ColourWanted()) {
  if (!m_size) m_size = [out] { return QueryTerminalSize(out); };
}

size_t Board::AddLine() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_rows.emplace_back();
  return m_rows.size() - 1;
}

void Board::Set(size_t line, BoardRow row) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_rows[line] = std::move(row);
  const auto now = std::chrono::steady_clock::now();
  if (m_drawn && now - m_lastDraw < std::chrono::milliseconds(100)) return;
  DrawLocked();
  m_lastDraw = now;
}

void Board::Close() {
  std::lock_guard<std::mutex> lock(m_mutex);
  DrawLocked();
}

void Board::DrawLocked() {
  // The size is asked at every drawing: a resized window is followed at the next one.
  const TerminalSize size = m_size();
  const size_t width = (size.columns ? size.columns : 100) - 1;
  const std::vector<std::string> lines = FitBoard(m_rows, width, size.rows, m_colour);
  if (m_drawn && m_drawnLines > 0) std::fprintf(m_out, "\x1b[%zuA", m_drawnLines);
  for (const std::string& line : lines) std::fprintf(m_out, "\r%s\x1b[K\n", line.c_str());
  if (m_drawn && lines.size() < m_drawnLines) std::fputs("\x1b[J", m_out);  // rows of a taller board
  std::fflush(m_out);
  m_drawn = true;
  m_drawnLines = lines.size();
}

}  // namespace brenvik::cli
