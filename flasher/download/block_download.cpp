#include "download/downloads.h"
#include "download/status_text.h"

namespace brenvik {

Outcome DownloadBlocks(DownloadContext& ctx) {
  const uint32_t size = ctx.entry.size;
  if (size == 0) return Outcome::Success();  // nothing to send
  // Never read past the view: a size that the mapping does not back is a failed run.
  if (!ctx.view.Mapped() || ctx.entry.start > ctx.view.Size() || size > ctx.view.Size() - ctx.entry.start)
    return Outcome{Step::kImageCheck, 0, Cause::kImageChanged, {}, {}};
  const uint32_t blockSize = ctx.link.BlockSize();
  ctx.progress.SetPosition(0);
  const uint32_t blocks = BlockCount(size, blockSize);
  ctx.progress.SetRange(blocks);
  const uint64_t totalBytes = uint64_t(blocks) * BLOCK_HEADER_SIZE + size;
  uint64_t bytesSent = 0;
  ctx.progress.SetBytes(0, totalBytes);
  const int64_t start = ctx.now();

  const uint8_t* cursor = ctx.view.Data() + ctx.entry.start;
  uint32_t remaining = size, countdown = blocks, sent = 0;
  while (remaining > 0) {
    // The handset paces every block; without its ready packet it did not take the block.
    if (const LinkResult r = ctx.link.ReadReady(); !r) return LinkFailure(ctx, Step::kReady, sent, r);
    const uint32_t length = remaining > blockSize ? blockSize : remaining;
    --countdown;
    if (Outcome o = ImageCheck(ctx, Step::kBlockData, sent); !o.Ok()) return o;
    if (ctx.link.StopRequested()) return LinkFailure(ctx, Step::kBlockData, sent, ctx.link.StoppedBefore(BLOCK_HEADER_SIZE));
    LinkResult r;
    {
      UsbLink::Unit whole(ctx.link);
      r = ctx.link.WriteBlockHeader(BlockHeader{countdown, length, BLOCK_TAG});
      if (r) r = ctx.link.WriteData(cursor, length);
    }
    if (!r) return LinkFailure(ctx, Step::kBlockData, sent, r);
    cursor += length;
    ctx.view.DoneBefore(uint64_t(cursor - ctx.view.Data()));
    ++sent;
    remaining -= length;
    bytesSent += BLOCK_HEADER_SIZE + length;
    ctx.progress.SetBytes(bytesSent, totalBytes);
    ctx.progress.SetPosition(sent);
    const int64_t elapsed = ctx.now() - start;
    ctx.progress.SetStatus(FormatStatusLine(elapsed, BlockSpeed(length * sent, elapsed)));
  }
  const int64_t elapsed = ctx.now() - start;
  ctx.progress.SetStatus(FormatStatusLine(elapsed, BlockSpeed(size, elapsed)));
  return Outcome::Success();
}

}  // namespace brenvik
