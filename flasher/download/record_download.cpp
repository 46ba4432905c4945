#include <cstdio>

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
                  uint32_t type, FailedStep step, uint32_t index) {
  if (!ImageStillSame(ctx, step, index)) return false;
  if (ctx.link.SendData(data, address, length, type) && ctx.link.SendTransferEnd()) return true;
  CountLinkFailure(ctx, step, index);
  return false;
}

// Record headers are read from the file, not the mapping: a file cut short under the run
// ends the walk with a problem instead of a signal. The data goes out from the mapping,
// where the device's write reports a missing page as an error.
BinRecordWalker FileWalker(const DownloadContext& ctx, uint32_t firstRecordOffset) {
  const ImageView& view = ctx.view;
  return BinRecordWalker([&view](uint64_t at, uint8_t* out, size_t n) { return view.ReadAt(at, out, n); },
                         view.Size(), firstRecordOffset);
}

void CountStreamProblem(DownloadContext& ctx, FailedStep step, uint32_t index, BinProblem problem, size_t at) {
  char where[32];
  std::snprintf(where, sizeof where, "0x%zX", at);
  const bool changed = problem == BinProblem::kUnreadable || !ctx.view.Unchanged();
  CountFailure(ctx, step, index, changed ? FailureCause::kImageChanged : FailureCause::kMalformed,
               changed ? std::string("the image file changed during the flash")
                       : std::string("the record stream is malformed at offset ") + where + ": " +
                             DescribeBinProblem(problem));
}

// A malformed stream is a failed run before anything is sent: no half-written image.
bool StreamFits(DownloadContext& ctx, uint32_t firstRecordOffset, BinStreamCheck* check) {
  *check = CheckBinStream(FileWalker(ctx, firstRecordOffset));
  if (check->Ok()) return true;
  CountStreamProblem(ctx, FailedStep::kImageCheck, 0, check->problem, check->problemOffset);
  return false;
}

uint32_t RangeFor(uint32_t span, const BinStreamCheck& check) {
  const uint32_t firstLength = check.first ? check.first->length : 0;
  return firstLength ? span / firstLength : kDefaultRange;
}

void WalkRecords(DownloadContext& ctx, uint32_t firstRecordOffset, int64_t start) {
  const uint32_t fileSize = ctx.view.Size();
  BinRecordWalker walker = FileWalker(ctx, firstRecordOffset);
  uint32_t count = 0;
  while (auto record = walker.Next()) {
    if (record->IsEnd()) {
      const int64_t elapsed = ctx.now() - start;
      ctx.progress.SetStatus(FormatStatusLine(elapsed, RecordSpeed(fileSize, elapsed)));
      ctx.link.SendDownloadEnd();
      return;
    }
    if (record->length != 0 && !SendTransfer(ctx, ctx.view.Data() + record->dataOffset, record->address,
                                             record->length, DATA_TYPE_RECORD, FailedStep::kRecord, count))
      return;
    ctx.progress.SetPosition(count);
    ++count;
    const int64_t elapsed = ctx.now() - start;
    // The estimate counts a boot area for every stream, also where none was sent.
    ctx.progress.SetStatus(
        FormatStatusLine(elapsed, RecordSpeed(record->length * count + kBootAreaSize, elapsed)));
  }
  // The stream was checked before: only a change of the file lands here.
  CountStreamProblem(ctx, FailedStep::kRecord, count, walker.Problem(), walker.Offset());
}

}  // namespace

int DownloadImgRaw(DownloadContext& ctx) {
  const uint32_t fileSize = ctx.view.Size();
  const bool raw = ctx.imageKind == kKindRaw;
  BinStreamCheck check;
  if (fileSize < kBootAreaSize) {
    CountStreamProblem(ctx, FailedStep::kImageCheck, 0, BinProblem::kShorterThanBootArea, fileSize);
    return 1;
  }
  if (!raw && !StreamFits(ctx, kImgRecordsOffset, &check)) return 1;

  ctx.progress.SetPosition(0);
  ctx.progress.SetRange(kDefaultRange);
  const int64_t start = ctx.now();
  if (!SendTransfer(ctx, ctx.view.Data(), 0, kBootAreaSize, DATA_TYPE_BOOT, FailedStep::kBootArea, 0)) return 1;
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
