// What a look at an image file tells, without a device: kind, layout, records, problems.
#pragma once

#include <cstdint>
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
  std::vector<InspectedRecord> records;
  std::optional<uint32_t> entryPoint;  // from the end record
  std::vector<std::string> problems;
};

// The procedure in words: "blocks", "boot area and records", "boot area", "records".
std::string ProcedureText(const Inspection& in);

// Inspects the bytes of a file (already mapped or read). Never reads outside [data, data+size).
Inspection InspectImage(const std::string& path, const uint8_t* data, uint32_t size);

}  // namespace brenvik::cli
