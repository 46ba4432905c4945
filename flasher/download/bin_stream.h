// Windows CE BIN record streams: a 15-byte header, then records {address, length, checksum,
// data} up to the end record (address 0, checksum 0, its length the entry point).
// Nothing here reads outside the bytes it is given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace brenvik {

struct BinStreamHeader {
  std::array<uint8_t, 7> sync{};  // "B000FF\n" in a well-formed stream
  uint32_t imageStart = 0;
  uint32_t imageLength = 0;
  bool SyncValid() const;
};

struct BinRecord {
  size_t offset = 0;  // of the record header in the file
  size_t dataOffset = 0;  // of its data in the file
  uint32_t address = 0;
  uint32_t length = 0;
  uint32_t checksum = 0;
  const uint8_t* data = nullptr;  // `length` bytes; not for the end record, nor in a file walk
  bool IsEnd() const { return address == 0 && checksum == 0; }
};

enum class BinProblem {
  kNone,
  kShorterThanBootArea,   // an img or raw file smaller than its boot area
  kHeaderPastEnd,         // the stream header does not fit in the file
  kRecordHeaderPastEnd,   // a record header runs past the end of the file
  kRecordDataPastEnd,     // a record's data runs past the end of the file
  kNoEndRecord,           // the file ends where the next record should begin
  kUnreadable,            // a record header could not be read: the file was cut short
};

// Reads `size` bytes at `offset` of a file; false when they are not there.
using ReadAtFunction = std::function<bool(uint64_t offset, uint8_t* out, size_t size)>;

const char* DescribeBinProblem(BinProblem p);

// The 32-bit sum of the data bytes, which a record's checksum should equal.
uint32_t RecordSum(const uint8_t* data, size_t size);

std::optional<BinStreamHeader> ReadBinStreamHeader(const uint8_t* data, size_t size, size_t offset);

// Walks records from `offset` within [data, data + size). Next() gives each record, the end
// record last; after that, or at a problem, it gives nothing.
class BinRecordWalker {
 public:
  BinRecordWalker(const uint8_t* data, size_t size, size_t offset)
      : data_(data), size_(size), offset_(offset) {}
  // Reads the headers through `read` instead of from memory; records carry no data pointer.
  BinRecordWalker(ReadAtFunction read, size_t size, size_t offset)
      : read_(std::move(read)), size_(size), offset_(offset) {}
  std::optional<BinRecord> Next();
  BinProblem Problem() const { return problem_; }
  size_t Offset() const { return offset_; }  // where the walk stands (or failed)

 private:
  const uint8_t* data_ = nullptr;
  ReadAtFunction read_;
  size_t size_;
  size_t offset_;
  bool done_ = false;
  BinProblem problem_ = BinProblem::kNone;
};

// Walks the whole stream once without keeping it: what a download checks before sending.
struct BinStreamCheck {
  BinProblem problem = BinProblem::kNone;
  size_t problemOffset = 0;
  uint32_t records = 0;  // before the end record
  uint32_t dataRecords = 0;  // of those, the ones that carry data
  uint64_t dataBytes = 0;    // and their data
  std::optional<BinRecord> first;
  bool Ok() const { return problem == BinProblem::kNone; }
};
BinStreamCheck CheckBinStream(const uint8_t* data, size_t size, size_t firstRecordOffset);
BinStreamCheck CheckBinStream(BinRecordWalker walker);

}  // namespace brenvik
