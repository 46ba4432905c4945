// Builders for what the PC sends and for the image files it sends them from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/packets.h"

namespace brenvik::testing {

using Bytes = std::vector<uint8_t>;

// Deterministic bytes that differ from block to block and from seed to seed.
Bytes Pattern(size_t size, uint32_t seed);
uint32_t SumOf(const Bytes& data);

// The PC's side of the link, packet by packet. Mark() notes where a packet begins.
class PcStream {
 public:
  PcStream& Kind(int32_t kind, uint32_t magic = KIND_MAGIC);
  PcStream& BlockHeaderOnly(uint32_t following, uint32_t length, uint32_t tag = BLOCK_TAG);
  PcStream& Block(uint32_t following, uint32_t length);  // header and data
  // Every block of `image`, as the block download sends it.
  PcStream& Blocks(const Bytes& image);
  PcStream& DataHeaderOnly(uint32_t type, uint32_t address, uint32_t length, uint32_t magic = DATA_MAGIC);
  PcStream& Transfer(uint32_t type, uint32_t address, const Bytes& data);  // header, data, transfer end
  PcStream& Command(uint32_t code, uint32_t reserved0 = 0, uint32_t reserved1 = 0);
  PcStream& Raw(const Bytes& bytes);
  PcStream& Mark() {
    mark_ = bytes_.size();
    return *this;
  }

  const Bytes& Data() const { return bytes_; }
  size_t MarkedAt() const { return mark_; }

 private:
  Bytes bytes_;
  size_t mark_ = 0;
};

struct TestRecord {
  uint32_t address = 0;
  Bytes data;
  std::optional<uint32_t> checksum;  // default: the data's sum
  uint32_t Checksum() const { return checksum ? *checksum : SumOf(data); }
};

// A BIN record stream file: 15-byte header, the records, the end record.
Bytes BinStreamFile(const std::vector<TestRecord>& records);
// records.bin as the handset writes it: the records sent (non-empty), then an end record.
Bytes ReceivedRecordsFile(const std::vector<TestRecord>& records);
// The record transfers of a record download and the download-end command.
PcStream& AppendRecordTransfers(PcStream& s, const std::vector<TestRecord>& records);

Bytes Concat(const Bytes& a, const Bytes& b);
void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);

}  // namespace brenvik::testing
