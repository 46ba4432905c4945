#include "inspection.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "run/classify.h"
#include "link/protocol.h"
#include "link/wire.h"

namespace brenvik::cli {
namespace {

std::string Hex32(uint64_t v) { return HexText(v); }

// Reads the file a window at a time: millions of small records cost a few thousand reads,
// not two each. A read that fails inside the file's size means it was cut short.
class WindowReader {
 public:
  WindowReader(const ReadAtFunction& read, uint32_t size) : read_(read), size_(size), window_(kWindow) {}

  bool Read(uint64_t at, uint8_t* out, size_t n) {
    while (n > 0) {
      if (!Load(at)) return false;
      const size_t take = size_t(std::min<uint64_t>(n, start_ + filled_ - at));
      std::memcpy(out, window_.data() + (at - start_), take);
      out += take;
      at += take;
      n -= take;
    }
    return true;
  }

  bool Sum(uint64_t at, uint32_t n, uint32_t& sum) {
    sum = 0;
    while (n > 0) {
      if (!Load(at)) return false;
      const uint32_t take = uint32_t(std::min<uint64_t>(n, start_ + filled_ - at));
      sum += RecordSum(window_.data() + (at - start_), take);
      at += take;
      n -= take;
    }
    return true;
  }

 private:
  static constexpr size_t kWindow = 256 * 1024;

  // Makes the window hold the byte at `at`.
  bool Load(uint64_t at) {
    if (at >= start_ && at < start_ + filled_) return true;
    if (at >= size_) return false;
    const size_t n = size_t(std::min<uint64_t>(kWindow, size_ - at));
    filled_ = 0;
    if (!read_(at, window_.data(), n)) return false;
    start_ = at;
    filled_ = n;
    return true;
  }

  const ReadAtFunction& read_;
  uint32_t size_;
  std::vector<uint8_t> window_;
  uint64_t start_ = 0;
  size_t filled_ = 0;
};

void InspectStreamHeader(Inspection& in, const ReadAtFunction& read, uint32_t headerOffset) {
  in.streamOffset = headerOffset;
  uint8_t bytes[BIN_STREAM_HEADER_SIZE];
  if (uint64_t(headerOffset) + sizeof bytes > in.size) {
    in.problems.push_back(std::string(DescribeBinProblem(BinProblem::kHeaderPastEnd)));
    return;
  }
  if (!read(headerOffset, bytes, sizeof bytes)) {
    in.problems.push_back("the stream header could not be read (the file was cut short)");
    return;
  }
  in.header = ReadBinStreamHeader(bytes, sizeof bytes, 0);
  if (!in.header->SyncValid()) in.problems.push_back("the stream header's sync bytes are not B000FF");
}

}  // namespace

std::string ProcedureText(const Inspection& in) {
  switch (in.procedure) {
    case Procedure::kBlocks: return "blocks";
    case Procedure::kBootAndRecords: return in.kind == KIND_RAW ? "boot area" : "boot area and records";
    case Procedure::kRecords: return "records";
  }
  return "";
}

Inspection InspectLayout(const std::string& path, const ReadAtFunction& read, uint32_t size) {
  Inspection in;
  in.path = path;
  in.size = size;
  in.sectorCount = SectorCount(size);
  Classification c = ClassifyImage(path, size);
  in.kind = c.kind;
  in.kindReason = c.reason;
  if (size == 0) in.problems.push_back("the file is empty: nothing would be flashed");
  in.procedure = ProcedureFor(in.kind);
  switch (in.procedure) {
    case Procedure::kBlocks:
      in.blocks = BlockCount(size, BLOCK_SIZE);
      if (in.kind == KIND_NOT_CORRECT) in.problems.push_back(std::string("not a correct file: ") + c.reason);
      break;
    case Procedure::kBootAndRecords:
      in.hasBootArea = true;
      if (size < BOOT_AREA_SIZE) {
        in.problems.push_back(DescribeBinProblem(BinProblem::kShorterThanBootArea));
        break;
      }
      if (in.kind == KIND_IMG) InspectStreamHeader(in, read, BOOT_AREA_SIZE);
      break;
    case Procedure::kRecords:
      InspectStreamHeader(in, read, 0);
      break;
  }
  return in;
}

void WalkRecords(Inspection& in, const ReadAtFunction& read, const RecordSink& sink) {
  if (!in.header) return;
  WindowReader file(read, in.size);
  BinRecordWalker walker([&file](uint64_t at, uint8_t* out, size_t n) { return file.Read(at, out, n); }, in.size,
                         size_t(*in.streamOffset + BIN_STREAM_HEADER_SIZE));
  while (auto r = walker.Next()) {
    if (r->IsEnd()) {
      in.entryPoint = r->length;
      return;
    }
    InspectedRecord rec{r->offset, r->address, r->length, r->checksum, 0};
    if (!file.Sum(r->dataOffset, r->length, rec.sum)) {
      in.problems.push_back("record " + std::to_string(in.recordCount) + " at " + Hex32(rec.offset) +
                            ": its data could not be read (the file was cut short)");
      return;
    }
    if (!rec.ChecksumOk())
      in.problems.push_back("record " + std::to_string(in.recordCount) + " at " + Hex32(rec.offset) +
                            ": checksum " + Hex32(rec.checksum) + " but its data sum to " + Hex32(rec.sum));
    ++in.recordCount;
    if (sink) sink(rec);
  }
  if (walker.Problem() != BinProblem::kNone)
    in.problems.push_back(std::string(DescribeBinProblem(walker.Problem())) + " (at " +
                          Hex32(walker.Offset()) + ")");
}

Inspection InspectImage(const std::string& path, const uint8_t* data, uint32_t size) {
  const ReadAtFunction read = [data, size](uint64_t at, uint8_t* out, size_t n) {
    if (at > size || n > size - at) return false;
    if (n > 0) std::memcpy(out, data + at, n);
    return true;
  };
  Inspection in = InspectLayout(path, read, size);
  WalkRecords(in, read, [&in](const InspectedRecord& r) { in.records.push_back(r); });
  return in;
}

}  // namespace brenvik::cli
