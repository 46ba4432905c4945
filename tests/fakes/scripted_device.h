// A DeviceFile that plays a script: every write must be expected, every read is scripted.
// A call out of order, or an expectation left over at the end, fails the test.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "link/device_file.h"

namespace brenvik::testing {

using Bytes = std::vector<uint8_t>;

class ScriptedDevice : public DeviceFile {
 public:
  ~ScriptedDevice() override;

  ScriptedDevice& ExpectWrite(Bytes bytes);
  ScriptedDevice& ExpectWriteFails(size_t size, size_t accepted = 0);  // error after `accepted`
  ScriptedDevice& AddRead(Bytes bytes);
  ScriptedDevice& AddReadTimeout();
  ScriptedDevice& AddReadError();

  IoResult Read(uint8_t* data, size_t size, std::chrono::milliseconds timeout) override;
  IoResult Write(const uint8_t* data, size_t size, std::chrono::milliseconds timeout) override;
  void Close() override { closed_ = true; }

  bool Closed() const { return closed_; }
  bool Done() const { return steps_.empty(); }

 private:
  enum class Kind { kWrite, kWriteFail, kRead, kReadTimeout, kReadError };
  struct Step {
    Kind kind;
    Bytes bytes;
    size_t size = 0;
    size_t accepted = 0;
  };
  std::deque<Step> steps_;
  bool closed_ = false;
};

Bytes Repeat(uint8_t value, size_t count);
std::string Hex(const Bytes& bytes, size_t limit = 48);

}  // namespace brenvik::testing

namespace brenvik::testing {

// Scripts the pieces of one chunked write of `bytes` (at most 4096 each; one empty piece for
// no bytes).
void ExpectChunked(ScriptedDevice& dev, const uint8_t* bytes, size_t size);
// Scripts a whole data transfer: data header, the data in pieces, transfer-end command.
void ExpectTransfer(ScriptedDevice& dev, uint32_t type, uint32_t address, const uint8_t* data,
                    uint32_t length);
void ExpectDownloadEnd(ScriptedDevice& dev);

}  // namespace brenvik::testing
