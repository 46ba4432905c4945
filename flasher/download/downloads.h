// The three download procedures: plain blocks paced by the handset, and BIN record streams
// with or without a boot area. Each tells what it came to as an Outcome.
#pragma once

#include <cstdint>

#include "download/image_view.h"
#include "download/outcome.h"
#include "download/progress.h"
#include "link/usb_link.h"

namespace brenvik {

// Which procedure sends an image, by its kind.
enum class Procedure {
  kBlocks,          // DownloadBlocks: every kind but 5, 6 and 7
  kBootAndRecords,  // DownloadImgRaw: kind 5 (boot area and records) and 7 (boot area only)
  kRecords,         // DownloadOut: kind 6, records from the file's first byte on
};
Procedure ProcedureFor(int32_t imageKind);

// Blocks of `blockSize` bytes that `size` bytes take, the last one short.
inline uint32_t BlockCount(uint32_t size, uint32_t blockSize) {
  return size / blockSize + (size % blockSize ? 1 : 0);
}

struct DownloadContext {
  UsbLink& link;
  const ImageView& view;
  const ImageEntry& entry;
  ProgressReporter& progress;
  int32_t imageKind = 0;
  SecondsClock now = MonotonicSeconds;
};

// A failed link operation, told as what it was; over an image that changed, told as the
// change, since that is what broke it.
Outcome LinkFailure(const DownloadContext& ctx, Step step, uint32_t index, const LinkResult& link);
// Between units: the failure when the image file changed, else success.
Outcome ImageCheck(const DownloadContext& ctx, Step step, uint32_t index);

// An empty image sends nothing and succeeds.
Outcome DownloadBlocks(DownloadContext& ctx);
// Kinds 5 and 7: the 128 KiB boot area, then (kind 5) the records behind it.
Outcome DownloadImgRaw(DownloadContext& ctx);
// Kind 6: a bin of more than 512000 bytes, record by record from its first byte; no boot area.
Outcome DownloadOut(DownloadContext& ctx);

}  // namespace brenvik
