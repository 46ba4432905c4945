// Finding handsets on Linux in sysfs: every tty that the ipaq usb-serial driver bound, and
// any ttyUSB or ttyACM whose USB device has an id the caller names (a handset missing from
// the driver's table, bound by another driver).
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "link/device_discovery.h"

namespace brenvik {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHandsetDriver = "ipaq";

std::string ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

std::string LinkName(const fs::path& link) {
  std::error_code ec;
  fs::path target = fs::read_symlink(link, ec);
  return ec ? std::string() : target.filename().string();
}

// The node's name under /dev: the kernel's DEVNAME, which may name a subfolder.
std::string DevName(const fs::path& ttyEntry) {
  std::ifstream in(ttyEntry / "uevent");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("DEVNAME=", 0) == 0) return line.substr(8);
  return ttyEntry.filename().string();
}

// The tty's device folder and the USB device above it (the first ancestor with an id).
struct TtyPlace {
  fs::path device;
  fs::path usbDevice;
};

bool Place(const fs::path& ttyEntry, TtyPlace& place) {
  std::error_code ec;
  place.device = fs::canonical(ttyEntry / "device", ec);
  if (ec) return false;
  for (fs::path p = place.device; p.has_relative_path(); p = p.parent_path()) {
    if (fs::exists(p / "idVendor", ec) && fs::exists(p / "idProduct", ec)) {
      place.usbDevice = p;
      return true;
    }
  }
  return false;
}

// ttyUSB2 before ttyUSB10: by prefix, then by number.
bool TtyOrder(const std::string& a, const std::string& b) {
  auto split = [](const std::string& s) {
    size_t digits = s.find_last_not_of("0123456789") + 1;
    return std::pair(s.substr(0, digits), digits < s.size() ? std::stoul(s.substr(digits)) : 0UL);
  };
  return split(a) < split(b);
}

fs::path SysfsRoot(const DiscoveryQuery& query) {
  if (!query.sysfsRoot.empty()) return query.sysfsRoot;
  const char* env = std::getenv("SYSFS_PATH");
  return env && *env ? env : "/sys";
}

}  // namespace

DiscoveryResult FindHandsets(const DiscoveryQuery& query) {
  DiscoveryResult result;
  const fs::path ttys = SysfsRoot(query) / "class" / "tty";
  std::error_code ec;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(ttys, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), TtyOrder);
  for (const std::string& name : names) {
    const fs::path ttyEntry = ttys / name;
    TtyPlace place;
    if (!Place(ttyEntry, place)) continue;
    FoundHandset h;
    h.driver = LinkName(place.device / "driver");
    UsbId id;
    const bool hasId = ParseUsbId(ReadLine(place.usbDevice / "idVendor") + ":" +
                                      ReadLine(place.usbDevice / "idProduct"), id);
    const bool named = hasId && std::find(query.extraIds.begin(), query.extraIds.end(), id) != query.extraIds.end();
    if (h.driver != kHandsetDriver && !named) continue;
    h.path = "/dev/" + DevName(ttyEntry);
    if (hasId) h.usbId = UsbIdText(id);
    h.serial = ReadLine(place.usbDevice / "serial");
    h.usbPort = place.usbDevice.filename().string();
    result.handsets.push_back(std::move(h));
  }
  return result;
}

bool ClassSearchAvailable() { return false; }

}  // namespace brenvik
