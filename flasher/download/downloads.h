// The three download procedures: plain blocks paced by the handset, and BIN record streams
// with or without a boot area. Success or failure is told through the run's error counter.
#pragma once

#include <cstdint>

#include "download/image_view.h"
#include "download/progress.h"
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
};

// Returns 2 when the image is empty (nothing is sent), otherwise 1.
int DownloadBlocks(DownloadContext& ctx);
// Kind 5 (boot area and records) and kind 7 (boot area only). Always 1.
int DownloadImgRaw(DownloadContext& ctx);
// Kind 6: records from the file's first byte on. Always 1.
int DownloadOut(DownloadContext& ctx);

}  // namespace brenvik
