#include "image_identity.h"

#include <chrono>
#include <filesystem>
#include <system_error>

namespace brenvik::cli {

std::optional<station::ImageIdentity> ReadImageIdentity(const std::string& path) {
  station::ImageIdentity id;
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
  return id;
}

std::string AbsoluteImagePath(const std::string& path) {
  // The bytes as given, through UTF-8 both ways: a narrow path would pass through the C
  // locale and come out as other characters.
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(std::u8string(path.begin(), path.end()), ec);
  if (ec) return path;
  const std::u8string text = absolute.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace brenvik::cli
