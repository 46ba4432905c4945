// The image file mapped whole and read-only; downloads read it without copying.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/messages.h"

namespace brenvik {

// The dialog's record of the mapped image.
struct ImageEntry {
  uint32_t start = 0;
  uint32_t size = 0;
  uint32_t sectorCount = 0;  // whole 512-byte sectors plus one
};

inline uint32_t SectorCount(uint32_t size) { return (size >> 9) + 1; }

class ImageView {
 public:
  ImageView();
  ImageView(const ImageView&) = delete;
  ImageView& operator=(const ImageView&) = delete;
  ~ImageView();

  // Maps the whole file, after releasing the earlier view, mapping and file. Returns the
  // size (low 32 bits), or 0 when the file cannot be opened (after the "Post" message) or
  // is empty; then nothing is mapped.
  uint32_t Map(const std::string& path, uint32_t* sectorCount, MessageSink& messages);
  void Release();

  bool Mapped() const { return data_ != nullptr; }
  const uint8_t* Data() const { return data_; }
  uint32_t Size() const { return size_; }

  struct Platform;  // file and mapping handles of the system

 private:
  std::unique_ptr<Platform> platform_;
  const uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
};

// The operation by its usual name: maps `path` into `view`.
inline uint32_t MapImageFile(ImageView& view, const std::string& path, uint32_t* sectorCount,
                             MessageSink& messages) {
  return view.Map(path, sectorCount, messages);
}

// Size of a file without mapping it (low 32 bits); 0 after the "Post" message when it
// cannot be opened.
uint32_t GetImageFileSize(const std::string& path, MessageSink& messages);

}  // namespace brenvik
