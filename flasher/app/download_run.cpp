#include "app/download_run.h"

#include "app/classify.h"

namespace brenvik {
namespace {

// Passes messages on and notes that one was shown: the mapping speaks only when it fails.
class RecordingSink : public MessageSink {
 public:
  RecordingSink(MessageSink& next, bool& shown) : next_(next), shown_(shown) {}
  void ShowMessage(const std::string& text, MessageCaption caption) override {
    shown_ = true;
    next_.ShowMessage(text, caption);
  }

 private:
  MessageSink& next_;
  bool& shown_;
};

}  // namespace

Procedure ProcedureFor(int32_t imageKind) {
  switch (imageKind) {
    case kKindImg:
    case kKindRaw: return Procedure::kImgRaw;
    case kKindLargeBin: return Procedure::kOut;
    default: return Procedure::kBlocks;
  }
}

DownloadRun::DownloadRun(MessageSink& messages, ProgressReporter& progress, Clock clock)
    : messages_(messages), progress_(progress), clock_(std::move(clock)) {}

bool DownloadRun::OpenDevice(const FlashOptions& options) {
  if (options.deviceFactory) {
    link_.Attach(options.deviceFactory());
    return link_.IsOpen();
  }
  if (!options.devicePath) return link_.Open(messages_) != 0;  // shows its own messages
  if (link_.OpenPath(*options.devicePath)) return true;
  messages_.ShowMessage(text::kCheckUsbCable, MessageCaption::kProgram);
  return false;
}

PrepareResult DownloadRun::Prepare(const std::string& imagePath, const FlashOptions& options) {
  // Every run is judged on its own: an earlier failure must not fail this one.
  errorCount_ = 0;
  ackReceived_ = false;
  bool unreadable = false;
  RecordingSink watch(messages_, unreadable);
  const uint32_t size = MapInto(imagePath, watch);
  // No view, no run: no procedure may read a mapping that does not exist.
  if (unreadable) return PrepareResult::kImageUnreadable;
  if (size == 0 || !view_.Mapped()) return PrepareResult::kImageEmpty;

  if (!OpenDevice(options)) return PrepareResult::kNoDevice;
  link_.SetTimeout(options.timeout);

  if (!options.autoUpgrade) {
    imageKind_ = kKindDio;
    return PrepareResult::kReady;
  }
  ackReceived_ = link_.ReadUpgradeAck() != 0;
  if (!ackReceived_) messages_.ShowMessage(text::kUpgradeError, MessageCaption::kError);
  imageKind_ = ClassifyImage(imagePath_, entry_.size);
  link_.SendImageKind(imageKind_);  // also for kind 9: the handset is told
  if (imageKind_ == kKindNotCorrect) {
    ++errorCount_;
    messages_.ShowMessage(text::kNotCorrectFile, MessageCaption::kError);
  }
  return PrepareResult::kReady;
}

uint32_t DownloadRun::MapImage(const std::string& imagePath) { return MapInto(imagePath, messages_); }

uint32_t DownloadRun::MapInto(const std::string& imagePath, MessageSink& messages) {
  imagePath_ = imagePath;
  uint32_t sectors = 0;
  const uint32_t size = MapImageFile(view_, imagePath_, &sectors, messages);
  entry_ = ImageEntry{0, size, sectors};
  return size;
}

bool DownloadRun::Download() {
  DownloadContext ctx{link_, view_, entry_, progress_, errorCount_, imageKind_, clock_};
  switch (ProcedureFor(imageKind_)) {
    case Procedure::kImgRaw: DownloadImgRaw(ctx); break;
    case Procedure::kOut: DownloadOut(ctx); break;
    case Procedure::kBlocks: DownloadBlocks(ctx); break;
  }
  return errorCount_ == 0;
}

void DownloadRun::Finish() {
  if (ProcedureFor(imageKind_) != Procedure::kBlocks) link_.SendDownloadEnd();
}

bool DownloadRun::RunToEnd() {
  const bool ok = Download();
  messages_.ShowMessage(FinalText(ok), MessageCaption::kProgram);
  Finish();
  return ok;
}

}  // namespace brenvik
