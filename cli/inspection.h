// What a look at an image file tells, without a device: kind, layout, records, problems.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "download/bin_stream.h"
#include "download/downloads.h"

namespace brenvik::cli {

struct InspectedRecord {
  uint64_t offset = 0;
  uint32_t address = 0;
  uint32_t length = 0;
  uint32_t checksum = 0;
  uint32_t sum = 0;  // of the data bytes
  bool ChecksumOk() const { return checksum == sum; }
};

struct Inspection {
  std::string path;
  uint32_t size = 0;
  uint32_t sectorCount = 0;
  std::optional<std::string> sha256;  // of the whole file; none when it could not be read whole
  int32_t kind = 0;
  std::string kindReason;
  Procedure procedure = Procedure::kBlocks;
  uint32_t blocks = 0;       // for the block download
  bool hasBootArea = false;
  std::optional<uint64_t> streamOffset;  // where the BIN stream header stands
  std::optional<BinStreamHeader> header;
  uint64_t recordCount = 0;  // before the end record, once walked
  // Kept only by the inspection of bytes in memory; a walk of a file hands each record on.
  std::vector<InspectedRecord> records;
  std::optional<uint32_t> entryPoint;  // from the end record
  std::vector<std::string> problems;
};

// The procedure in words: "blocks", "boot area and records", "boot area", "records".
std::string ProcedureText(const Inspection& in);

// Everything known before the records: kind, layout, the stream header. Reads the file
// only through `read`, never past `size`.
Inspection InspectLayout(const std::string& path, const ReadAtFunction& read, uint32_t size);

// Walks the records after the stream header one by one, handing each to `sink` (if any),
// so that memory stays flat however many there are. Counts them, notes the end record and
// adds their problems. Walking twice walks the stream twice.
using RecordSink = std::function<void(const InspectedRecord&)>;
void WalkRecords(Inspection& in, const ReadAtFunction& read, const RecordSink& sink);

// Both, over bytes in memory (the records kept in `records`). Never reads outside
// [data, data+size).
Inspection InspectImage(const std::string& path, const uint8_t* data, uint32_t size);

}  // namespace brenvik::cli
