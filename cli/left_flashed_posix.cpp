#include "left_flashed.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace brenvik::cli {
namespace {

// A device number means something only until the machine starts again.
std::string BootId() {
  std::ifstream in("/proc/sys/kernel/random/boot_id");
  std::string id;
  std::getline(in, id);
  return id;
}

// One field of a line: a tab or a line break inside would split it.
bool Storable(const std::string& field) {
  for (const unsigned char c : field)
    if (c < 0x20 || c == 0x7f) return false;
  return true;
}

}  // namespace

std::string LeftFlashedFile() {
  // systemd may give several state folders, separated by colons: the first is the unit's own.
  if (const char* state = std::getenv("STATE_DIRECTORY"); state && *state) {
    std::string folder(state);
    folder = folder.substr(0, folder.find(':'));
    return folder + "/station-left-flashed";
  }
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
    return std::string(runtime) + "/brenvik-station-left-flashed";
  return {};
}

std::vector<station::LeftFlashed> ReadLeftFlashed(const std::string& file) {
  std::vector<station::LeftFlashed> left;
  std::ifstream in(file);
  std::string line;
  const std::string boot = BootId();
  if (!std::getline(in, line) || boot.empty() || line != boot) return left;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    station::LeftFlashed l;
    if (std::getline(fields, l.identity.port, '\t') && std::getline(fields, l.identity.serial, '\t') &&
        std::getline(fields, l.device) && !l.device.empty())
      left.push_back(std::move(l));
  }
  return left;
}

bool WriteLeftFlashed(const std::string& file, const std::vector<station::LeftFlashed>& left) {
  const std::string boot = BootId();
  if (file.empty() || boot.empty()) return false;
  std::string text = boot + '\n';
  for (const station::LeftFlashed& l : left)
    if (Storable(l.identity.port) && Storable(l.identity.serial) && Storable(l.device))
      text += l.identity.port + '\t' + l.identity.serial + '\t' + l.device + '\n';
  // A new file of our own, never one that a link or an older file put at that name; the rename
  // then replaces the name itself, whatever it was.
  const std::string temporary = file + "." + std::to_string(::getpid());
  ::unlink(temporary.c_str());  // one a stopped station of the same number left
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += size_t(n);
  }
  const bool whole = written == text.size() && ::close(fd) == 0;
  if (!whole || std::rename(temporary.c_str(), file.c_str()) != 0) {
    if (written != text.size()) ::close(fd);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace brenvik::cli
