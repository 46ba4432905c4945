#include "link/usb_link.h"

#include <cstdio>

#include "link/device_discovery.h"
#include "link/wire.h"

namespace brenvik {

std::string DescribeLinkFault(const LinkFault& f) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%g", double(f.bound.count()) / 1000.0);
  if (f.wrongPacket) return "the wrong bytes came: " + HexBytes(f.received.data(), f.received.size());
  const std::string of =
      f.wanted ? " (" + std::to_string(f.moved) + " of " + std::to_string(f.wanted) + " bytes)" : std::string();
  switch (f.status) {
    case IoStatus::kTimeout: return "timed out after " + std::string(seconds) + " s" + of;
    case IoStatus::kHangUp: return "the link hung up" + of;
    case IoStatus::kStopped: return "stopped by a signal" + of;
    case IoStatus::kError:
      return "device error: " + (f.systemError ? SystemErrorText(f.systemError) : std::string("unknown")) + of;
    case IoStatus::kOk:
      return f.moved < f.wanted ? "the device took only part of it" + of : "no failure";
  }
  return "unknown";
}

UsbLink::~UsbLink() = default;

void UsbLink::Close() {
  if (device_) device_->Close();
  device_.reset();
}

void UsbLink::Attach(std::unique_ptr<DeviceFile> device) {
  Close();
  device_ = std::move(device);
  if (device_) device_->SetStopFlag(m_stop);
  m_blockSize = kBlockSize;
}

void UsbLink::SetStopFlag(const volatile std::sig_atomic_t* stop) {
  m_stop = stop;
  if (device_) device_->SetStopFlag(stop);
}

void UsbLink::NoteFault(const IoResult& r, size_t wanted) {
  m_fault = LinkFault{r.status, r.count, wanted, r.systemError, m_timeout, {}, false};
}

int UsbLink::Open(MessageSink& messages) {
  Close();
  DiscoveryResult found = FindHandsetInterfaces();
  if (found.classQueryFailed) messages.ShowMessage(text::kOpenUsbDeviceFailed, MessageCaption::kProgram);
  if (found.paths.empty()) {
    m_openError = ClassSearchAvailable() ? text::kCheckUsbCable
                                         : "no device class search on this system; name the device path";
    messages.ShowMessage(text::kCheckUsbCable, MessageCaption::kProgram);
    return 0;
  }
  // Only the first interface is tried; further handsets are ignored. An unreadable or
  // unopenable path fails without a message.
  if (found.paths.front().empty()) {
    m_openError = "the handset's interface path could not be read";
    return 0;
  }
  return OpenPath(found.paths.front());
}

int UsbLink::OpenPath(const std::string& path) {
  Close();
  m_openError.clear();
  device_ = OpenDevicePath(path, m_openError);
  if (!device_) return 0;
  device_->SetStopFlag(m_stop);
  m_blockSize = kBlockSize;
  return 1;
}

int UsbLink::ReadInPacket(uint8_t expected) {
  InPacket buf{};
  if (!device_) return 0;
  if (StopRequested()) {
    NoteFault({IoStatus::kStopped, 0, 0}, buf.size());
    return 0;
  }
  IoResult r = device_->Read(buf.data(), buf.size(), m_timeout);
  // A short, failed or timed-out read is simply not the packet.
  if (IsInPacket(buf.data(), r.status == IoStatus::kOk ? r.count : 0, expected)) return 1;
  // A read that ended early because the peer closed is a hang-up.
  if (r.status == IoStatus::kOk && r.count < buf.size()) r.status = IoStatus::kHangUp;
  NoteFault(r, buf.size());
  if (r.status == IoStatus::kOk) {
    m_fault.wrongPacket = true;
    m_fault.received = buf;
  }
  return 0;
}

int UsbLink::ReadReady() { return ReadInPacket(kReadyByte); }
int UsbLink::ReadUpgradeAck() { return ReadInPacket(kUpgradeAckByte); }

bool UsbLink::WriteAll(const uint8_t* data, size_t size) {
  if (!device_) return false;
  // Packets are whole or not sent: a stop request takes effect between them.
  if (StopRequested()) {
    NoteFault({IoStatus::kStopped, 0, 0}, size);
    return false;
  }
  const IoResult r = device_->Write(data, size, m_timeout);
  // A short write is a failed write: the handset did not get the whole packet.
  if (r.Complete(size)) return true;
  NoteFault(r, size);
  return false;
}

int UsbLink::Drain() {
  if (!device_) return 0;
  const IoResult r = device_->Drain(m_timeout);
  if (r.status == IoStatus::kOk) return 1;
  NoteFault(r, 0);
  return 0;
}

int UsbLink::SendImageKind(int32_t kind) {
  auto bytes = Encode(KindPacket{KIND_MAGIC, kind});
  return WriteAll(bytes.data(), bytes.size()) ? 1 : 0;
}

int UsbLink::WriteBlockHeader(const BlockHeader& header) {
  auto bytes = Encode(header);
  return WriteAll(bytes.data(), bytes.size()) ? 1 : 0;
}

uint32_t UsbLink::WriteChunked(const uint8_t* data, uint32_t length) {
  while (length > kMaxWritePiece) {
    if (!WriteAll(data, kMaxWritePiece)) return LINK_WRITE_FAILED;
    data += kMaxWritePiece;
    length -= uint32_t(kMaxWritePiece);
  }
  // The rest goes in one call, also when it is empty.
  return WriteAll(data, length) ? LINK_WRITE_OK : LINK_WRITE_FAILED;
}

int UsbLink::WriteData(const uint8_t* data, uint32_t length) {
  return WriteChunked(data, length) == LINK_WRITE_OK ? 1 : 0;
}

int UsbLink::SendData(const uint8_t* data, uint32_t address, uint32_t length, uint32_t type) {
  auto header = Encode(DataHeader{DATA_MAGIC, type, address, length});
  if (WriteChunked(header.data(), uint32_t(header.size())) == LINK_WRITE_OK &&
      WriteChunked(data, length) == LINK_WRITE_OK)
    return 1;
  m_errorText = text::kWriteFailed;
  return 0;
}

int UsbLink::SendCommand(uint32_t command) {
  auto bytes = Encode(CommandPacket{COMMAND_MAGIC, command, 0, 0});
  if (WriteChunked(bytes.data(), uint32_t(bytes.size())) == LINK_WRITE_OK) return 1;
  m_errorText = text::kWriteFailed;
  return 0;
}

int UsbLink::SendTransferEnd() { return SendCommand(CMD_TRANSFER_END); }
int UsbLink::SendDownloadEnd() { return SendCommand(CMD_DOWNLOAD_END); }

}  // namespace brenvik
