#include "left_flashed.h"

#include <unistd.h>

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
  const std::string temporary = file + "." + std::to_string(::getpid());
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << boot << '\n';
    for (const station::LeftFlashed& l : left)
      if (Storable(l.identity.port) && Storable(l.identity.serial) && Storable(l.device))
        out << l.identity.port << '\t' << l.identity.serial << '\t' << l.device << '\n';
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), file.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace brenvik::cli
