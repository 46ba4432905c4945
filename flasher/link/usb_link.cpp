#include "link/usb_link.h"

#include "link/device_discovery.h"

namespace brenvik {
namespace {

// Kept where the send operations leave their failure; no part of the system shows it.
constexpr const char* kWriteFailedText = "Error: couldn't write USB data";

LinkResult Stopped(size_t wanted) { return LinkResult{IoStatus::kStopped, 0, wanted, 0, {}, {}}; }

}  // namespace

UsbLink::~UsbLink() = default;

void UsbLink::Close() {
  if (m_device) m_device->Close();
  m_device.reset();
}

void UsbLink::Attach(std::unique_ptr<DeviceFile> device) {
  Close();
  m_device = std::move(device);
  m_bytesSent = 0;
  m_bytesReceived = 0;
  if (m_device) m_device->SetStopFlag(m_stop);
  m_blockSize = BLOCK_SIZE;
}

void UsbLink::SetStopFlag(const volatile std::sig_atomic_t* stop) {
  m_stop = stop;
  if (m_device && !m_inUnit) m_device->SetStopFlag(stop);
}

LinkResult UsbLink::StoppedBefore(size_t wanted) const { return Noted(Stopped(wanted)); }

UsbLink::Unit::Unit(UsbLink& link) : m_link(link) {
  m_link.m_inUnit = true;
  if (m_link.m_device) m_link.m_device->SetStopFlag(nullptr);
}

UsbLink::Unit::~Unit() {
  m_link.m_inUnit = false;
  if (m_link.m_device) m_link.m_device->SetStopFlag(m_link.m_stop);
}

OpenResult UsbLink::Open() {
  Close();
  DiscoveryResult found = FindHandsets();
  if (found.classQueryFailed) return OpenResult{OpenStatus::kClassQueryFailed, {}, NodeKind::kUnknown, 0, {}};
  if (found.handsets.empty())
    return OpenResult{ClassSearchAvailable() ? OpenStatus::kNoHandset : OpenStatus::kNoClassSearch, {},
                      NodeKind::kUnknown, 0, {}};
  // Only the first interface is tried; further handsets are ignored.
  const std::string& path = found.handsets.front().path;
  if (path.empty()) return OpenResult{OpenStatus::kPathUnreadable, {}, NodeKind::kUnknown, 0, {}};
  return OpenPath(path);
}

OpenResult UsbLink::OpenPath(const std::string& path) {
  Close();
  DeviceOpening opening = OpenDevicePath(path, OpenBounds{m_timeout, m_stop});
  if (!opening.result.Ok()) return opening.result;
  m_device = std::move(opening.device);
  m_bytesSent = 0;
  m_bytesReceived = 0;
  m_device->SetStopFlag(m_stop);
  m_blockSize = BLOCK_SIZE;
  return opening.result;
}

LinkResult UsbLink::Noted(const LinkResult& r) const {
  LinkResult out = r;
  out.bound = m_timeout;
  return out;
}

LinkResult UsbLink::ReadInPacket(uint8_t expected) {
  InPacket buf{};
  if (!m_device) return Noted({IoStatus::kError, 0, buf.size(), 0, {}, {}});
  if (StopRequested()) return Noted(Stopped(buf.size()));
  const IoResult io = m_device->Read(buf.data(), buf.size(), m_timeout);
  m_bytesReceived += io.count;
  LinkResult r = Noted({io.status, io.count, buf.size(), io.systemError, {}, {}});
  if (io.status != IoStatus::kOk) return r;
  // A read that ended early because the peer closed is a hang-up.
  if (io.count < buf.size()) {
    r.status = IoStatus::kHangUp;
    return r;
  }
  if (!IsInPacket(buf.data(), io.count, expected)) r.wrongPacket = buf;
  return r;
}

LinkResult UsbLink::ReadReady() { return ReadInPacket(READY_BYTE); }
LinkResult UsbLink::ReadUpgradeAck() { return ReadInPacket(UPGRADE_ACK_BYTE); }

LinkResult UsbLink::WriteAll(const uint8_t* data, size_t size) {
  if (!m_device) return Noted({IoStatus::kError, 0, size, 0, {}, {}});
  // Packets are whole or not sent: a stop request takes effect between them.
  if (StopRequested()) return Noted(Stopped(size));
  const IoResult io = m_device->Write(data, size, m_timeout);
  m_bytesSent += io.count;
  // A short write is a failed write: the handset did not get the whole packet.
  return Noted({io.status, io.count, size, io.systemError, {}, {}});
}

LinkResult UsbLink::SendImageKind(int32_t kind) {
  auto bytes = Encode(KindPacket{KIND_MAGIC, kind});
  return WriteAll(bytes.data(), bytes.size());
}

LinkResult UsbLink::WriteBlockHeader(const BlockHeader& header) {
  auto bytes = Encode(header);
  return WriteAll(bytes.data(), bytes.size());
}

LinkResult UsbLink::WriteChunked(const uint8_t* data, uint32_t length) {
  const size_t total = length;
  size_t moved = 0;
  auto whole = [&](LinkResult r) {
    r.moved += moved;
    r.wanted = total;
    return r;
  };
  while (length > MAX_WRITE_PIECE) {
    const LinkResult r = WriteAll(data, MAX_WRITE_PIECE);
    if (!r) return whole(r);
    moved += MAX_WRITE_PIECE;
    data += MAX_WRITE_PIECE;
    length -= uint32_t(MAX_WRITE_PIECE);
  }
  // The rest goes in one call, also when it is empty.
  return whole(WriteAll(data, length));
}

LinkResult UsbLink::WriteData(const uint8_t* data, uint32_t length) { return WriteChunked(data, length); }

LinkResult UsbLink::SendData(const uint8_t* data, uint32_t address, uint32_t length, uint32_t type) {
  auto header = Encode(DataHeader{DATA_MAGIC, type, address, length});
  LinkResult r = WriteChunked(header.data(), uint32_t(header.size()));
  if (r) r = WriteChunked(data, length);
  if (!r) m_errorText = kWriteFailedText;
  return r;
}

LinkResult UsbLink::SendCommand(uint32_t command) {
  auto bytes = Encode(CommandPacket{COMMAND_MAGIC, command, 0, 0});
  LinkResult r = WriteChunked(bytes.data(), uint32_t(bytes.size()));
  if (!r) m_errorText = kWriteFailedText;
  return r;
}

LinkResult UsbLink::SendTransferEnd() { return SendCommand(CMD_TRANSFER_END); }
LinkResult UsbLink::SendDownloadEnd() { return SendCommand(CMD_DOWNLOAD_END); }

LinkResult UsbLink::Drain() {
  if (!m_device) return Noted({IoStatus::kError, 0, 0, 0, {}, {}});
  const IoResult io = m_device->Drain(m_timeout);
  return Noted({io.status, 0, 0, io.systemError, {}, {}});
}

}  // namespace brenvik
