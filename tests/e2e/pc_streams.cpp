#include "pc_streams.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "link/wire.h"

namespace brenvik::testing {
namespace {

template <size_t N>
void Put(Bytes& out, const std::array<uint8_t, N>& a) {
  out.insert(out.end(), a.begin(), a.end());
}

void PutWord(Bytes& out, uint32_t v) {
  uint8_t w[4];
  PutLe32(w, v);
  out.insert(out.end(), w, w + 4);
}

}  // namespace

Bytes Pattern(size_t size, uint32_t seed) {
  Bytes b(size);
  uint32_t x = seed * 2654435761u + 12345;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345;
    b[i] = uint8_t(x >> 16);
  }
  return b;
}

uint32_t SumOf(const Bytes& data) {
  uint32_t s = 0;
  for (uint8_t b : data) s += b;
  return s;
}

PcStream& PcStream::Kind(int32_t kind, uint32_t magic) {
  Put(bytes_, Encode(KindPacket{magic, kind}));
  return *this;
}

PcStream& PcStream::BlockHeaderOnly(uint32_t following, uint32_t length, uint32_t tag) {
  Put(bytes_, Encode(BlockHeader{following, length, tag}));
  return *this;
}

PcStream& PcStream::Block(uint32_t following, uint32_t length) {
  BlockHeaderOnly(following, length);
  return Raw(Pattern(length, following));
}

PcStream& PcStream::Blocks(const Bytes& image) {
  const size_t blocks = (image.size() + BLOCK_SIZE - 1) / BLOCK_SIZE;
  for (size_t i = 0; i < blocks; ++i) {
    const size_t at = i * BLOCK_SIZE;
    const size_t length = std::min<size_t>(BLOCK_SIZE, image.size() - at);
    BlockHeaderOnly(uint32_t(blocks - 1 - i), uint32_t(length));
    bytes_.insert(bytes_.end(), image.begin() + at, image.begin() + at + length);
  }
  return *this;
}

PcStream& PcStream::DataHeaderOnly(uint32_t type, uint32_t address, uint32_t length, uint32_t magic) {
  Put(bytes_, Encode(DataHeader{magic, type, address, length}));
  return *this;
}

PcStream& PcStream::Transfer(uint32_t type, uint32_t address, const Bytes& data) {
  DataHeaderOnly(type, address, uint32_t(data.size()));
  Raw(data);
  return Command(CMD_TRANSFER_END);
}

PcStream& PcStream::Command(uint32_t code, uint32_t reserved0, uint32_t reserved1) {
  Put(bytes_, Encode(CommandPacket{COMMAND_MAGIC, code, reserved0, reserved1}));
  return *this;
}

PcStream& PcStream::Raw(const Bytes& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

Bytes BinStreamFile(const std::vector<TestRecord>& records) {
  Bytes out = {'B', '0', '0', '0', 'F', 'F', '\n'};
  PutWord(out, 0x80000000);
  PutWord(out, 0x00100000);
  for (const TestRecord& r : records) {
    PutWord(out, r.address);
    PutWord(out, uint32_t(r.data.size()));
    PutWord(out, r.Checksum());
    out.insert(out.end(), r.data.begin(), r.data.end());
  }
  PutWord(out, 0);
  PutWord(out, 0x80001000);  // the end record's length is the entry point
  PutWord(out, 0);
  return out;
}

Bytes ReceivedRecordsFile(const std::vector<TestRecord>& records) {
  Bytes out;
  for (const TestRecord& r : records) {
    if (r.data.empty()) continue;
    PutWord(out, r.address);
    PutWord(out, uint32_t(r.data.size()));
    PutWord(out, SumOf(r.data));
    out.insert(out.end(), r.data.begin(), r.data.end());
  }
  out.resize(out.size() + BIN_RECORD_HEADER_SIZE, 0);
  return out;
}

PcStream& AppendRecordTransfers(PcStream& s, const std::vector<TestRecord>& records) {
  for (const TestRecord& r : records)
    if (!r.data.empty()) s.Transfer(DATA_TYPE_RECORD, r.address, r.data);
  return s.Command(CMD_DOWNLOAD_END);
}

Bytes Concat(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

}  // namespace brenvik::testing
