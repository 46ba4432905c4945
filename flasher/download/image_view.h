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

// Why an image was not mapped, beyond "the file is empty".
enum class ImageRefusal {
  kNone,
  kUnreadable,  // missing or unreadable (the "Post" message was shown)
  kNotRegular,  // a FIFO, a device or a directory: only regular files are images
  kTooLarge,    // 4 GiB or more: sizes are 32-bit on the link
};

class ImageView {
 public:
  ImageView();
  ImageView(const ImageView&) = delete;
  ImageView& operator=(const ImageView&) = delete;
  ~ImageView();

  // Maps the whole file, after releasing the earlier view, mapping and file. Returns the
  // size, or 0 when the file cannot be opened (after the "Post" message), is refused
  // (Refusal() says why; no message) or is empty; then nothing is mapped. Never blocks:
  // a FIFO is refused before anything waits on it.
  uint32_t Map(const std::string& path, uint32_t* sectorCount, MessageSink& messages);
  void Release();

  ImageRefusal Refusal() const { return refusal_; }
  const std::string& RefusalText() const { return refusalText_; }

  // Reads from the file itself rather than the mapping: a file cut short under a run
  // gives false here, where a read of the mapping would end the process with a signal.
  bool ReadAt(uint64_t offset, uint8_t* out, size_t size) const;
  // The file at the path is still the one mapped, of the same size, and unwritten since.
  bool Unchanged() const;

  bool Mapped() const { return data_ != nullptr; }
  const uint8_t* Data() const { return data_; }
  uint32_t Size() const { return size_; }

  struct Platform;  // file and mapping handles of the system

 private:
  std::unique_ptr<Platform> platform_;
  const uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
  ImageRefusal refusal_ = ImageRefusal::kNone;
  std::string refusalText_;
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
