#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

#include "download/image_view.h"

namespace brenvik {

struct ImageView::Platform {
  int fd = -1;
  void* map = MAP_FAILED;
  size_t mapLength = 0;
  std::string path;
  struct stat identity {};  // as mapped: device, inode, size and times
};

namespace {

const char* WhatItIs(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

}  // namespace

ImageView::ImageView() : platform_(std::make_unique<Platform>()) {}
ImageView::~ImageView() { Release(); }

void ImageView::Release() {
  if (platform_->map != MAP_FAILED) ::munmap(platform_->map, platform_->mapLength);
  if (platform_->fd >= 0) ::close(platform_->fd);
  *platform_ = Platform{};
  data_ = nullptr;
  size_ = 0;
  refusal_ = ImageRefusal::kNone;
  refusalText_.clear();
}

uint32_t ImageView::Map(const std::string& path, uint32_t* sectorCount, MessageSink& messages) {
  Release();
  auto refuse = [&](ImageRefusal why, std::string text) {
    refusal_ = why;
    refusalText_ = std::move(text);
    if (why == ImageRefusal::kUnreadable) messages.ShowMessage(text::kImageNotFound, MessageCaption::kPost);
    return 0u;
  };
  // Looked at before it is opened: opening a FIFO would wait for a writer forever.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return refuse(ImageRefusal::kUnreadable, "cannot open the image " + path + ": " + ::strerror(errno));
  if (!S_ISREG(st.st_mode))
    return refuse(ImageRefusal::kNotRegular, "the image " + path + " is " + WhatItIs(st.st_mode) + ", not a file");
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return refuse(ImageRefusal::kUnreadable, "cannot open the image " + path + ": " + ::strerror(errno));
  platform_->fd = fd;
  // Swapped for something else between the look and the opening: still no image.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    return refuse(ImageRefusal::kNotRegular, "the image " + path + " is " + WhatItIs(st.st_mode) + ", not a file");
  if (uint64_t(st.st_size) > UINT32_MAX)
    return refuse(ImageRefusal::kTooLarge, "the image " + path + " is " + std::to_string(uint64_t(st.st_size)) +
                                               " bytes: images of 4 GiB or more cannot be flashed");
  platform_->path = path;
  platform_->identity = st;
  const uint32_t size = uint32_t(st.st_size);
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

bool ImageView::ReadAt(uint64_t offset, uint8_t* out, size_t size) const {
  if (platform_->fd < 0 || offset > size_ || size > size_ - offset) return false;
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(platform_->fd, out + got, size - got, off_t(offset + got));
    if (n > 0) {
      got += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return false;  // the file ends early: it was cut short
  }
  return true;
}

bool ImageView::Unchanged() const {
  if (platform_->fd < 0) return false;
  const struct stat& was = platform_->identity;
  struct stat now {}, atPath {};
  if (::fstat(platform_->fd, &now) != 0 || ::stat(platform_->path.c_str(), &atPath) != 0) return false;
  return now.st_size == was.st_size && SameTime(now.st_mtim, was.st_mtim) && SameTime(now.st_ctim, was.st_ctim) &&
         atPath.st_dev == was.st_dev && atPath.st_ino == was.st_ino;
}

uint32_t GetImageFileSize(const std::string& path, MessageSink& messages) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    messages.ShowMessage(text::kImageNotFound, MessageCaption::kPost);
    return 0;
  }
  return uint32_t(uint64_t(st.st_size));
}

}  // namespace brenvik
