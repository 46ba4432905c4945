#include "image_identity.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace brenvik::cli {

std::optional<station::ImageIdentity> ReadImageIdentity(const std::string& path) {
  station::ImageIdentity id;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  id.device = uint64_t(st.st_dev);
  id.inode = uint64_t(st.st_ino);
  id.size = uint64_t(st.st_size);
  id.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
  id.ctimeNs = int64_t(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
  return id;
}

std::string AbsoluteImagePath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.string();
}

}  // namespace brenvik::cli
