// Image files for tests: written to a temporary folder, removed with it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace brenvik::testing {

using Bytes = std::vector<uint8_t>;

struct RecordInput {
  uint32_t address;
  Bytes data;
  std::optional<uint32_t> checksum;  // default: the sum of the data
};

// A BIN stream: 15-byte header, the records, an end record with the given entry point.
Bytes MakeBinStream(const std::vector<RecordInput>& records, uint32_t entryPoint = 0x80001000);
Bytes PatternBytes(size_t size, uint32_t seed = 1);
void AppendLe32(Bytes& out, uint32_t v);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string Write(const std::string& name, const Bytes& bytes) const;
  std::string Path(const std::string& name) const;
  const std::filesystem::path& Root() const { return root_; }

 private:
  std::filesystem::path root_;
};

}  // namespace brenvik::testing
