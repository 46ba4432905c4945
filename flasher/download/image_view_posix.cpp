#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "download/image_view.h"
#include "link/node_kind_posix.h"

namespace brenvik {

struct ImageView::Platform {
  int fd = -1;
  void* map = MAP_FAILED;
  size_t mapLength = 0;
  size_t released = 0;  // pages before this offset were given back
  struct stat identity {};  // as mapped: device, inode, size and times
};

namespace {

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

}  // namespace

ImageView::ImageView() : m_platform(std::make_unique<Platform>()) {}
ImageView::~ImageView() { Release(); }

void ImageView::Release() {
  if (m_platform->map != MAP_FAILED) ::munmap(m_platform->map, m_platform->mapLength);
  if (m_platform->fd >= 0) ::close(m_platform->fd);
  *m_platform = Platform{};
  m_data = nullptr;
  m_size = 0;
}

MapResult MapImageFile(ImageView& view, const std::string& path) {
  view.Release();
  ImageView::Platform& p = *view.m_platform;
  MapResult r;
  auto refuse = [&](ImageRefusal why) {
    r.refusal = why;
    return r;
  };
  // Looked at before it is opened: opening a FIFO would wait for a writer forever.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    r.systemError = errno;
    return refuse(ImageRefusal::kUnreadable);
  }
  r.kind = NodeKindOf(st.st_mode);
  if (!S_ISREG(st.st_mode)) return refuse(ImageRefusal::kNotRegular);
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    r.systemError = errno;
    return refuse(ImageRefusal::kUnreadable);
  }
  p.fd = fd;
  // Swapped for something else between the look and the opening: still no image.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    r.kind = NodeKindOf(st.st_mode);
    view.Release();
    return refuse(ImageRefusal::kNotRegular);
  }
  r.fileSize = uint64_t(st.st_size);
  if (r.fileSize > UINT32_MAX) {
    view.Release();
    return refuse(ImageRefusal::kTooLarge);
  }
  p.identity = st;
  const uint32_t size = uint32_t(st.st_size);
  r.sectorCount = SectorCount(size);
  if (size == 0) return r;  // an empty file cannot be mapped
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) {  // no address space left, say: the caller tells the system's reason
    r.systemError = errno;
    return r;
  }
  ::madvise(map, size, MADV_SEQUENTIAL);
  p.map = map;
  p.mapLength = size;
  view.m_data = static_cast<const uint8_t*>(map);
  view.m_size = size;
  r.size = size;
  return r;
}

void ImageView::DoneBefore(uint64_t offset) const {
  Platform& p = *m_platform;
  if (p.map == MAP_FAILED) return;
  static const uint64_t kPage = uint64_t(::sysconf(_SC_PAGESIZE));
  const size_t end = size_t(std::min<uint64_t>(offset, p.mapLength) / kPage * kPage);
  if (end <= p.released) return;
  // A shared read-only file mapping: the pages come back from the file if read again.
  ::madvise(static_cast<uint8_t*>(p.map) + p.released, end - p.released, MADV_DONTNEED);
  p.released = end;
}

bool ImageView::ReadAt(uint64_t offset, uint8_t* out, size_t size) const {
  if (m_platform->fd < 0 || offset > m_size || size > m_size - offset) return false;
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(m_platform->fd, out + got, size - got, off_t(offset + got));
    if (n > 0) {
      got += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return false;  // the file ends early: it was cut short
  }
  return true;
}

// The mapped file itself, not what its path names now: a release moved into place (or the
// file renamed or deleted) leaves the mapped bytes as they were. Only the size and the
// write time: a rename or an unlink changes the status time of an untouched file.
bool ImageView::Unchanged() const {
  if (m_platform->fd < 0) return false;
  const struct stat& was = m_platform->identity;
  struct stat now {};
  if (::fstat(m_platform->fd, &now) != 0) return false;
  return now.st_size == was.st_size && SameTime(now.st_mtim, was.st_mtim);
}

std::optional<uint32_t> GetImageFileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) > UINT32_MAX) return {};
  return uint32_t(st.st_size);
}

}  // namespace brenvik
