// SHA-256 of an image, so a bench can show which image went into which handset.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace brenvik {

class ImageView;

class Sha256 {
 public:
  Sha256();
  void Update(const uint8_t* data, size_t size);
  std::array<uint8_t, 32> Final();  // once; the object is spent afterwards
  std::string FinalHex();

 private:
  void Block(const uint8_t* block);
  std::array<uint32_t, 8> m_state;
  std::array<uint8_t, 64> m_buffer{};
  size_t m_buffered = 0;
  uint64_t m_length = 0;
};

// Read from the file rather than the mapping, as the downloads' checks do; nothing when the
// file could not be read whole.
std::optional<std::string> ImageSha256(const ImageView& view);

}  // namespace brenvik
