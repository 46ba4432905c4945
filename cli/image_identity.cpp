#include "image_identity.h"

#include <chrono>
#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace brenvik::cli {

std::optional<station::ImageIdentity> ReadImageIdentity(const std::string& path) {
  station::ImageIdentity id;
#ifndef _WIN32
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  id.device = uint64_t(st.st_dev);
  id.inode = uint64_t(st.st_ino);
  id.size = uint64_t(st.st_size);
  id.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
  id.ctimeNs = int64_t(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
#else
  // The file index would need a handle of its own; the size and the last write time tell a
  // replaced release as well here.
  std::error_code ec;
  const std::filesystem::path p(std::u8string(path.begin(), path.end()));
  if (!std::filesystem::is_regular_file(p, ec)) return std::nullopt;
  id.size = std::filesystem::file_size(p, ec);
  if (ec) return std::nullopt;
  const auto written = std::filesystem::last_write_time(p, ec);
  if (ec) return std::nullopt;
  id.mtimeNs = std::chrono::duration_cast<std::chrono::nanoseconds>(written.time_since_epoch()).count();
#endif
  return id;
}

}  // namespace brenvik::cli
