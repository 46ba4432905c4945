#include "download/bin_stream.h"
#include "download/downloads.h"
#include "download/status_text.h"

namespace brenvik {
namespace {

constexpr uint32_t kImgRecordsOffset = kBootAreaSize + kBinStreamHeaderSize;  // 0x2000F
constexpr uint32_t kImgRangeBase = 0xD0000;
constexpr uint32_t kDefaultRange = 100;

// One data transfer: header and data, then the transfer-end command. A failure is counted
// once and ends the procedure.
bool SendTransfer(DownloadContext& ctx, const uint8_t* data, uint32_t address, uint32_t length,
                  uint32_t type) {
  if (ctx.link.SendData(data, address, length, type) && ctx.link.SendTransferEnd()) return true;
  ++ctx.errorCount;
  return false;
}

// A malformed stream is a failed run before anything is sent: no half-written image.
bool StreamFits(DownloadContext& ctx, uint32_t firstRecordOffset, BinStreamCheck* check) {
  *check = CheckBinStream(ctx.view.Data(), ctx.view.Size(), firstRecordOffset);
  if (check->Ok()) return true;
  ++ctx.errorCount;
  return false;
}

uint32_t RangeFor(uint32_t span, const BinStreamCheck& check) {
  const uint32_t firstLength = check.first ? check.first->length : 0;
  return firstLength ? span / firstLength : kDefaultRange;
}

void WalkRecords(DownloadContext& ctx, uint32_t firstRecordOffset, int64_t start) {
  const uint32_t fileSize = ctx.view.Size();
  BinRecordWalker walker(ctx.view.Data(), fileSize, firstRecordOffset);
  uint32_t count = 0;
  while (auto record = walker.Next()) {
    if (record->IsEnd()) {
      const int64_t elapsed = ctx.now() - start;
      ctx.progress.SetStatus(FormatStatusLine(elapsed, RecordSpeed(fileSize, elapsed)));
      ctx.link.SendDownloadEnd();
      return;
    }
    if (record->length != 0 &&
        !SendTransfer(ctx, record->data, record->address, record->length, DATA_TYPE_RECORD))
      return;
    ctx.progress.SetPosition(count);
    ++count;
    const int64_t elapsed = ctx.now() - start;
    // The estimate counts a boot area for every stream, also where none was sent.
    ctx.progress.SetStatus(
        FormatStatusLine(elapsed, RecordSpeed(record->length * count + kBootAreaSize, elapsed)));
  }
  ++ctx.errorCount;  // the stream was checked before; a change under the view lands here
}

}  // namespace

int DownloadImgRaw(DownloadContext& ctx) {
  const uint32_t fileSize = ctx.view.Size();
  const bool raw = ctx.imageKind == kKindRaw;
  BinStreamCheck check;
  if (fileSize < kBootAreaSize) {
    ++ctx.errorCount;
    return 1;
  }
  if (!raw && !StreamFits(ctx, kImgRecordsOffset, &check)) return 1;

  ctx.progress.SetPosition(0);
  ctx.progress.SetRange(kDefaultRange);
  const int64_t start = ctx.now();
  if (!SendTransfer(ctx, ctx.view.Data(), 0, kBootAreaSize, DATA_TYPE_BOOT)) return 1;
  ctx.progress.SetPosition(kDefaultRange);

  if (raw) {
    const int64_t elapsed = ctx.now() - start;
    ctx.progress.SetStatus(FormatStatusLine(elapsed, RecordSpeed(kBootAreaSize, elapsed)));
    ctx.link.SendDownloadEnd();
    return 1;
  }
  ctx.progress.SetPosition(0);
  // A file smaller than the range base would wrap to a range the bar never moves in; the
  // record count is the true range then.
  ctx.progress.SetRange(fileSize >= kImgRangeBase ? RangeFor(fileSize - kImgRangeBase, check)
                                                  : check.records);
  WalkRecords(ctx, kImgRecordsOffset, start);
  return 1;
}

int DownloadOut(DownloadContext& ctx) {
  BinStreamCheck check;
  if (!StreamFits(ctx, kBinStreamHeaderSize, &check)) return 1;
  ctx.progress.SetPosition(0);
  ctx.progress.SetRange(kDefaultRange);
  const int64_t start = ctx.now();
  ctx.progress.SetPosition(0);
  ctx.progress.SetRange(RangeFor(ctx.view.Size(), check));
  WalkRecords(ctx, kBinStreamHeaderSize, start);
  return 1;
}

}  // namespace brenvik
