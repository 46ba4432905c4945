#include "reporters.h"

#include <nlohmann/json.hpp>

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
  Tracking(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}
  void ShowMessage(const std::string& text, MessageCaption caption) override {
    std::fprintf(out_, "[%s] %s\n", CaptionName(caption), text.c_str());
    std::fflush(out_);
  }
  void Failure(const std::string& reason, int) override {
    std::fprintf(err_, "brenvik-cli: %s\n", reason.c_str());
  }
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
    if (!cause.empty()) std::fprintf(out_, "%s\n", cause.c_str());
    std::fprintf(out_, "%s\n", finalText.c_str());
    std::fflush(out_);
  }

 private:
  void Line() {
    std::fprintf(out_, "%u/%u %s\n", pos_, max_, status_.c_str());
    std::fflush(out_);
  }
  int lastPercent_ = -1;
};

class JsonPresenter : public RunPresenter {
 public:
  explicit JsonPresenter(std::FILE* out) : out_(out) {}
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

 private:
  void Emit(const nlohmann::json& j) {
    std::fprintf(out_, "%s\n", j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    std::fflush(out_);
  }
  std::FILE* out_;
};

}  // namespace

std::unique_ptr<RunPresenter> MakePresenter(PresenterStyle style, std::FILE* out, std::FILE* err) {
  switch (style) {
    case PresenterStyle::kTerminal: return std::make_unique<TerminalPresenter>(out, err);
    case PresenterStyle::kPlain: return std::make_unique<PlainPresenter>(out, err);
    case PresenterStyle::kJson: return std::make_unique<JsonPresenter>(out);
  }
  return nullptr;
}

}  // namespace brenvik::cli
