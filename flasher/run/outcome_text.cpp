#include "run/outcome_text.h"

#include <cstdio>

#include "link/wire.h"

namespace brenvik {
namespace {

std::string Seconds(std::chrono::milliseconds d) {
  char b[32];
  std::snprintf(b, sizeof b, "%g s", double(d.count()) / 1000.0);
  return b;
}

const char* KindText(NodeKind kind) {
  switch (kind) {
    case NodeKind::kRegularFile: return "a regular file";
    case NodeKind::kDirectory: return "a directory";
    case NodeKind::kBlockDevice: return "a block device (a disk)";
    case NodeKind::kFifo: return "a FIFO (named pipe)";
    case NodeKind::kSocket: return "a socket";
    case NodeKind::kCharacterDevice: return "a character device that is not a terminal";
    case NodeKind::kPipe: return "a pipe";
    case NodeKind::kDiskOrFile: return "a file or a disk";
    case NodeKind::kUnknown: break;
  }
  return "not a device";
}

}  // namespace

std::string DescribeLink(const LinkResult& f) {
  if (f.wrongPacket) return "the wrong bytes came: " + HexBytes(f.wrongPacket->data(), f.wrongPacket->size());
  const std::string of =
      f.wanted ? " (" + std::to_string(f.moved) + " of " + std::to_string(f.wanted) + " bytes)" : std::string();
  switch (f.status) {
    case IoStatus::kTimeout: return "timed out after " + Seconds(f.bound) + of;
    case IoStatus::kHangUp: return "the link hung up" + of;
    case IoStatus::kStopped: return "stopped by a signal" + of;
    case IoStatus::kError:
      return "device error: " + (f.systemError ? SystemErrorText(f.systemError) : std::string("unknown")) + of;
    case IoStatus::kOk: break;
  }
  return f.moved < f.wanted ? "the device took only part of it" + of : "no failure";
}

std::string DescribeStep(Step step, uint32_t index) {
  const std::string n = std::to_string(index);
  switch (step) {
    case Step::kNone: return "the run";
    case Step::kAck: return "the upgrade acknowledgement";
    case Step::kReady: return "block " + n + "'s ready packet";
    case Step::kBlockData: return "block " + n + "'s data";
    case Step::kBootArea: return "the boot area";
    case Step::kRecord: return "record " + n;
    case Step::kEnd: return "the end of the download";
    case Step::kImageCheck: return "the image check";
  }
  return "an unknown step";
}

std::string DescribeOutcome(const Outcome& o) {
  std::string what;
  switch (o.cause) {
    case Cause::kNone: return "";
    case Cause::kImageChanged: what = "the image file changed during the flash"; break;
    case Cause::kMalformed: what = "the record stream is malformed " + o.detail; break;
    case Cause::kNotCorrect: what = "not a correct file: " + o.detail; break;
    case Cause::kInternal: what = "an error of the program: " + o.detail; break;
    default: what = DescribeLink(o.link); break;
  }
  return DescribeStep(o.step, o.index) + ": " + what;
}

std::string DescribeOpen(const OpenResult& r) {
  switch (r.status) {
    case OpenStatus::kOpened: return "";
    case OpenStatus::kCannotOpen:
      return "cannot open " + r.path + (r.usbNode.empty() ? "" : " (its USB device " + r.usbNode + ")") + ": " +
             SystemErrorText(r.systemError);
    case OpenStatus::kNotHandset:
      return r.path + " is " + KindText(r.kind) +
             ", not a handset (a serial port or a pty): nothing was written to it";
    case OpenStatus::kBusy: return r.path + " is busy: another program is flashing this handset";
    case OpenStatus::kClassQueryFailed: return "the handset's interface class could not be queried";
    case OpenStatus::kNoHandset: return "Check Your Usb cable  ";
    case OpenStatus::kNoClassSearch: return "no device class search on this system; name the device path";
    case OpenStatus::kPathUnreadable: return "the handset's interface path could not be read";
    case OpenStatus::kStopped: return "stopped while " + r.path + " was being opened: nothing was written to it";
  }
  return "the handset could not be opened";
}

std::string DescribeMapping(const MapResult& m, const std::string& path) {
  switch (m.refusal) {
    case ImageRefusal::kNone:
      if (m.size != 0) return "";
      if (m.fileSize == 0) return "the image " + path + " is empty: nothing to flash";
      return "cannot map the image " + path + " into memory: " + SystemErrorText(m.systemError);
    case ImageRefusal::kUnreadable: return "cannot open the image " + path + ": " + SystemErrorText(m.systemError);
    case ImageRefusal::kNotRegular:
      return "the image " + path + " is " +
             (m.kind == NodeKind::kUnknown ? std::string("a folder, a pipe or a device") : KindText(m.kind)) +
             ", not a file";
    case ImageRefusal::kTooLarge:
      return "the image " + path + " is " + std::to_string(m.fileSize) +
             " bytes: images of 4 GiB or more cannot be flashed";
  }
  return "";
}

const char* StepName(Step step) {
  switch (step) {
    case Step::kNone: return "none";
    case Step::kAck: return "ack";
    case Step::kReady: return "ready";
    case Step::kBlockData: return "block_data";
    case Step::kBootArea: return "boot_area";
    case Step::kRecord: return "record";
    case Step::kEnd: return "end";
    case Step::kImageCheck: return "image_check";
  }
  return "unknown";
}

const char* CauseName(Cause cause) {
  switch (cause) {
    case Cause::kNone: return "none";
    case Cause::kTimeout: return "timeout";
    case Cause::kHangUp: return "hang_up";
    case Cause::kDeviceError: return "device_error";
    case Cause::kShortTransfer: return "short_transfer";
    case Cause::kWrongPacket: return "wrong_packet";
    case Cause::kStopped: return "stopped";
    case Cause::kImageChanged: return "image_changed";
    case Cause::kMalformed: return "malformed";
    case Cause::kNotCorrect: return "not_correct";
    case Cause::kInternal: return "internal";
  }
  return "unknown";
}

}  // namespace brenvik
