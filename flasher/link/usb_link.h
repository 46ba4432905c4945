// The handset link: every packet operation over one DeviceFile.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "link/device_file.h"
#include "link/messages.h"
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

  uint32_t BlockSize() const { return m_blockSize; }
  const std::string& ErrorText() const { return m_errorText; }
  const std::string& LastOpenError() const { return m_openError; }
  void SetTimeout(std::chrono::milliseconds t) { m_timeout = t; }
  std::chrono::milliseconds Timeout() const { return m_timeout; }

 private:
  int ReadInPacket(uint8_t expected);
  bool WriteAll(const uint8_t* data, size_t size);
  int SendCommand(uint32_t command);

  std::string m_errorText;
  std::string m_openError;
  std::unique_ptr<DeviceFile> device_;
  uint32_t m_blockSize = kBlockSize;
  std::chrono::milliseconds m_timeout = kReadTimeout;
};

}  // namespace brenvik
