// Records what a run shows the user: messages, progress and status lines.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "download/progress.h"
#include "run/messages.h"

namespace brenvik::testing {

class Recorder : public ProgressReporter, public MessageSink {
 public:
  struct Message {
    std::string text;
    MessageCaption caption;
  };
  void SetRange(uint32_t maximum) override { ranges.push_back(maximum); }
  void SetPosition(uint32_t position) override { positions.push_back(position); }
  void SetStatus(const std::string& line) override { statuses.push_back(line); }
  void SetBytes(uint64_t sent, uint64_t total) override { bytes.push_back({sent, total}); }
  void ShowMessage(const std::string& text, MessageCaption caption) override {
    messages.push_back({text, caption});
  }
  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> out;
    for (const auto& m : messages) out.push_back(m.text);
    return out;
  }

  std::vector<uint32_t> ranges, positions;
  std::vector<std::string> statuses;
  std::vector<std::pair<uint64_t, uint64_t>> bytes;  // sent, total
  std::vector<Message> messages;
};

// A clock that advances by a fixed step at every reading.
struct SteppingClock {
  int64_t now = 1'000'000;
  int64_t step = 0;
  int64_t operator()() {
    int64_t t = now;
    now += step;
    return t;
  }
};

}  // namespace brenvik::testing
