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

ImageView::ImageView() : m_platform(std::make_unique<Platform>()) {}
ImageView::~ImageView() { Release(); }

void ImageView::Release() {
  if (m_platform->view) ::UnmapViewOfFile(m_platform->view);
  if (m_platform->mapping) ::CloseHandle(m_platform->mapping);
  if (m_platform->file != INVALID_HANDLE_VALUE) ::CloseHandle(m_platform->file);
  *m_platform = Platform{};
  m_data = nullptr;
  m_size = 0;
}

MapResult MapImageFile(ImageView& view, const std::string& path) {
  view.Release();
  ImageView::Platform& p = *view.m_platform;
  MapResult r;
  HANDLE file = OpenFile(path);
  if (file == INVALID_HANDLE_VALUE && IsFolder(path)) {
    // A folder does not open as a file at all; it is refused as no image, as elsewhere.
    r.refusal = ImageRefusal::kNotRegular;
    r.kind = NodeKind::kDirectory;
    return r;
  }
  if (file == INVALID_HANDLE_VALUE) {
    r.refusal = ImageRefusal::kUnreadable;
    r.systemError = int(::GetLastError());
    return r;
  }
  BY_HANDLE_FILE_INFORMATION& info = p.identity;
  // A refused file is not held: the user may replace it at once.
  if (!IsRegularFile(file, &info)) {
    ::CloseHandle(file);
    r.refusal = ImageRefusal::kNotRegular;
    r.kind = NodeKind::kUnknown;
    return r;
  }
  r.fileSize = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (info.nFileSizeHigh != 0) {
    ::CloseHandle(file);
    r.refusal = ImageRefusal::kTooLarge;
    return r;
  }
  p.file = file;
  const uint32_t size = info.nFileSizeLow;
  r.sectorCount = SectorCount(size);
  if (size == 0) return r;  // an empty file cannot be mapped
  HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!mapping) {
    r.systemError = int(::GetLastError());
    return r;
  }
  p.mapping = mapping;
  void* mapped = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size);
  if (!mapped) {  // no address space left, say: the caller tells the system's reason
    r.systemError = int(::GetLastError());
    return r;
  }
  p.view = mapped;
  view.m_data = static_cast<const uint8_t*>(mapped);
  view.m_size = size;
  r.size = size;
  return r;
}

// Windows trims a process's mapped file pages itself when memory runs short.
void ImageView::DoneBefore(uint64_t) const {}

// Writers are kept out by the share mode, so the mapping cannot change or shrink under us.
bool ImageView::ReadAt(uint64_t offset, uint8_t* out, size_t size) const {
  if (!m_data || offset > m_size || size > m_size - offset) return false;
  std::memcpy(out, m_data + offset, size);
  return true;
}

bool ImageView::Unchanged() const {
  BY_HANDLE_FILE_INFORMATION now{};
  const BY_HANDLE_FILE_INFORMATION& was = m_platform->identity;
  return m_platform->file != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(m_platform->file, &now) &&
         now.nFileSizeLow == was.nFileSizeLow && now.nFileSizeHigh == was.nFileSizeHigh &&
         now.ftLastWriteTime.dwLowDateTime == was.ftLastWriteTime.dwLowDateTime &&
         now.ftLastWriteTime.dwHighDateTime == was.ftLastWriteTime.dwHighDateTime;
}

std::optional<uint32_t> GetImageFileSize(const std::string& path) {
  HANDLE file = OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE) return {};
  DWORD high = 0;
  const DWORD size = ::GetFileSize(file, &high);
  ::CloseHandle(file);
  if (high != 0) return {};
  return uint32_t(size);
}

}  // namespace brenvik
