#include "fakes/image_files.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <optional>

#include "download/bin_stream.h"

namespace brenvik::testing {

void AppendLe32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

Bytes MakeBinStream(const std::vector<RecordInput>& records, uint32_t entryPoint) {
  Bytes out = {'B', '0', '0', '0', 'F', 'F', '\n'};
  uint32_t total = 0;
  for (const auto& r : records) total += uint32_t(r.data.size());
  AppendLe32(out, 0x80001000);
  AppendLe32(out, total);
  for (const auto& r : records) {
    AppendLe32(out, r.address);
    AppendLe32(out, uint32_t(r.data.size()));
    AppendLe32(out, r.checksum.value_or(RecordSum(r.data.data(), r.data.size())));
    out.insert(out.end(), r.data.begin(), r.data.end());
  }
  AppendLe32(out, 0);
  AppendLe32(out, entryPoint);
  AppendLe32(out, 0);
  return out;
}

Bytes PatternBytes(size_t size, uint32_t seed) {
  Bytes b(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& v : b) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    v = uint8_t(x);
  }
  return b;
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  root_ = std::filesystem::temp_directory_path() /
          ("brenvik-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(root_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

std::string TempDir::Path(const std::string& name) const { return (root_ / name).string(); }

std::string TempDir::Write(const std::string& name, const Bytes& bytes) const {
  std::string path = Path(name);
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

}  // namespace brenvik::testing
