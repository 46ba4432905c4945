// One press of the flash button, from the image path to the final text, without a window:
// the dialog and brenvik-cli both drive it.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "download/downloads.h"
#include "download/image_view.h"
#include "download/progress.h"
#include "link/messages.h"
#include "link/usb_link.h"

namespace brenvik {

struct FlashOptions {
  bool autoUpgrade = true;
  std::optional<std::string> devicePath;  // instead of the class search
  // Hands over an already made device (in-memory runs, tests); wins over the other two.
  std::function<std::unique_ptr<DeviceFile>()> deviceFactory;
  std::chrono::milliseconds timeout = kReadTimeout;
  // Set by a signal handler: the run stops at the next packet and any wait ends.
  const volatile std::sig_atomic_t* stop = nullptr;
};

enum class PrepareResult {
  kReady,            // the worker may start
  kImageUnreadable,  // missing or unreadable image (the user was told): nothing was opened
  kImageEmpty,       // an empty file or one that cannot be mapped: nothing was opened
  kImageRefused,     // not a regular file, or too large (View().RefusalText()): nothing was opened
  kNoDevice,         // no handset, or it could not be opened
};

enum class Procedure { kBlocks, kImgRaw, kOut };
Procedure ProcedureFor(int32_t imageKind);

class DownloadRun {
 public:
  DownloadRun(MessageSink& messages, ProgressReporter& progress, Clock clock = SystemSeconds);

  // The flash handler's part, on the caller's thread: map the image, open the handset and,
  // with auto upgrade, read its acknowledgement, classify and send the kind packet.
  PrepareResult Prepare(const std::string& imagePath, const FlashOptions& options);
  // The browse handler's part: maps a chosen image at once into the run's view and entry
  // (the "Post" message when it cannot be opened). Returns the size, 0 when not mapped.
  uint32_t MapImage(const std::string& imagePath);
  // The worker's part: the procedure of the kind, then the wait until the handset has
  // taken every byte. True when the run succeeded; Failure() tells why it did not.
  bool Download();
  // After the final message has been seen: the second end command of a record download.
  void Finish();
  // Download, final message, Finish: the whole worker.
  bool RunToEnd();

  static const char* FinalText(bool ok) { return ok ? text::kUpdateSuccess : text::kUpdateFail; }

  UsbLink& Link() { return link_; }
  const ImageView& View() const { return view_; }
  const ImageEntry& Entry() const { return entry_; }
  int32_t ImageKind() const { return imageKind_; }
  int32_t ErrorCount() const { return errorCount_; }
  bool AckReceived() const { return ackReceived_; }
  const RunFailure& Failure() const { return failure_; }

 private:
  bool OpenDevice(const FlashOptions& options);
  uint32_t MapInto(const std::string& imagePath, MessageSink& messages);

  MessageSink& messages_;
  ProgressReporter& progress_;
  Clock clock_;
  UsbLink link_;
  ImageView view_;
  ImageEntry entry_;
  std::string imagePath_;
  int32_t imageKind_ = kKindDio;
  int32_t errorCount_ = 0;
  bool ackReceived_ = false;
  RunFailure failure_;
};

}  // namespace brenvik
