#include "run/download_run.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "run/classify.h"

namespace brenvik {

namespace {
// How long the repeated end command may wait after a failed run.
constexpr std::chrono::milliseconds kEndAfterFailure{1000};
}  // namespace

DownloadRun::DownloadRun(MessageSink& messages, ProgressReporter& progress, SecondsClock clock)
    : m_messages(messages), m_progress(progress), m_clock(std::move(clock)) {}

bool DownloadRun::OpenDevice(const FlashOptions& options) {
  if (options.deviceFactory) {
    m_link.Attach(options.deviceFactory());
    m_opening = OpenResult{};
    return m_link.IsOpen();
  }
  m_opening = options.devicePath ? m_link.OpenPath(*options.devicePath) : m_link.Open();
  if (m_opening.Ok()) return true;
  // The class search tells what the user must see; a device named by path that cannot be
  // used is the same missing cable to the dialog.
  if (m_opening.status == OpenStatus::kClassQueryFailed)
    m_messages.ShowMessage(text::kOpenUsbDeviceFailed, MessageCaption::kProgram);
  const bool searched = !options.devicePath;
  const bool told = m_opening.status == OpenStatus::kClassQueryFailed || m_opening.status == OpenStatus::kNoHandset ||
                    m_opening.status == OpenStatus::kNoClassSearch;
  if (!searched || told) m_messages.ShowMessage(text::kCheckUsbCable, MessageCaption::kProgram);
  return false;
}

PrepareResult DownloadRun::Prepare(const std::string& imagePath, const FlashOptions& options) {
  // Every run is judged on its own: an earlier failure must not fail this one.
  m_outcome = Outcome::Success();
  m_ackReceived = false;
  m_opening = OpenResult{};
  const uint32_t size = MapInto(imagePath);
  // No view, no run: no procedure may read a mapping that does not exist.
  if (m_mapping.refusal == ImageRefusal::kUnreadable) {
    m_messages.ShowMessage(text::kImageNotFound, MessageCaption::kPost);
    return PrepareResult::kImageUnreadable;
  }
  if (!m_mapping.Opened()) return PrepareResult::kImageRefused;
  if (size == 0 || !m_view.Mapped()) return PrepareResult::kImageEmpty;

  // The kind the run flashes as, known before the handset is opened: the image's own with
  // auto upgrade, plain blocks without.
  const Classification c = ClassifyImage(m_imagePath, m_entry.size);
  m_imageKind = options.autoUpgrade ? c.kind : KIND_DIO;

  m_link.SetStopFlag(options.stop);
  m_link.SetTimeout(options.timeout);  // it bounds the handset's wake-up too
  if (!OpenDevice(options)) return PrepareResult::kNoDevice;

  if (!options.autoUpgrade) return PrepareResult::kReady;
  m_ackReceived = bool(m_link.ReadUpgradeAck());
  // A wait that a stop request ended is no missing acknowledgement: the run ends at its
  // first packet instead.
  if (!m_ackReceived && !m_link.StopRequested()) m_messages.ShowMessage(text::kUpgradeError, MessageCaption::kError);
  m_link.SendImageKind(m_imageKind);  // also for kind 9: the handset is told
  if (m_imageKind == KIND_NOT_CORRECT) {
    m_outcome = Outcome{Step::kImageCheck, 0, Cause::kNotCorrect, {}, c.reason};
    m_messages.ShowMessage(text::kNotCorrectFile, MessageCaption::kError);
  }
  return PrepareResult::kReady;
}

uint32_t DownloadRun::MapImage(const std::string& imagePath) {
  const uint32_t size = MapInto(imagePath);
  if (m_mapping.refusal == ImageRefusal::kUnreadable) m_messages.ShowMessage(text::kImageNotFound, MessageCaption::kPost);
  return size;
}

uint32_t DownloadRun::MapInto(const std::string& imagePath) {
  m_imagePath = imagePath;
  m_mapping = MapImageFile(m_view, m_imagePath);
  m_entry = ImageEntry{0, m_mapping.size, m_mapping.sectorCount};
  return m_mapping.size;
}

Outcome DownloadRun::RunProcedure() {
  DownloadContext ctx{m_link, m_view, m_entry, m_progress, m_imageKind, m_clock};
  Outcome o;
  switch (ProcedureFor(m_imageKind)) {
    case Procedure::kBootAndRecords: o = DownloadImgRaw(ctx); break;
    case Procedure::kRecords: o = DownloadOut(ctx); break;
    case Procedure::kBlocks: o = DownloadBlocks(ctx); break;
  }
  if (!o.Ok()) return o;
  // What went out must be what the file holds now, and it must have reached the handset:
  // bytes that are only queued are not yet flashed.
  if (o = ImageCheck(ctx, Step::kImageCheck, 0); !o.Ok()) return o;
  if (const LinkResult r = m_link.Drain(); !r) return LinkFailure(ctx, Step::kEnd, 0, r);
  // A stop request that came with the last record leaves the end commands unsent.
  if (ProcedureFor(m_imageKind) != Procedure::kBlocks && m_link.StopRequested())
    return Outcome{Step::kEnd, 0, Cause::kStopped, LinkResult{IoStatus::kStopped, 0, 0, 0, {}, {}}, {}};
  return Outcome::Success();
}

Outcome DownloadRun::Download() {
  // An image of kind 9 is sent all the same, and the run fails whatever the transfer did.
  const Outcome before = m_outcome;
  try {
    const Outcome o = RunProcedure();
    m_outcome = o.Ok() ? before : o;
  } catch (const std::exception& e) {
    m_outcome = Outcome{Step::kNone, 0, Cause::kInternal, {}, e.what()};
  } catch (...) {
    m_outcome = Outcome{Step::kNone, 0, Cause::kInternal, {}, "unknown"};
  }
  return m_outcome;
}

void DownloadRun::Finish() {
  // A run stopped by the user sends nothing more.
  if (m_link.StopRequested()) return;
  if (ProcedureFor(m_imageKind) == Procedure::kBlocks) return;
  // After a failure the handset may take nothing more: its verdict is told already, and the
  // program must not wait a whole timeout again for the repeated end command.
  if (!m_outcome.Ok()) m_link.SetTimeout(std::min(m_link.Timeout(), kEndAfterFailure));
  m_link.SendDownloadEnd();
}

Outcome DownloadRun::RunToEnd() {
  const Outcome o = Download();
  m_messages.ShowMessage(FinalText(o.Ok()), MessageCaption::kProgram);
  Finish();
  return o;
}

}  // namespace brenvik
