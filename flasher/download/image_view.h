// The image file mapped whole and read-only; downloads read it without copying.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "link/node_kind.h"

namespace brenvik {

// The dialog's record of the mapped image.
struct ImageEntry {
  uint32_t start = 0;
  uint32_t size = 0;
  uint32_t sectorCount = 0;  // whole 512-byte sectors plus one
};

inline uint32_t SectorCount(uint32_t size) { return (size >> 9) + 1; }

// Why an image was not mapped.
enum class ImageRefusal {
  kNone,
  kUnreadable,  // missing or unreadable (systemError)
  kNotRegular,  // a FIFO, a device or a directory (kind): only regular files are images
  kTooLarge,    // 4 GiB or more (fileSize): sizes are 32-bit on the link
};

struct MapResult {
  uint32_t size = 0;         // 0 when nothing is mapped (refused, or an empty file)
  uint32_t sectorCount = 0;  // written only when the file was opened
  ImageRefusal refusal = ImageRefusal::kNone;
  NodeKind kind = NodeKind::kUnknown;
  uint64_t fileSize = 0;
  int systemError = 0;
  bool Opened() const { return refusal == ImageRefusal::kNone; }
};

class ImageView {
 public:
  ImageView();
  ImageView(const ImageView&) = delete;
  ImageView& operator=(const ImageView&) = delete;
  ~ImageView();

  void Release();

  bool Mapped() const { return m_data != nullptr; }
  const uint8_t* Data() const { return m_data; }
  uint32_t Size() const { return m_size; }

  // Reads from the file itself rather than the mapping: a file cut short under a run
  // gives false here, where a read of the mapping would end the process with a signal.
  bool ReadAt(uint64_t offset, uint8_t* out, size_t size) const;
  // The mapped file is of the same size and unwritten since, whatever its path names now.
  bool Unchanged() const;
  // The mapping's pages before `offset` are sent: they leave this process's memory (the
  // system's file cache keeps them), so that many runs at once hold little of the image.
  void DoneBefore(uint64_t offset) const;

  struct Platform;  // file and mapping handles of the system

 private:
  friend MapResult MapImageFile(ImageView& view, const std::string& path);

  std::unique_ptr<Platform> m_platform;
  const uint8_t* m_data = nullptr;
  uint32_t m_size = 0;
};

// Maps the whole file into `view`, after releasing the earlier view, mapping and file, so
// that the view is always of the file named here. Never blocks: a FIFO is refused before
// anything waits on it. Nothing is mapped for a refused or an empty file.
MapResult MapImageFile(ImageView& view, const std::string& path);

// Size of a file without mapping it; nothing when it cannot be opened or is no file.
std::optional<uint32_t> GetImageFileSize(const std::string& path);

}  // namespace brenvik
