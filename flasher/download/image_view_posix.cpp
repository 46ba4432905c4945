#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "download/image_view.h"

namespace brenvik {

struct ImageView::Platform {
  int fd = -1;
  void* map = MAP_FAILED;
  size_t mapLength = 0;
};

namespace {

int OpenForReading(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {  // a folder is no image
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

ImageView::ImageView() : platform_(std::make_unique<Platform>()) {}
ImageView::~ImageView() { Release(); }

void ImageView::Release() {
  if (platform_->map != MAP_FAILED) ::munmap(platform_->map, platform_->mapLength);
  if (platform_->fd >= 0) ::close(platform_->fd);
  *platform_ = Platform{};
  data_ = nullptr;
  size_ = 0;
}

uint32_t ImageView::Map(const std::string& path, uint32_t* sectorCount, MessageSink& messages) {
  Release();
  int fd = OpenForReading(path);
  if (fd < 0) {
    messages.ShowMessage(text::kImageNotFound, MessageCaption::kPost);
    return 0;
  }
  platform_->fd = fd;
  struct stat st {};
  ::fstat(fd, &st);
  uint32_t size = uint32_t(uint64_t(st.st_size));  // files of 4 GiB or more: low 32 bits
  if (sectorCount) *sectorCount = SectorCount(size);
  if (size == 0) return 0;  // an empty file cannot be mapped
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) return 0;
  ::madvise(map, size, MADV_SEQUENTIAL);
  platform_->map = map;
  platform_->mapLength = size;
  data_ = static_cast<const uint8_t*>(map);
  size_ = size;
  return size;
}

uint32_t GetImageFileSize(const std::string& path, MessageSink& messages) {
  int fd = OpenForReading(path);
  if (fd < 0) {
    messages.ShowMessage(text::kImageNotFound, MessageCaption::kPost);
    return 0;
  }
  struct stat st {};
  ::fstat(fd, &st);
  ::close(fd);
  return uint32_t(uint64_t(st.st_size));
}

}  // namespace brenvik
