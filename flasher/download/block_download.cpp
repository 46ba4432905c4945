#include "download/downloads.h"
#include "download/status_text.h"

namespace brenvik {

int DownloadBlocks(DownloadContext& ctx) {
  const uint32_t size = ctx.entry.size;
  if (size == 0) return 2;
  // Never read past the view: a size that the mapping does not back is a failed run.
  if (!ctx.view.Mapped() || ctx.entry.start > ctx.view.Size() ||
      size > ctx.view.Size() - ctx.entry.start) {
    CountFailure(ctx, FailedStep::kImageCheck, 0, FailureCause::kImageChanged,
                 "the image is not mapped whole");
    return 1;
  }
  const uint32_t blockSize = ctx.link.BlockSize();
  ctx.progress.SetPosition(0);
  const uint32_t blocks = size / blockSize + (size % blockSize ? 1 : 0);
  ctx.progress.SetRange(blocks);
  const int64_t start = ctx.now();

  const uint8_t* cursor = ctx.view.Data() + ctx.entry.start;
  uint32_t remaining = size, countdown = blocks, sent = 0;
  while (remaining > 0) {
    // The handset paces every block; without its ready packet it did not take the block.
    if (!ctx.link.ReadReady()) {
      CountLinkFailure(ctx, FailedStep::kReady, sent);
      return 1;
    }
    const uint32_t length = remaining > blockSize ? blockSize : remaining;
    --countdown;
    if (!ImageStillSame(ctx, FailedStep::kBlockData, sent)) return 1;
    if (!ctx.link.WriteBlockHeader(BlockHeader{countdown, length, BLOCK_TAG}) ||
        !ctx.link.WriteData(cursor, length)) {
      CountLinkFailure(ctx, FailedStep::kBlockData, sent);
      return 1;
    }
    cursor += length;
    ++sent;
    remaining -= length;
    ctx.progress.SetPosition(sent);
    const int64_t elapsed = ctx.now() - start;
    ctx.progress.SetStatus(FormatStatusLine(elapsed, BlockSpeed(length * sent, elapsed)));
  }
  const int64_t elapsed = ctx.now() - start;
  ctx.progress.SetStatus(FormatStatusLine(elapsed, BlockSpeed(size, elapsed)));
  return 1;
}

}  // namespace brenvik
