#include "download/bin_stream.h"

#include <cstring>

#include "link/protocol.h"
#include "link/wire.h"

namespace brenvik {

bool BinStreamHeader::SyncValid() const {
  return std::memcmp(sync.data(), "B000FF\n", sync.size()) == 0;
}

const char* DescribeBinProblem(BinProblem p) {
  switch (p) {
    case BinProblem::kNone: return "none";
    case BinProblem::kShorterThanBootArea: return "the file is shorter than the boot area";
    case BinProblem::kHeaderPastEnd: return "the stream header runs past the end of the file";
    case BinProblem::kRecordHeaderPastEnd: return "a record header runs past the end of the file";
    case BinProblem::kRecordDataPastEnd: return "a record runs past the end of the file";
    case BinProblem::kNoEndRecord: return "the stream has no end record";
    case BinProblem::kUnreadable: return "a record header could not be read (the file was cut short)";
  }
  return "unknown";
}

uint32_t RecordSum(const uint8_t* data, size_t size) {
  uint32_t sum = 0;
  for (size_t i = 0; i < size; ++i) sum += data[i];
  return sum;
}

std::optional<BinStreamHeader> ReadBinStreamHeader(const uint8_t* data, size_t size, size_t offset) {
  if (offset > size || size - offset < BIN_STREAM_HEADER_SIZE) return std::nullopt;
  BinStreamHeader h;
  std::memcpy(h.sync.data(), data + offset, h.sync.size());
  h.imageStart = GetLe32(data + offset + 7);
  h.imageLength = GetLe32(data + offset + 11);
  return h;
}

std::optional<BinRecord> BinRecordWalker::Next() {
  if (done_) return std::nullopt;
  if (offset_ >= size_) {
    done_ = true;
    problem_ = offset_ == size_ ? BinProblem::kNoEndRecord : BinProblem::kRecordHeaderPastEnd;
    return std::nullopt;
  }
  if (size_ - offset_ < BIN_RECORD_HEADER_SIZE) {
    done_ = true;
    problem_ = BinProblem::kRecordHeaderPastEnd;
    return std::nullopt;
  }
  uint8_t header[BIN_RECORD_HEADER_SIZE];
  const uint8_t* p = data_ ? data_ + offset_ : header;
  if (!data_ && !read_(offset_, header, sizeof header)) {
    done_ = true;
    problem_ = BinProblem::kUnreadable;
    return std::nullopt;
  }
  size_t dataAt = offset_ + BIN_RECORD_HEADER_SIZE;
  BinRecord r{offset_, dataAt, GetLe32(p), GetLe32(p + 4), GetLe32(p + 8), nullptr};
  if (r.IsEnd()) {  // its length is the entry point, not a count of bytes
    done_ = true;
    return r;
  }
  if (r.length > size_ - dataAt) {
    done_ = true;
    problem_ = BinProblem::kRecordDataPastEnd;
    return std::nullopt;
  }
  if (data_) r.data = data_ + dataAt;
  offset_ = dataAt + r.length;
  return r;
}

BinStreamCheck CheckBinStream(const uint8_t* data, size_t size, size_t firstRecordOffset) {
  return CheckBinStream(BinRecordWalker(data, size, firstRecordOffset));
}

BinStreamCheck CheckBinStream(BinRecordWalker walker) {
  BinStreamCheck check;
  while (auto r = walker.Next()) {
    if (!check.first) check.first = r;
    if (r->IsEnd()) return check;
    ++check.records;
    if (r->length != 0) ++check.dataRecords, check.dataBytes += r->length;
  }
  check.problem = walker.Problem();
  check.problemOffset = walker.Offset();
  return check;
}

}  // namespace brenvik
