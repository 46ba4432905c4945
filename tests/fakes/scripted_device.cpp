#include "fakes/scripted_device.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace brenvik::testing {

ScriptedDevice::~ScriptedDevice() {
  EXPECT_TRUE(steps_.empty()) << steps_.size() << " scripted device steps left over";
}

ScriptedDevice& ScriptedDevice::ExpectWrite(Bytes bytes) {
  steps_.push_back({Kind::kWrite, std::move(bytes)});
  return *this;
}

ScriptedDevice& ScriptedDevice::ExpectWriteFails(size_t size, size_t accepted) {
  steps_.push_back({Kind::kWriteFail, {}, size, accepted});
  return *this;
}

ScriptedDevice& ScriptedDevice::AddRead(Bytes bytes) {
  steps_.push_back({Kind::kRead, std::move(bytes)});
  return *this;
}

ScriptedDevice& ScriptedDevice::AddReadTimeout() {
  steps_.push_back({Kind::kReadTimeout, {}});
  return *this;
}

ScriptedDevice& ScriptedDevice::AddReadError() {
  steps_.push_back({Kind::kReadError, {}});
  return *this;
}

IoResult ScriptedDevice::Read(uint8_t* data, size_t size, std::chrono::milliseconds) {
  if (steps_.empty()) {
    ADD_FAILURE() << "unexpected read of " << size << " bytes";
    return {IoStatus::kError, 0};
  }
  Step step = std::move(steps_.front());
  steps_.pop_front();
  switch (step.kind) {
    case Kind::kRead: {
      size_t n = std::min(size, step.bytes.size());
      std::memcpy(data, step.bytes.data(), n);
      return {IoStatus::kOk, n};
    }
    case Kind::kReadTimeout: return {IoStatus::kTimeout, 0};
    case Kind::kReadError: return {IoStatus::kError, 0};
    default:
      ADD_FAILURE() << "read of " << size << " bytes where a write was expected";
      return {IoStatus::kError, 0};
  }
}

IoResult ScriptedDevice::Write(const uint8_t* data, size_t size, std::chrono::milliseconds) {
  Bytes got(data, data + size);
  if (steps_.empty()) {
    ADD_FAILURE() << "unexpected write of " << size << " bytes: " << Hex(got);
    return {IoStatus::kError, 0};
  }
  Step step = std::move(steps_.front());
  steps_.pop_front();
  switch (step.kind) {
    case Kind::kWrite:
      EXPECT_TRUE(step.bytes == got) << "expected " << Hex(step.bytes) << "\n     got " << Hex(got);
      return {IoStatus::kOk, size};
    case Kind::kWriteFail:
      EXPECT_EQ(step.size, size) << "size of the write that fails";
      return {IoStatus::kError, std::min(step.accepted, size)};
    default:
      ADD_FAILURE() << "write of " << size << " bytes where a read was expected: " << Hex(got);
      return {IoStatus::kError, 0};
  }
}

Bytes Repeat(uint8_t value, size_t count) { return Bytes(count, value); }

std::string Hex(const Bytes& bytes, size_t limit) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    std::snprintf(b, sizeof b, "%02X ", bytes[i]);
    out += b;
  }
  if (bytes.size() > limit) out += "... (" + std::to_string(bytes.size()) + " bytes)";
  return out;
}

}  // namespace brenvik::testing

#include "link/packets.h"

namespace brenvik::testing {

void ExpectChunked(ScriptedDevice& dev, const uint8_t* bytes, size_t size) {
  size_t at = 0;
  while (size - at > 4096) {
    dev.ExpectWrite(Bytes(bytes + at, bytes + at + 4096));
    at += 4096;
  }
  dev.ExpectWrite(Bytes(bytes + at, bytes + size));
}

void ExpectTransfer(ScriptedDevice& dev, uint32_t type, uint32_t address, const uint8_t* data,
                    uint32_t length) {
  auto header = Encode(DataHeader{DATA_MAGIC, type, address, length});
  dev.ExpectWrite(Bytes(header.begin(), header.end()));
  ExpectChunked(dev, data, length);
  auto end = Encode(CommandPacket{COMMAND_MAGIC, CMD_TRANSFER_END, 0, 0});
  dev.ExpectWrite(Bytes(end.begin(), end.end()));
}

void ExpectDownloadEnd(ScriptedDevice& dev) {
  auto end = Encode(CommandPacket{COMMAND_MAGIC, CMD_DOWNLOAD_END, 0, 0});
  dev.ExpectWrite(Bytes(end.begin(), end.end()));
}

}  // namespace brenvik::testing
