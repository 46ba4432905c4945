#include "reporters.h"

#include "json_text.h"
#include "run/outcome_text.h"

namespace brenvik::cli {

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

// Shared bookkeeping of range, position and status, and the text forms of messages.
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
    std::fprintf(err_, "brenvik-cli: %s%s\n", prefix_.c_str(), reason.c_str());
  }
  void Note(const std::string& text) override { std::fprintf(err_, "brenvik-cli: %s\n", text.c_str()); }
  void SetRange(uint32_t maximum) override { max_ = maximum; }
  void SetPosition(uint32_t position) override { pos_ = position; }
  void SetStatus(const std::string& line) override { status_ = line; }

 protected:
  unsigned Percent() const {
    if (max_ == 0) return 0;
    uint64_t p = uint64_t(pos_ > max_ ? max_ : pos_) * 100 / max_;
    return unsigned(p);
  }
  std::FILE* out_;
  std::FILE* err_;
  std::string prefix_;
  uint32_t max_ = 0, pos_ = 0;
  std::string status_;
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
    if (drawn_) Draw(true);
    EndBar();
    if (!cause.empty()) std::fprintf(out_, "%s\n", cause.c_str());
    std::fprintf(out_, "%s\n", finalText.c_str());
    std::fflush(out_);
  }
  void Failure(const std::string& reason, int code) override {
    EndBar();
    Tracking::Failure(reason, code);
  }

 private:
  void Draw(bool force) {
    // Redraw at most 20 times a second: thousands of small records must not flood the tty.
    auto now = Steady::now();
    if (!force && drawn_ && now - lastDraw_ < std::chrono::milliseconds(50)) return;
    lastDraw_ = now;
    constexpr unsigned kWidth = 30;
    unsigned filled = Percent() * kWidth / 100;
    std::string bar(filled, '#');
    bar.resize(kWidth, '.');
    std::fprintf(out_, "\r[%s] %3u%%  %s\x1b[K", bar.c_str(), Percent(), status_.c_str());
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

class PlainPresenter : public Tracking {
 public:
  using Tracking::Tracking;
  void SetRange(uint32_t maximum) override {
    Tracking::SetRange(maximum);
    lastPercent_ = -1;
  }
  void SetStatus(const std::string& line) override {
    Tracking::SetStatus(line);
    // One line per percent of progress, not per record.
    if (int(Percent()) == lastPercent_) return;
    lastPercent_ = int(Percent());
    Line();
  }
  void Result(const Outcome&, const std::string& finalText, int, const std::string& cause) override {
    if (!status_.empty()) Line();
    if (!cause.empty()) std::fprintf(out_, "%s%s\n", prefix_.c_str(), cause.c_str());
    std::fprintf(out_, "%s%s\n", prefix_.c_str(), finalText.c_str());
    std::fflush(out_);
  }

 private:
  void Line() {
    std::fprintf(out_, "%s%u/%u %s\n", prefix_.c_str(), pos_, max_, status_.c_str());
    std::fflush(out_);
  }
  int lastPercent_ = -1;
};

class JsonPresenter : public RunPresenter {
 public:
  JsonPresenter(std::FILE* out, std::string device) : out_(out), device_(std::move(device)) {}
  void SetRange(uint32_t maximum) override { Emit({{"event", "range"}, {"max", maximum}}); }
  void SetPosition(uint32_t position) override { Emit({{"event", "position"}, {"position", position}}); }
  void SetStatus(const std::string& line) override { Emit({{"event", "status"}, {"text", line}}); }
  void ShowMessage(const std::string& text, MessageCaption caption) override {
    Emit({{"event", "message"}, {"caption", CaptionName(caption)}, {"text", text}});
  }
  void Result(const Outcome& outcome, const std::string& finalText, int exitCode,
              const std::string& cause) override {
    nlohmann::json j{{"event", "result"}, {"ok", outcome.Ok()}, {"text", finalText}, {"exit_code", exitCode}};
    if (!outcome.Ok())
      j["error"] = {{"step", StepName(outcome.step)}, {"index", outcome.index},
                    {"cause", CauseName(outcome.cause)}, {"text", cause}};
    Emit(j);
  }
  void Failure(const std::string& reason, int exitCode) override {
    Emit({{"event", "error"}, {"text", reason}, {"exit_code", exitCode}});
  }
  void Note(const std::string& text) override { Emit({{"event", "note"}, {"text", text}}); }

 private:
  void Emit(nlohmann::json j) {
    if (!device_.empty()) j["device"] = device_;
    // One call per line: lines of parallel runs never mix.
    std::fprintf(out_, "%s\n", JsonLine(j).c_str());
    std::fflush(out_);
  }
  std::FILE* out_;
  std::string device_;
};

// One handset's line on a shared board.
class BoardPresenter : public Tracking {
 public:
  BoardPresenter(Board& board, size_t line, std::FILE* err, const std::string& device)
      : Tracking(nullptr, err), board_(board), line_(line), device_(device) {
    Show("waiting");
  }
  void SetRange(uint32_t maximum) override {
    Tracking::SetRange(maximum);
    Show(status_);
  }
  void SetPosition(uint32_t position) override {
    Tracking::SetPosition(position);
    Show(status_);
  }
  void SetStatus(const std::string& line) override {
    Tracking::SetStatus(line);
    Show(status_);
  }
  void ShowMessage(const std::string& text, MessageCaption caption) override {
    Show(std::string("[") + CaptionName(caption) + "] " + text);
  }
  void Result(const Outcome&, const std::string& finalText, int, const std::string& cause) override {
    Show(finalText + (cause.empty() ? "" : "  " + StripTool(cause)));
  }
  void Failure(const std::string& reason, int) override { Show(reason); }
  void Note(const std::string& text) override { Show(text); }

 private:
  static std::string StripTool(const std::string& cause) {
    const std::string tool = "brenvik-cli: ";
    return cause.rfind(tool, 0) == 0 ? cause.substr(tool.size()) : cause;
  }
  void Show(const std::string& text) {
    constexpr unsigned kWidth = 20;
    std::string bar(Percent() * kWidth / 100, '#');
    bar.resize(kWidth, '.');
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3u%%", Percent());
    board_.Set(line_, device_ + "  [" + bar + "] " + percent + "  " + text);
  }
  Board& board_;
  size_t line_;
  std::string device_;
};

}  // namespace

std::unique_ptr<RunPresenter> MakePresenter(PresenterStyle style, std::FILE* out, std::FILE* err) {
  switch (style) {
    case PresenterStyle::kTerminal: return std::make_unique<TerminalPresenter>(out, err);
    case PresenterStyle::kPlain: return std::make_unique<PlainPresenter>(out, err);
    case PresenterStyle::kJson: return std::make_unique<JsonPresenter>(out, std::string());
  }
  return nullptr;
}

std::unique_ptr<RunPresenter> MakeDevicePresenter(PresenterStyle style, std::FILE* out, std::FILE* err,
                                                  const std::string& device, Board& board) {
  switch (style) {
    case PresenterStyle::kTerminal: return std::make_unique<BoardPresenter>(board, board.AddLine(), err, device);
    case PresenterStyle::kPlain: return std::make_unique<PlainPresenter>(out, err, device + ": ");
    case PresenterStyle::kJson: return std::make_unique<JsonPresenter>(out, device);
  }
  return nullptr;
}

size_t Board::AddLine() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_lines.emplace_back();
  return m_lines.size() - 1;
}

void Board::Set(size_t line, std::string text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  // A wrapped line would throw off the cursor's way back up: cut it, never inside a character.
  constexpr size_t kColumns = 100;
  if (text.size() > kColumns) {
    size_t cut = kColumns;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
  }
  m_lines[line] = std::move(text);
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
  if (m_drawn) std::fprintf(m_out, "\x1b[%zuA", m_drawnLines);
  for (const std::string& line : m_lines) std::fprintf(m_out, "\r%s\x1b[K\n", line.c_str());
  std::fflush(m_out);
  m_drawn = true;
  m_drawnLines = m_lines.size();
}

}  // namespace brenvik::cli
