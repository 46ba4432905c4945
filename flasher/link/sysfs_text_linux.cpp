#include "link/sysfs_text.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>

namespace brenvik::sysfs {
namespace {

namespace fs = std::filesystem;

// Sysfs attributes are a page at most; anything longer is no attribute.
constexpr size_t kAttributeLimit = 4096;

}  // namespace

bool HasNoControlCharacters(const std::string& s) {
  return std::none_of(s.begin(), s.end(), [](char c) { return (unsigned char)c < 0x20 || c == 0x7F; });
}

std::optional<std::string> ReadAttribute(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text(kAttributeLimit + 1, '\0');
  size_t got = 0;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  while (ok && got < text.size()) {
    const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n == 0) break;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    else got += size_t(n);
  }
  ::close(fd);
  if (!ok || got > kAttributeLimit) return std::nullopt;
  text.resize(got);
  return text;
}

std::string ReadLine(const fs::path& file) {
  std::string line = ReadAttribute(file).value_or("");
  line = line.substr(0, line.find('\n'));
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return HasNoControlCharacters(line) ? line : std::string();
}

std::string ReadValue(const fs::path& file) {
  std::string value = ReadAttribute(file).value_or("");
  if (!value.empty() && value.back() == '\n') value.pop_back();
  return value;
}

std::string LinkName(const fs::path& link) {
  std::error_code ec;
  fs::path target = fs::read_symlink(link, ec);
  const std::string name = ec ? std::string() : target.filename().string();
  return HasNoControlCharacters(name) ? name : std::string();
}

std::string UeventValue(const fs::path& uevent, const std::string& key) {
  const std::string text = ReadAttribute(uevent).value_or("");
  const std::string prefix = key + "=";
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    if (text.compare(at, prefix.size(), prefix) == 0) return text.substr(at + prefix.size(), end - at - prefix.size());
    at = end + 1;
  }
  return "";
}

fs::path Root(const std::string& given) {
  if (!given.empty()) return given;
  const char* env = std::getenv("SYSFS_PATH");
  return env && *env ? env : "/sys";
}

bool Inside(const fs::path& root, const fs::path& p) {
  return std::mismatch(root.begin(), root.end(), p.begin(), p.end()).first == root.end();
}

}  // namespace brenvik::sysfs
