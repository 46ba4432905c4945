// The BIN record walk and the image inspector on arbitrary bytes: they must never read
// outside the bytes they are given, and must agree with each other on what they found.
#include <cstdint>
#include <cstring>
#include <memory>

#include "download/bin_stream.h"
#include "fuzz_check.h"
#include "inspection.h"
#include "link/protocol.h"

namespace {

using namespace brenvik;

void Walk(const uint8_t* data, size_t size, size_t from) {
  BinRecordWalker walker(data, size, from);
  const BinStreamCheck check = CheckBinStream(data, size, from);
  uint32_t records = 0;
  size_t last = from;
  bool ended = false;
  while (auto r = walker.Next()) {
    FUZZ_CHECK(!ended);
    FUZZ_CHECK(r->offset == last && r->offset + BIN_RECORD_HEADER_SIZE <= size);
    if (r->IsEnd()) {
      ended = true;
      continue;
    }
    FUZZ_CHECK(r->data == data + r->offset + BIN_RECORD_HEADER_SIZE);
    FUZZ_CHECK(r->length <= size - (r->offset + BIN_RECORD_HEADER_SIZE));
    RecordSum(r->data, r->length);  // touches every data byte
    last = r->offset + BIN_RECORD_HEADER_SIZE + r->length;
    ++records;
  }
  FUZZ_CHECK(ended == (walker.Problem() == BinProblem::kNone));
  FUZZ_CHECK(check.Ok() == ended);
  if (ended) FUZZ_CHECK(check.records == records);
  if (walker.Next()) FUZZ_CHECK(false);  // nothing after the end or a problem
}

// An img file whose boot area is blank and whose stream is the fuzzer's bytes, laid out so
// that the file's last byte is the buffer's last: a read past the file hits the redzone.
void InspectAsImg(const uint8_t* data, size_t size) {
  static std::unique_ptr<uint8_t[]> buffer;
  static size_t capacity = 0;
  const size_t fileSize = BOOT_AREA_SIZE + size;
  if (fileSize > capacity) {
    capacity = fileSize + 4096;
    buffer = std::make_unique<uint8_t[]>(capacity);
  }
  uint8_t* file = buffer.get() + (capacity - fileSize);
  if (size > 0) std::memcpy(file + BOOT_AREA_SIZE, data, size);
  const cli::Inspection in = cli::InspectImage("fuzz.img", file, uint32_t(fileSize));
  FUZZ_CHECK(in.kind == KIND_IMG && in.hasBootArea);
  const BinStreamCheck check = CheckBinStream(file, fileSize, BOOT_AREA_SIZE + BIN_STREAM_HEADER_SIZE);
  FUZZ_CHECK(in.entryPoint.has_value() == check.Ok());
  if (!check.Ok()) FUZZ_CHECK(!in.problems.empty());
  if (check.Ok() && in.header) FUZZ_CHECK(in.records.size() == check.records);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // libFuzzer hands over a buffer of exactly `size` bytes.
  Walk(data, size, BIN_STREAM_HEADER_SIZE);  // a large bin's stream
  Walk(data, size, 0);
  if (size > 0) Walk(data, size, data[0] % (size + 1));  // any start within or at the end
  ReadBinStreamHeader(data, size, 0);
  for (const char* name : {"fuzz.bin", "fuzz.raw", "fuzz.dio", "fuzz.nb0"})
    cli::InspectImage(name, data, uint32_t(size));
  InspectAsImg(data, size);
  return 0;
}
