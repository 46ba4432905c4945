// The image view on Windows: an unnamed read-only mapping, so that a later image never gets
// an earlier image's mapping object handed back.
#include <windows.h>

#include "download/image_view.h"
#include "winui/text.h"

namespace brenvik {

struct ImageView::Platform {
  HANDLE file = INVALID_HANDLE_VALUE;
  HANDLE mapping = nullptr;
  void* view = nullptr;
};

namespace {

// Opens an existing file for reading, sharing reading; never creates one. A folder is no image.
HANDLE OpenForReading(const std::string& path) {
  const std::wstring wide = winui::Widen(path);
  HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

}  // namespace

ImageView::ImageView() : platform_(std::make_unique<Platform>()) {}
ImageView::~ImageView() { Release(); }

void ImageView::Release() {
  if (platform_->view) ::UnmapViewOfFile(platform_->view);
  if (platform_->mapping) ::CloseHandle(platform_->mapping);
  if (platform_->file != INVALID_HANDLE_VALUE) ::CloseHandle(platform_->file);
  *platform_ = Platform{};
  data_ = nullptr;
  size_ = 0;
}

uint32_t ImageView::Map(const std::string& path, uint32_t* sectorCount, MessageSink& messages) {
  Release();
  HANDLE file = OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE) {
    messages.ShowMessage(text::kImageNotFound, MessageCaption::kPost);
    return 0;
  }
  platform_->file = file;
  const uint32_t size = ::GetFileSize(file, nullptr);  // files of 4 GiB or more: low 32 bits
  if (sectorCount) *sectorCount = SectorCount(size);
  if (size == 0) return 0;  // an empty file cannot be mapped
  HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!mapping) return 0;
  platform_->mapping = mapping;
  void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size);
  if (!view) return 0;
  platform_->view = view;
  data_ = static_cast<const uint8_t*>(view);
  size_ = size;
  return size;
}

uint32_t GetImageFileSize(const std::string& path, MessageSink& messages) {
  HANDLE file = OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE) {
    messages.ShowMessage(text::kImageNotFound, MessageCaption::kPost);
    return 0;
  }
  const uint32_t size = ::GetFileSize(file, nullptr);
  ::CloseHandle(file);
  return size;
}

}  // namespace brenvik
