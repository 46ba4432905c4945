// The handset link: every packet operation over one DeviceFile.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <memory>
#include <string>

#include "link/device_file.h"
#include "link/messages.h"
#include "link/packets.h"

namespace brenvik {

// Default bound on every single read or write of the link.
inline constexpr std::chrono::milliseconds kReadTimeout{60'000};

// Why the last failed operation of the link failed, as the device told it.
struct LinkFault {
  IoStatus status = IoStatus::kOk;
  size_t moved = 0;     // bytes that went over before it failed
  size_t wanted = 0;    // bytes the operation was to move
  int systemError = 0;  // the system's error code, where it gave one
  std::chrono::milliseconds bound{0};
  InPacket received{};  // for a wrong in-packet: what came instead
  bool wrongPacket = false;
};

// The fault in words: "timed out after 60 s", "the link hung up", "write error: ...".
std::string DescribeLinkFault(const LinkFault& fault);

class UsbLink {
 public:
  UsbLink() = default;
  UsbLink(const UsbLink&) = delete;
  UsbLink& operator=(const UsbLink&) = delete;
  virtual ~UsbLink();

  // Opens the first present interface of the handset's class, closing any earlier device.
  // Returns 1 when open, else 0 after the messages the user must see.
  int Open(MessageSink& messages);
  // Opens a device the user names instead of searching the class. 1 or 0; the reason is
  // in LastOpenError().
  int OpenPath(const std::string& path);
  // Takes an already open device (tests, in-memory runs).
  void Attach(std::unique_ptr<DeviceFile> device);
  void Close();
  bool IsOpen() const { return device_ != nullptr; }

  int ReadReady();
  int ReadUpgradeAck();
  int SendImageKind(int32_t kind);
  int WriteBlockHeader(const BlockHeader& header);
  uint32_t WriteChunked(const uint8_t* data, uint32_t length);
  int WriteData(const uint8_t* data, uint32_t length);
  int SendData(const uint8_t* data, uint32_t address, uint32_t length, uint32_t type);
  int SendTransferEnd();
  int SendDownloadEnd();
  // Waits, within the bound, until the device has taken every byte written. 1 or 0.
  int Drain();

  uint32_t BlockSize() const { return m_blockSize; }
  const std::string& ErrorText() const { return m_errorText; }
  const std::string& LastOpenError() const { return m_openError; }
  const LinkFault& LastFault() const { return m_fault; }
  // A flag a signal handler sets: from then on no packet goes out and any wait ends.
  void SetStopFlag(const volatile std::sig_atomic_t* stop);
  bool StopRequested() const { return m_stop && *m_stop != 0; }
  void SetTimeout(std::chrono::milliseconds t) { m_timeout = t; }
  std::chrono::milliseconds Timeout() const { return m_timeout; }

 private:
  int ReadInPacket(uint8_t expected);
  bool WriteAll(const uint8_t* data, size_t size);
  int SendCommand(uint32_t command);
  void NoteFault(const IoResult& r, size_t wanted);

  std::string m_errorText;
  std::string m_openError;
  std::unique_ptr<DeviceFile> device_;
  uint32_t m_blockSize = kBlockSize;
  std::chrono::milliseconds m_timeout = kReadTimeout;
  LinkFault m_fault;
  const volatile std::sig_atomic_t* m_stop = nullptr;
};

}  // namespace brenvik
