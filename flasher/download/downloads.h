// The three download procedures: plain blocks paced by the handset, and BIN record streams
// with or without a boot area. Success or failure is told through the run's error counter.
#pragma once

#include <cstdint>

#include "download/image_view.h"
#include "download/progress.h"
#include "download/run_failure.h"
#include "link/usb_link.h"

namespace brenvik {

struct DownloadContext {
  UsbLink& link;
  const ImageView& view;
  const ImageEntry& entry;
  ProgressReporter& progress;
  int32_t& errorCount;   // the run's error counter
  int32_t imageKind = 0;
  Clock now = SystemSeconds;
  RunFailure* failure = nullptr;  // where the first failure is told, when someone asks
};

// Counts a failure in the error counter and tells the first one's step and cause. A link
// failure over an image that changed is told as the change: that is what broke it.
void CountFailure(DownloadContext& ctx, FailedStep step, uint32_t index, FailureCause cause,
                  const std::string& detail);
void CountLinkFailure(DownloadContext& ctx, FailedStep step, uint32_t index);
// Between units: false, after counting the failure, when the image file changed.
bool ImageStillSame(DownloadContext& ctx, FailedStep step, uint32_t index);

// Returns 2 when the image is empty (nothing is sent), otherwise 1.
int DownloadBlocks(DownloadContext& ctx);
// Kind 5 (boot area and records) and kind 7 (boot area only). Always 1.
int DownloadImgRaw(DownloadContext& ctx);
// Kind 6: records from the file's first byte on. Always 1.
int DownloadOut(DownloadContext& ctx);

}  // namespace brenvik
