#include "download/bin_stream.h"
#include "download/downloads.h"
#include "download/status_text.h"
#include "link/wire.h"

namespace brenvik {
namespace {

constexpr uint32_t kImgRecordsOffset = BOOT_AREA_SIZE + BIN_STREAM_HEADER_SIZE;  // 0x2000F
constexpr uint32_t kImgRangeBase = 0xD0000;
constexpr uint32_t kDefaultRange = 100;

// What one transfer puts on the link: its header, its data and the transfer-end command.
constexpr uint64_t TransferBytes(uint64_t length) { return DATA_HEADER_SIZE + length + COMMAND_PACKET_SIZE; }

// The bytes of a run: counted as they go, their total known before the first transfer.
struct ByteCount {
  uint64_t sent = 0, total = 0;
};

// One data transfer: header and data, then the transfer-end command.
Outcome SendTransfer(DownloadContext& ctx, const uint8_t* data, uint32_t address, uint32_t length,
                     uint32_t type, Step step, uint32_t index) {
  if (Outcome o = ImageCheck(ctx, step, index); !o.Ok()) return o;
  if (ctx.link.StopRequested()) return LinkFailure(ctx, step, index, ctx.link.StoppedBefore(DATA_HEADER_SIZE));
  LinkResult r;
  {
    UsbLink::Unit whole(ctx.link);
    r = ctx.link.SendData(data, address, length, type);
    if (r) r = ctx.link.SendTransferEnd();
  }
  if (!r) return LinkFailure(ctx, step, index, r);
  ctx.view.DoneBefore(uint64_t(data - ctx.view.Data()) + length);
  return Outcome::Success();
}

// Record headers are read from the file, not the mapping: a file cut short under the run
// ends the walk with a problem instead of a signal. The data goes out from the mapping,
// where the device's write reports a missing page as an error.
BinRecordWalker FileWalker(const DownloadContext& ctx, uint32_t firstRecordOffset) {
  const ImageView& view = ctx.view;
  return BinRecordWalker([&view](uint64_t at, uint8_t* out, size_t n) { return view.ReadAt(at, out, n); },
                         view.Size(), firstRecordOffset);
}

Outcome StreamProblem(const DownloadContext& ctx, Step step, uint32_t index, BinProblem problem, size_t at) {
  if (problem == BinProblem::kUnreadable) return Outcome{step, index, Cause::kImageChanged, {}, {}};
  if (Outcome changed = ImageCheck(ctx, step, index); !changed.Ok()) return changed;
  return Outcome{step, index, Cause::kMalformed, {}, "at offset " + HexText(at) + ": " + DescribeBinProblem(problem)};
}

// A malformed stream is a failed run before anything is sent: no half-written image.
Outcome StreamFits(const DownloadContext& ctx, uint32_t firstRecordOffset, BinStreamCheck* check) {
  *check = CheckBinStream(FileWalker(ctx, firstRecordOffset));
  if (check->Ok()) return Outcome::Success();
  return StreamProblem(ctx, Step::kImageCheck, 0, check->problem, check->problemOffset);
}

uint32_t RangeFor(uint32_t span, const BinStreamCheck& check) {
  const uint32_t firstLength = check.first ? check.first->length : 0;
  return firstLength ? span / firstLength : kDefaultRange;
}

Outcome WalkRecords(DownloadContext& ctx, uint32_t firstRecordOffset, int64_t start, ByteCount bytes) {
  const uint32_t fileSize = ctx.view.Size();
  BinRecordWalker walker = FileWalker(ctx, firstRecordOffset);
  uint32_t count = 0;
  while (auto record = walker.Next()) {
    if (record->IsEnd()) {
      const int64_t elapsed = ctx.now() - start;
      ctx.progress.SetStatus(FormatStatusLine(elapsed, RecordSpeed(fileSize, elapsed)));
      ctx.link.SendDownloadEnd();  // not judged: every record is over
      return Outcome::Success();
    }
    if (record->length != 0) {
      Outcome o = SendTransfer(ctx, ctx.view.Data() + record->dataOffset, record->address, record->length,
                               DATA_TYPE_RECORD, Step::kRecord, count);
      if (!o.Ok()) return o;
      bytes.sent += TransferBytes(record->length);
    }
    ctx.progress.SetBytes(bytes.sent, bytes.total);
    ctx.progress.SetPosition(count);
    ++count;
    const int64_t elapsed = ctx.now() - start;
    // The estimate counts a boot area for every stream, also where none was sent.
    ctx.progress.SetStatus(
        FormatStatusLine(elapsed, RecordSpeed(record->length * count + BOOT_AREA_SIZE, elapsed)));
  }
  // The stream was checked before: only a change of the file lands here.
  return StreamProblem(ctx, Step::kRecord, count, walker.Problem(), walker.Offset());
}

}  // namespace

Outcome DownloadImgRaw(DownloadContext& ctx) {
  const uint32_t fileSize = ctx.view.Size();
  const bool raw = ctx.imageKind == KIND_RAW;
  BinStreamCheck check;
  if (fileSize < BOOT_AREA_SIZE) return StreamProblem(ctx, Step::kImageCheck, 0, BinProblem::kShorterThanBootArea, fileSize);
  if (!raw) {
    if (Outcome o = StreamFits(ctx, kImgRecordsOffset, &check); !o.Ok()) return o;
  }

  ctx.progress.SetPosition(0);
  ctx.progress.SetRange(kDefaultRange);
  ByteCount bytes{0, TransferBytes(BOOT_AREA_SIZE) +
                         (raw ? 0 : check.dataRecords * TransferBytes(0) + check.dataBytes)};
  ctx.progress.SetBytes(0, bytes.total);
  const int64_t start = ctx.now();
  if (Outcome o = SendTransfer(ctx, ctx.view.Data(), 0, BOOT_AREA_SIZE, DATA_TYPE_BOOT, Step::kBootArea, 0); !o.Ok())
    return o;
  bytes.sent = TransferBytes(BOOT_AREA_SIZE);
  ctx.progress.SetBytes(bytes.sent, bytes.total);
  ctx.progress.SetPosition(kDefaultRange);

  if (raw) {
    const int64_t elapsed = ctx.now() - start;
    ctx.progress.SetStatus(FormatStatusLine(elapsed, RecordSpeed(BOOT_AREA_SIZE, elapsed)));
    ctx.link.SendDownloadEnd();  // not judged: the boot area is over
    return Outcome::Success();
  }
  ctx.progress.SetPosition(0);
  // A file smaller than the range base would wrap to a range the bar never moves in; the
  // record count is the true range then.
  ctx.progress.SetRange(fileSize >= kImgRangeBase ? RangeFor(fileSize - kImgRangeBase, check)
                                                  : check.records);
  return WalkRecords(ctx, kImgRecordsOffset, start, bytes);
}

Outcome DownloadOut(DownloadContext& ctx) {
  BinStreamCheck check;
  if (Outcome o = StreamFits(ctx, BIN_STREAM_HEADER_SIZE, &check); !o.Ok()) return o;
  ctx.progress.SetPosition(0);
  ctx.progress.SetRange(kDefaultRange);
  const ByteCount bytes{0, check.dataRecords * TransferBytes(0) + check.dataBytes};
  ctx.progress.SetBytes(0, bytes.total);
  const int64_t start = ctx.now();
  ctx.progress.SetPosition(0);
  ctx.progress.SetRange(RangeFor(ctx.view.Size(), check));
  return WalkRecords(ctx, BIN_STREAM_HEADER_SIZE, start, bytes);
}

}  // namespace brenvik
