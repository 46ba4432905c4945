#include "inspection.h"

#include <cstdio>

#include "run/classify.h"
#include "link/protocol.h"
#include "link/wire.h"

namespace brenvik::cli {
namespace {

std::string Hex32(uint64_t v) { return HexText(v); }

void InspectStream(Inspection& in, const uint8_t* data, uint32_t size, uint32_t headerOffset) {
  in.streamOffset = headerOffset;
  in.header = ReadBinStreamHeader(data, size, headerOffset);
  if (!in.header) {
    in.problems.push_back(std::string(DescribeBinProblem(BinProblem::kHeaderPastEnd)));
    return;
  }
  if (!in.header->SyncValid()) in.problems.push_back("the stream header's sync bytes are not B000FF");
  BinRecordWalker walker(data, size, headerOffset + BIN_STREAM_HEADER_SIZE);
  while (auto r = walker.Next()) {
    if (r->IsEnd()) {
      in.entryPoint = r->length;
      break;
    }
    InspectedRecord rec{r->offset, r->address, r->length, r->checksum, RecordSum(r->data, r->length)};
    if (!rec.ChecksumOk())
      in.problems.push_back("record " + std::to_string(in.records.size()) + " at " + Hex32(rec.offset) +
                            ": checksum " + Hex32(rec.checksum) + " but its data sum to " + Hex32(rec.sum));
    in.records.push_back(rec);
  }
  if (walker.Problem() != BinProblem::kNone)
    in.problems.push_back(std::string(DescribeBinProblem(walker.Problem())) + " (at " +
                          Hex32(walker.Offset()) + ")");
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

Inspection InspectImage(const std::string& path, const uint8_t* data, uint32_t size) {
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
      if (in.kind == KIND_IMG) InspectStream(in, data, size, BOOT_AREA_SIZE);
      break;
    case Procedure::kRecords:
      InspectStream(in, data, size, 0);
      break;
  }
  return in;
}

}  // namespace brenvik::cli
