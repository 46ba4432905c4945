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
  failure_ = {};
  bool unreadable = false;
  RecordingSink watch(messages_, unreadable);
  const uint32_t size = MapInto(imagePath, watch);
  // No view, no run: no procedure may read a mapping that does not exist.
  if (unreadable) return PrepareResult::kImageUnreadable;
  if (view_.Refusal() != ImageRefusal::kNone) return PrepareResult::kImageRefused;
  if (size == 0 || !view_.Mapped()) return PrepareResult::kImageEmpty;

  link_.SetStopFlag(options.stop);
  if (!OpenDevice(options)) return PrepareResult::kNoDevice;
  link_.SetTimeout(options.timeout);

  if (!options.autoUpgrade) {
    imageKind_ = kKindDio;
    return PrepareResult::kReady;
  }
  ackReceived_ = link_.ReadUpgradeAck() != 0;
  // A wait that a stop request ended is no missing acknowledgement: the run ends at its
  // first packet instead.
  if (!ackReceived_ && !link_.StopRequested()) messages_.ShowMessage(text::kUpgradeError, MessageCaption::kError);
  imageKind_ = ClassifyImage(imagePath_, entry_.size);
  link_.SendImageKind(imageKind_);  // also for kind 9: the handset is told
  if (imageKind_ == kKindNotCorrect) {
    ++errorCount_;
    failure_ = {FailedStep::kImageCheck, 0, FailureCause::kNotCorrect,
                std::string("not a correct file: ") + ClassifyImagePath(imagePath_, entry_.size).reason};
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
  DownloadContext ctx{link_, view_, entry_, progress_, errorCount_, imageKind_, clock_, &failure_};
  switch (ProcedureFor(imageKind_)) {
    case Procedure::kImgRaw: DownloadImgRaw(ctx); break;
    case Procedure::kOut: DownloadOut(ctx); break;
    case Procedure::kBlocks: DownloadBlocks(ctx); break;
  }
  if (errorCount_ != 0) return false;
  // What went out must be what the file holds now, and it must have reached the handset:
  // bytes that are only queued are not yet flashed.
  if (!ImageStillSame(ctx, FailedStep::kImageCheck, 0)) return false;
  if (!link_.Drain()) {
    CountLinkFailure(ctx, FailedStep::kEnd, 0);
    return false;
  }
  // A stop request that came with the last packet still leaves the run whole, but the
  // end commands that the procedure gave up on are missing.
  if (ProcedureFor(imageKind_) != Procedure::kBlocks && link_.StopRequested()) {
    CountFailure(ctx, FailedStep::kEnd, 0, FailureCause::kStopped, "stopped by a signal");
    return false;
  }
  return true;
}

void DownloadRun::Finish() {
  // A run stopped by the user sends nothing more.
  if (link_.StopRequested()) return;
  if (ProcedureFor(imageKind_) != Procedure::kBlocks) link_.SendDownloadEnd();
}

bool DownloadRun::RunToEnd() {
  const bool ok = Download();
  messages_.ShowMessage(FinalText(ok), MessageCaption::kProgram);
  Finish();
  return ok;
}

}  // namespace brenvik
