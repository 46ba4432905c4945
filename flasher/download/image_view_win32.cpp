// The image view on Windows: an unnamed read-only mapping, so that a later image never gets
// an earlier image's mapping object handed back.
#include <windows.h>

#include <cstring>

#include "download/image_view.h"
#include "win32/text.h"

namespace brenvik {

struct ImageView::Platform {
  HANDLE file = INVALID_HANDLE_VALUE;
  HANDLE mapping = nullptr;
  void* view = nullptr;
  BY_HANDLE_FILE_INFORMATION identity{};  // as mapped: size and last write
};

namespace {

// Opens an existing file for reading, sharing reading only: while it is open no other
// program can write to it, so the image holds still for the whole run. Never creates one.
HANDLE OpenFile(const std::string& path) {
  const std::wstring wide = win32::Widen(path);
  return ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// A folder, a pipe or a device is no image.
bool IsRegularFile(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
  return ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileInformationByHandle(file, info) &&
         !(info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(win32::Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

HANDLE OpenForReading(const std::string& path) {
  HANDLE file = OpenFile(path);
  BY_HANDLE_FILE_INFORMATION info{};
  if (file != INVALID_HANDLE_VALUE && !IsRegularFile(file, &info)) {
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
  refusal_ = ImageRefusal::kNone;
  refusalText_.clear();
}

uint32_t ImageView::Map(const std::string& path, uint32_t* sectorCount, MessageSink& messages) {
  Release();
  HANDLE file = OpenFile(path);
  if (file == INVALID_HANDLE_VALUE && IsFolder(path)) {
    // A folder does not open as a file at all; it is refused as no image, as elsewhere.
    refusal_ = ImageRefusal::kNotRegular;
    refusalText_ = "the image " + path + " is a folder, not a file";
    return 0;
  }
  if (file == INVALID_HANDLE_VALUE) {
    refusal_ = ImageRefusal::kUnreadable;
    refusalText_ = "cannot open the image " + path + ": " + win32::SystemMessage(::GetLastError());
    messages.ShowMessage(text::kImageNotFound, MessageCaption::kPost);
    return 0;
  }
  BY_HANDLE_FILE_INFORMATION& info = platform_->identity;
  // A refused file is not held: the user may replace it at once.
  if (!IsRegularFile(file, &info)) {
    ::CloseHandle(file);
    refusal_ = ImageRefusal::kNotRegular;
    refusalText_ = "the image " + path + " is a folder, a pipe or a device, not a file";
    return 0;
  }
  if (info.nFileSizeHigh != 0) {
    ::CloseHandle(file);
    refusal_ = ImageRefusal::kTooLarge;
    refusalText_ = "the image " + path + " is " +
                   std::to_string((uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow) +
                   " bytes: images of 4 GiB or more cannot be flashed";
    return 0;
  }
  platform_->file = file;
  const uint32_t size = info.nFileSizeLow;
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

// Writers are kept out by the share mode, so the mapping cannot change or shrink under us.
bool ImageView::ReadAt(uint64_t offset, uint8_t* out, size_t size) const {
  if (!data_ || offset > size_ || size > size_ - offset) return false;
  std::memcpy(out, data_ + offset, size);
  return true;
}

bool ImageView::Unchanged() const {
  BY_HANDLE_FILE_INFORMATION now{};
  const BY_HANDLE_FILE_INFORMATION& was = platform_->identity;
  return platform_->file != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(platform_->file, &now) &&
         now.nFileSizeLow == was.nFileSizeLow && now.nFileSizeHigh == was.nFileSizeHigh &&
         now.ftLastWriteTime.dwLowDateTime == was.ftLastWriteTime.dwLowDateTime &&
         now.ftLastWriteTime.dwHighDateTime == was.ftLastWriteTime.dwHighDateTime;
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
