// The handset link: every packet operation over one DeviceFile. Each operation tells what
// it came to as a LinkResult; none speaks to the user.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <memory>
#include <string>

#include "link/device_file.h"
#include "link/link_result.h"
#include "link/packets.h"

namespace brenvik {

// Default bound on every single read or write of the link.
inline constexpr std::chrono::milliseconds kReadTimeout{60'000};

class UsbLink {
 public:
  UsbLink() = default;
  UsbLink(const UsbLink&) = delete;
  UsbLink& operator=(const UsbLink&) = delete;
  virtual ~UsbLink();

  // Opens the first present interface of the handset's class, closing any earlier device.
  OpenResult Open();
  // Opens a device the user names instead of searching the class.
  OpenResult OpenPath(const std::string& path);
  // Takes an already open device (tests, in-memory runs).
  void Attach(std::unique_ptr<DeviceFile> device);
  void Close();
  bool IsOpen() const { return m_device != nullptr; }

  LinkResult ReadReady();
  LinkResult ReadUpgradeAck();
  LinkResult SendImageKind(int32_t kind);
  LinkResult WriteBlockHeader(const BlockHeader& header);
  // Bulk data in pieces of at most 4096 bytes; stops at the first piece that fails.
  LinkResult WriteChunked(const uint8_t* data, uint32_t length);
  LinkResult WriteData(const uint8_t* data, uint32_t length);
  LinkResult SendData(const uint8_t* data, uint32_t address, uint32_t length, uint32_t type);
  LinkResult SendTransferEnd();
  LinkResult SendDownloadEnd();
  // Waits, within the bound, until the device has taken every byte written.
  LinkResult Drain();

  uint32_t BlockSize() const { return m_blockSize; }
  // Bytes the device took since it was opened, every packet included.
  uint64_t BytesSent() const { return m_bytesSent; }
  // Bytes read from the device since it was opened: 0 means the handset never said a word.
  uint64_t BytesReceived() const { return m_bytesReceived; }
  // What the last failed send left behind; nothing shows it, the run's outcome says more.
  const std::string& ErrorText() const { return m_errorText; }
  void SetTimeout(std::chrono::milliseconds t) { m_timeout = t; }
  std::chrono::milliseconds Timeout() const { return m_timeout; }
  // A flag a signal handler sets: from then on no packet goes out and any wait ends.
  void SetStopFlag(const volatile std::sig_atomic_t* stop);
  bool StopRequested() const { return !m_inUnit && m_stop && *m_stop != 0; }

  // A record or block whose bytes have begun is sent whole, each write still bounded by the
  // timeout: a stop then leaves the handset between units, never inside one.
  // What an operation that a stop request kept from starting returns.
  LinkResult StoppedBefore(size_t wanted) const;
  class Unit {
   public:
    explicit Unit(UsbLink& link);
    ~Unit();
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;

   private:
    UsbLink& m_link;
  };

 private:
  LinkResult ReadInPacket(uint8_t expected);
  LinkResult WriteAll(const uint8_t* data, size_t size);
  LinkResult SendCommand(uint32_t command);
  LinkResult Noted(const LinkResult& r) const;

  std::string m_errorText;
  std::unique_ptr<DeviceFile> m_device;
  uint32_t m_blockSize = BLOCK_SIZE;
  uint64_t m_bytesSent = 0;
  uint64_t m_bytesReceived = 0;
  std::chrono::milliseconds m_timeout = kReadTimeout;
  const volatile std::sig_atomic_t* m_stop = nullptr;
  bool m_inUnit = false;
};

}  // namespace brenvik
