// One press of the flash button, from the image path to the final text, without a window:
// the dialog and brenvik-cli both drive it. The run turns the typed outcomes below it into
// the messages the user sees.
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
#include "download/outcome.h"
#include "download/progress.h"
#include "link/usb_link.h"
#include "run/messages.h"

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
  kImageRefused,     // not a regular file, or too large (Mapping() says which): nothing was opened
  kImageEmpty,       // an empty file or one that cannot be mapped: nothing was opened
  kNoDevice,         // no handset, or it could not be opened (Opening() says why)
};

class DownloadRun {
 public:
  DownloadRun(MessageSink& messages, ProgressReporter& progress, SecondsClock clock = MonotonicSeconds);

  // The flash handler's part, on the caller's thread: map the image, open the handset and,
  // with auto upgrade, read its acknowledgement, classify and send the kind packet.
  PrepareResult Prepare(const std::string& imagePath, const FlashOptions& options);
  // The browse handler's part: maps a chosen image at once into the run's view and entry
  // (the "Post" message when it cannot be opened). Returns the size, 0 when not mapped.
  uint32_t MapImage(const std::string& imagePath);
  // The worker's part: the procedure of the kind, then the wait until the handset has
  // taken every byte. Never throws: an error of the program is a failed outcome too.
  Outcome Download();
  // After the final message has been seen: the second end command of a record download.
  void Finish();
  // Download, final message, Finish: the whole worker.
  Outcome RunToEnd();

  static const char* FinalText(bool ok) { return ok ? text::kUpdateSuccess : text::kUpdateFail; }

  UsbLink& Link() { return m_link; }
  const ImageView& View() const { return m_view; }
  const ImageEntry& Entry() const { return m_entry; }
  const MapResult& Mapping() const { return m_mapping; }
  const OpenResult& Opening() const { return m_opening; }
  // The kind the run flashes as, once Prepare has mapped the image.
  int32_t ImageKind() const { return m_imageKind; }
  // The error counter: not 0 once the run has failed (an image of kind 9 included).
  int32_t ErrorCount() const { return m_outcome.Ok() ? 0 : 1; }
  const Outcome& Result() const { return m_outcome; }
  bool AckReceived() const { return m_ackReceived; }

 private:
  bool OpenDevice(const FlashOptions& options);
  Outcome RunProcedure();
  uint32_t MapInto(const std::string& imagePath);

  MessageSink& m_messages;
  ProgressReporter& m_progress;
  SecondsClock m_clock;
  UsbLink m_link;
  ImageView m_view;
  ImageEntry m_entry;
  MapResult m_mapping;
  OpenResult m_opening;
  std::string m_imagePath;
  int32_t m_imageKind = KIND_DIO;
  bool m_ackReceived = false;
  Outcome m_outcome;
};

}  // namespace brenvik
