#include "link/usb_link.h"

#include "link/device_discovery.h"

namespace brenvik {

UsbLink::~UsbLink() = default;

void UsbLink::Close() {
  if (device_) device_->Close();
  device_.reset();
}

void UsbLink::Attach(std::unique_ptr<DeviceFile> device) {
  Close();
  device_ = std::move(device);
  m_blockSize = kBlockSize;
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
  m_blockSize = kBlockSize;
  return 1;
}

int UsbLink::ReadInPacket(uint8_t expected) {
  InPacket buf{};
  if (!device_) return 0;
  IoResult r = device_->Read(buf.data(), buf.size(), m_timeout);
  // A short, failed or timed-out read is simply not the packet.
  return IsInPacket(buf.data(), r.status == IoStatus::kOk ? r.count : 0, expected) ? 1 : 0;
}

int UsbLink::ReadReady() { return ReadInPacket(kReadyByte); }
int UsbLink::ReadUpgradeAck() { return ReadInPacket(kUpgradeAckByte); }

bool UsbLink::WriteAll(const uint8_t* data, size_t size) {
  // A short write is a failed write: the handset did not get the whole packet.
  return device_ && device_->Write(data, size, m_timeout).Complete(size);
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
