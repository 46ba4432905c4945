#include "usb_gadget.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

extern char** environ;

namespace brenvik::handset {
namespace {

namespace fs = std::filesystem;

constexpr long kConfigfsMagic = 0x62656570;
// configfs takes 126 bytes for one USB string, counting the newline we write after it.
constexpr size_t kMaxUsbString = 125;
constexpr const char* kNamePrefix = "brenvik-sim-";
constexpr const char* kFunction = "acm.usb0";
constexpr std::chrono::milliseconds kTtyBound{2000};

std::string Failure(const std::string& what) { return what + ": " + ::strerror(errno); }

bool IsDir(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// One write(), as configfs and sysfs want an attribute written.
bool WriteAttr(const std::string& path, const std::string& value, std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    error = Failure("cannot write " + path);
    return false;
  }
  const ssize_t n = ::write(fd, value.data(), value.size());
  const int saved = errno;
  ::close(fd);
  if (n != ssize_t(value.size())) {
    errno = n < 0 ? saved : EIO;
    error = Failure("cannot write " + path);
    return false;
  }
  return true;
}

bool MakeDir(const std::string& path, std::string& error) {
  if (::mkdir(path.c_str(), 0755) == 0) return true;
  error = Failure("cannot create " + path);
  return false;
}

void RunModprobe(const char* module) {
  const char* argv[] = {"modprobe", "-q", module, nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (::posix_spawnp(&pid, "modprobe", &actions, nullptr, const_cast<char**>(argv), environ) == 0) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  posix_spawn_file_actions_destroy(&actions);
}

// Every gadget in configfs goes the same way, whoever laid it out: unbound, its functions
// taken out of its configurations, then its folders from the inside out. configfs's
// attributes are no files: an emptied folder is removed by rmdir alone.
void RemoveGadgetDir(const std::string& dir) {
  std::string ignored;
  WriteAttr(dir + "/UDC", "\n", ignored);
  std::error_code ec;
  auto eachDir = [&ec](const std::string& parent, auto&& f) {
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
    for (const fs::path& p : entries) f(p);
  };
  eachDir(dir + "/configs", [&](const fs::path& config) {
    eachDir(config.string(), [](const fs::path& p) {
      if (fs::is_symlink(p)) ::unlink(p.c_str());
    });
    eachDir(config.string() + "/strings", [](const fs::path& p) { ::rmdir(p.c_str()); });
    ::rmdir(config.c_str());
  });
  eachDir(dir + "/functions", [](const fs::path& p) { ::rmdir(p.c_str()); });
  eachDir(dir + "/strings", [](const fs::path& p) { ::rmdir(p.c_str()); });
  ::rmdir(dir.c_str());
}

}  // namespace

std::string CheckSerial(const std::string& serial) {
  if (serial.size() > kMaxUsbString)
    return "the serial number is " + std::to_string(serial.size()) + " bytes long; a USB string holds at most " +
           std::to_string(kMaxUsbString);
  // configfs drops one final newline, so the device would not say what was asked.
  if (!serial.empty() && serial.back() == '\n') return "the serial number must not end in a newline";
  // The host lists a serial by its sysfs line and names a /dev link after it: a control
  // character there would cut or garble what the bench reads.
  for (const unsigned char c : serial)
    if (c < 0x20 || c == 0x7f) return "the serial number must not hold control characters";
  return "";
}

std::string RandomSerial() {
  std::random_device random;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", unsigned(random()));
  return buf;
}

std::vector<std::string> ListUdcs(const GadgetPaths& paths) {
  std::vector<std::string> udcs;
  std::error_code ec;
  for (fs::directory_iterator it(paths.udcClass, ec), end; !ec && it != end; it.increment(ec))
    udcs.push_back(it->path().filename().string());
  std::sort(udcs.begin(), udcs.end());
  return udcs;
}

std::string GadgetBoundTo(const GadgetPaths& paths, const std::string& udc, const std::string& except) {
  // The UDC names its gadget driver, configfs or not (a g_serial module too).
  const std::string function = ReadLine(paths.udcClass + "/" + udc + "/function");
  if (!function.empty() && function != except) return function;
  std::error_code ec;
  for (fs::directory_iterator it(paths.configfs + "/usb_gadget", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name != except && ReadLine(it->path().string() + "/UDC") == udc) return name;
  }
  return "";
}

UsbGadget::~UsbGadget() { Remove(); }

bool UsbGadget::TakeUdc(const std::string& udc, std::string& error) {
  const std::string lockPath = paths_.locks + "/" + kNamePrefix + udc + ".lock";
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = Failure("cannot open " + lockPath);
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    error = udc + " is served by another handset-sim";
    return false;
  }
  const std::string name = kNamePrefix + udc;
  if (const std::string other = GadgetBoundTo(paths_, udc, name); !other.empty()) {
    ::close(fd);
    error = udc + " is in use by the gadget " + other;
    return false;
  }
  lock_ = fd;
  udc_ = udc;
  dir_ = paths_.configfs + "/usb_gadget/" + name;
  return true;
}

GadgetFailure UsbGadget::Create(const GadgetOptions& o, std::string& error) {
  const GadgetFailure f = Claim(o.udc, error);
  return f == GadgetFailure::kNone ? LayOut(o, error) : f;
}

GadgetFailure UsbGadget::Claim(const std::string& wanted, std::string& error) {
  const std::string gadgets = paths_.configfs + "/usb_gadget";
  if (!IsDir(gadgets)) {
    RunModprobe("libcomposite");
    if (!IsDir(gadgets)) {
      struct statfs fs {};
      if (::statfs(paths_.configfs.c_str(), &fs) != 0 || fs.f_type != kConfigfsMagic) {
        error = "configfs is not mounted at " + paths_.configfs + " (mount -t configfs none " + paths_.configfs + ")";
        return GadgetFailure::kNoConfigfs;
      }
      error = "this kernel has no USB gadget support: " + gadgets + " is missing, also after modprobe libcomposite";
      return GadgetFailure::kNoComposite;
    }
  }
  if (::access(gadgets.c_str(), W_OK) != 0) {
    error = Failure("--gadget needs root: cannot write to " + gadgets);
    return GadgetFailure::kFailed;
  }
  const std::vector<std::string> udcs = ListUdcs(paths_);
  if (udcs.empty()) {
    error = "no USB device controller in " + paths_.udcClass +
            ": this machine has no USB device port, or its driver is not loaded";
    return GadgetFailure::kNoUdc;
  }
  if (!wanted.empty()) {
    if (std::find(udcs.begin(), udcs.end(), wanted) == udcs.end()) {
      error = "no USB device controller " + wanted + " in " + paths_.udcClass;
      return GadgetFailure::kNoUdc;
    }
    if (!TakeUdc(wanted, error)) return GadgetFailure::kNoUdc;
  } else {
    std::string why;
    for (const std::string& udc : udcs)
      if (TakeUdc(udc, why)) break;
    if (udc_.empty()) {
      error = "no free USB device controller in " + paths_.udcClass + " (the last: " + why + ")";
      return GadgetFailure::kNoUdc;
    }
  }
  // Ours by name and by the lock we now hold: left by a run that was killed.
  if (IsDir(dir_)) RemoveGadgetDir(dir_);
  return GadgetFailure::kNone;
}

GadgetFailure UsbGadget::LayOut(const GadgetOptions& o, std::string& error) {
  char id[16];
  auto hex = [&id](uint16_t v) {
    std::snprintf(id, sizeof id, "0x%04x", v);
    return std::string(id);
  };
  const std::string config = dir_ + "/configs/c.1";
  const std::string function = dir_ + "/functions/" + kFunction;
  // An empty serial number is written too: the device then answers its string with
  // nothing, which the host takes as no serial number.
  const bool laidOut = MakeDir(dir_, error) && WriteAttr(dir_ + "/idVendor", hex(o.id.vendor), error) &&
                       WriteAttr(dir_ + "/idProduct", hex(o.id.product), error) &&
                       WriteAttr(dir_ + "/bcdUSB", "0x0200", error) && MakeDir(dir_ + "/strings/0x409", error) &&
                       WriteAttr(dir_ + "/strings/0x409/manufacturer", "Brenvik", error) &&
                       WriteAttr(dir_ + "/strings/0x409/product", "handset-sim", error) &&
                       WriteAttr(dir_ + "/strings/0x409/serialnumber", o.serial + "\n", error) &&
                       MakeDir(config, error) && MakeDir(config + "/strings/0x409", error) &&
                       WriteAttr(config + "/strings/0x409/configuration", "ACM", error);
  if (!laidOut) {
    if (errno == EACCES || errno == EPERM) error += " (--gadget needs root)";
    Remove();
    return GadgetFailure::kFailed;
  }
  if (!MakeDir(function, error)) {
    const bool missing = errno == ENOENT || errno == ENODEV;
    if (missing) error = "this kernel has no ACM gadget function (usb_f_acm): " + error;
    Remove();
    return missing ? GadgetFailure::kNoComposite : GadgetFailure::kFailed;
  }
  if (::symlink(function.c_str(), (config + "/" + kFunction).c_str()) != 0) {
    error = Failure("cannot add the ACM function to " + config);
    Remove();
    return GadgetFailure::kFailed;
  }
  const std::string port = ReadLine(function + "/port_num");
  if (port.empty() || !std::all_of(port.begin(), port.end(), ::isdigit)) {
    error = "cannot read the ACM function's port number from " + function + "/port_num";
    Remove();
    return GadgetFailure::kFailed;
  }
  tty_ = paths_.devices + "/ttyGS" + port;
  // devtmpfs makes the node at once; udev may still be renaming or chowning it.
  const auto deadline = std::chrono::steady_clock::now() + kTtyBound;
  while (::access(tty_.c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return GadgetFailure::kNone;
}

bool UsbGadget::Bind(std::string& error) {
  if (WriteAttr(dir_ + "/UDC", udc_ + "\n", error)) return true;
  if (errno == EBUSY) error = udc_ + " is in use by another gadget (" + error + ")";
  return false;
}

bool UsbGadget::Bound() const { return !dir_.empty() && !ReadLine(dir_ + "/UDC").empty(); }

void UsbGadget::Unbind() {
  if (!Bound()) return;  // unplugged already: the far side's doing
  std::string ignored;
  WriteAttr(dir_ + "/UDC", "\n", ignored);
}

void UsbGadget::Remove() {
  if (!dir_.empty() && IsDir(dir_)) RemoveGadgetDir(dir_);
  dir_.clear();
  if (lock_ >= 0) ::close(lock_);
  lock_ = -1;
}

}  // namespace brenvik::handset
