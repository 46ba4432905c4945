#include <errno.h>
#include <stddef.h>
#include <fcntl.h>
#include <libusb.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <dirent.h>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "link/bulk_device_file.h"
#include "link/node_kind_posix.h"
#include "link/usb_direct.h"
#include "link/usb_status.h"

namespace brenvik {
namespace {

// The request the ipaq driver's open sends before any data: SET_CONTROL_LINE_STATE with
// DTR raised, to interface 0. Handsets start talking once one gets through; the driver
// tries 100 times, a second apart, each bounded by 100 ms. This tries as often, but no
// longer than the run's timeout, and looks for a stop request every slice of the pause.
constexpr uint8_t kLineStateType = 0x21;  // class request to an interface, host to device
constexpr uint8_t kLineStateRequest = 0x22;
constexpr uint16_t kLineStateValue = 0x0001;
constexpr int kLineStateInterface = 0;
constexpr unsigned kLineStateTimeoutMs = 100;
constexpr int kLineStateTries = 100;
constexpr std::chrono::milliseconds kLineStateRetry{1000};
constexpr std::chrono::milliseconds kStopSlice{100};

// How long after a failed transfer the kernel may take to see that its device was pulled.
constexpr int kGoneWithinMs = 1000;

// One IN transfer's size: whole packets for every bulk packet size up to 1024.
constexpr size_t kReadSize = 4096;

struct Endpoints {
  uint8_t in = 0;
  uint8_t out = 0;
};

// The interface's bulk pair. With two pairs the second is the link, as the driver has it.
bool FindEndpoints(libusb_device_handle* handle, int interfaceNumber, Endpoints& found) {
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(libusb_get_device(handle), &config) != 0) return false;
  std::vector<uint8_t> ins, outs;
  for (int i = 0; i < config->bNumInterfaces; ++i) {
    const libusb_interface& interface = config->interface[i];
    if (interface.num_altsetting < 1 || interface.altsetting[0].bInterfaceNumber != interfaceNumber) continue;
    const libusb_interface_descriptor& alt = interface.altsetting[0];
    for (int e = 0; e < alt.bNumEndpoints; ++e) {
      const libusb_endpoint_descriptor& ep = alt.endpoint[e];
      if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) continue;
      ((ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN ? ins : outs)
          .push_back(ep.bEndpointAddress);
    }
  }
  libusb_free_config_descriptor(config);
  if (ins.empty() || outs.empty()) return false;
  const size_t pair = ins.size() > 1 && outs.size() > 1 ? 1 : 0;
  found = {ins[pair], outs[pair]};
  return true;
}

// A tty's name held while its handset is ours: an abstract socket named after it, seen by
// every process of this network namespace and let go by the kernel however we end.
int BindTtyName(const std::string& path) {
  const std::string name = std::filesystem::path(path).filename().string();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string key = "brenvik-cli/tty/" + name;
  if (name.empty() || key.size() + 1 > sizeof address.sun_path) return -1;
  key.copy(address.sun_path + 1, key.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), socklen_t(offsetof(sockaddr_un, sun_path) + 1 + key.size())) !=
      0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// The tty's own name, through links such as /dev/brenvik/SERIAL.
std::string TtyPathOf(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  const std::string tty = resolved ? resolved : path;
  ::free(resolved);
  return tty;
}

class LibusbPipe : public BulkPipe {
 public:
  LibusbPipe(libusb_context* context, libusb_device_handle* handle, int fd, int interfaceNumber,
             bool lineStateClaimed, Endpoints ep, int ttyName)
      : context_(context), handle_(handle), fd_(fd), interface_(interfaceNumber),
        lineStateClaimed_(lineStateClaimed), ep_(ep), ttyName_(ttyName) {}
  ~LibusbPipe() override { Close(); }

  IoResult In(uint8_t* data, size_t size, std::chrono::milliseconds timeout) override {
    return Transfer(ep_.in, data, size, timeout);
  }
  IoResult Out(const uint8_t* data, size_t size, std::chrono::milliseconds timeout) override {
    // libusb takes one buffer for both directions; an OUT transfer only reads it.
    return Transfer(ep_.out, const_cast<uint8_t*>(data), size, timeout);
  }

  void Close() override {
    if (!handle_) return;
    // Released, but not given back to the driver: the ipaq driver's probe resets the
    // handset's configuration, and the handset would lose what it had taken but not yet
    // handled, the end of the flash among it, after the run was told it went over. The
    // handset stays on the bus without a tty until it is plugged in again; discovery and
    // the next flash find it by its USB device node.
    libusb_set_auto_detach_kernel_driver(handle_, 0);
    libusb_release_interface(handle_, interface_);
    if (lineStateClaimed_) libusb_release_interface(handle_, kLineStateInterface);
    libusb_close(handle_);
    libusb_exit(context_);
    ::close(fd_);
    if (ttyName_ >= 0) ::close(ttyName_);
    handle_ = nullptr;
  }

 private:
  IoResult Transfer(uint8_t endpoint, uint8_t* data, size_t size, std::chrono::milliseconds timeout) {
    if (!handle_) return {IoStatus::kError, 0, EBADF};
    int moved = 0;
    int code = libusb_bulk_transfer(handle_, endpoint, data, int(size), &moved, unsigned(timeout.count()));
    // A device pulled out fails its transfer as a plain I/O error before the kernel has seen
    // it go; the node reports the hang-up once it has. Nothing more is sent to find out.
    if (code == LIBUSB_ERROR_IO) {
      pollfd p{fd_, 0, 0};
      if (::poll(&p, 1, kGoneWithinMs) == 1 && (p.revents & POLLHUP)) code = LIBUSB_ERROR_NO_DEVICE;
    }
    return UsbTransferResult(code, size_t(moved < 0 ? 0 : moved));
  }

  libusb_context* context_;
  libusb_device_handle* handle_;
  int fd_;
  int interface_;
  bool lineStateClaimed_;
  Endpoints ep_;
  int ttyName_;
};

// libusb is told once, before its first context, not to scan the bus: it is handed the one
// device the flasher opened itself.
void NoDeviceDiscovery() {
  static std::once_flag once;
  std::call_once(once, [] { libusb_set_option(nullptr, LIBUSB_OPTION_NO_DEVICE_DISCOVERY); });
}

// Raises the line as the driver's open does, as often as the handset refuses or ignores it,
// until `bounds` end the tries. Returns libusb's code; nothing when a stop request ended it.
std::optional<int> RaiseLine(libusb_device_handle* handle, const OpenBounds& bounds) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + bounds.timeout;
  auto stopped = [&] { return bounds.stop && *bounds.stop != 0; };
  int code = LIBUSB_ERROR_TIMEOUT;
  for (int tries = kLineStateTries; tries > 0; --tries) {
    if (stopped()) return std::nullopt;
    code = libusb_control_transfer(handle, kLineStateType, kLineStateRequest, kLineStateValue, kLineStateInterface,
                                   nullptr, 0, kLineStateTimeoutMs);
    // Tried again only while the handset does not answer; a refusal stays a refusal.
    if (code >= 0 || (code != LIBUSB_ERROR_TIMEOUT && code != LIBUSB_ERROR_PIPE && code != LIBUSB_ERROR_IO)) break;
    if (tries == 1) break;
    const auto next = Clock::now() + kLineStateRetry;
    if (next >= deadline) break;
    while (Clock::now() < next) {
      if (stopped()) return std::nullopt;
      std::this_thread::sleep_for(std::min<Clock::duration>(kStopSlice, next - Clock::now()));
    }
  }
  return code;
}

}  // namespace

DeviceOpening OpenUsbDirect(const UsbPlace& place, const std::string& path, const OpenBounds& bounds) {
  DeviceOpening out;
  OpenResult& r = out.result;
  r.path = path;
  libusb_context* context = nullptr;
  libusb_device_handle* handle = nullptr;
  bool claimed = false;
  bool lineStateClaimed = false;
  int fd = -1;
  int ttyName = -1;
  auto fail = [&](OpenStatus status, int error) {
    if (claimed) libusb_release_interface(handle, place.interfaceNumber);
    if (lineStateClaimed) libusb_release_interface(handle, kLineStateInterface);
    if (handle) libusb_close(handle);
    if (context) libusb_exit(context);
    if (fd >= 0) ::close(fd);
    if (ttyName >= 0) ::close(ttyName);
    r.status = status;
    r.systemError = error;
    return std::move(out);
  };

  // The node is what the user must be allowed to open: a refusal names it beside the path
  // the user named.
  fd = ::open(place.node.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (place.node != path) r.usbNode = place.node;
    return fail(OpenStatus::kCannotOpen, error);
  }
  // Only the USB device that sysfs told: a node swapped for anything else is refused.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || major(st.st_rdev) != kUsbDeviceMajor ||
      major(st.st_rdev) != place.major || minor(st.st_rdev) != place.minor) {
    r.path = place.node;
    r.kind = NodeKindOf(st.st_mode);
    return fail(OpenStatus::kNotHandset, 0);
  }

  NoDeviceDiscovery();
  if (int code = libusb_init(&context); code != 0) {
    context = nullptr;
    return fail(OpenStatus::kCannotOpen, UsbErrno(code));
  }
  if (int code = libusb_wrap_sys_device(context, intptr_t(fd), &handle); code != 0) {
    handle = nullptr;
    return fail(OpenStatus::kCannotOpen, UsbErrno(code));
  }
  Endpoints ep;
  if (!FindEndpoints(handle, place.interfaceNumber, ep)) return fail(OpenStatus::kNotHandset, 0);
  // Detached and claimed in one step, so no other program can take the interface between;
  // one held through usbfs by another program is busy, never taken from it.
  // Held before the tty goes; taken already, it names another handset that got the name
  // since, and the claim below decides.
  if (const std::string tty = TtyPathOf(path); tty != place.node) ttyName = BindTtyName(tty);
  libusb_set_auto_detach_kernel_driver(handle, 1);
  if (int code = libusb_claim_interface(handle, place.interfaceNumber); code != 0)
    return fail(code == LIBUSB_ERROR_BUSY ? OpenStatus::kBusy : OpenStatus::kCannotOpen, UsbErrno(code));
  claimed = true;
  // The line-state request goes to interface 0, which on a composite handset is not the one
  // that carries the link: claimed too, as usbfs wants every interface it is used through.
  // It is not taken from a driver that holds it; the request then fails as it did before.
  if (place.interfaceNumber != kLineStateInterface) {
    libusb_set_auto_detach_kernel_driver(handle, 0);
    lineStateClaimed = libusb_claim_interface(handle, kLineStateInterface) == 0;
    libusb_set_auto_detach_kernel_driver(handle, 1);
  }

  const std::optional<int> code = RaiseLine(handle, bounds);
  if (!code) return fail(OpenStatus::kStopped, 0);
  if (*code < 0) return fail(OpenStatus::kCannotOpen, UsbErrno(*code));

  out.device = std::make_unique<BulkDeviceFile>(
      std::make_unique<LibusbPipe>(context, handle, fd, place.interfaceNumber, lineStateClaimed, ep, ttyName),
      kReadSize);
  return out;
}

bool TtyHeldElsewhere(const std::string& path) {
  struct stat node {};
  if (::stat(path.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return false;
  // A lock of flock() or fcntl() on the node, whoever holds it: "N: FLOCK ... PID MAJ:MIN:INODE ...".
  if (FILE* locks = std::fopen("/proc/locks", "re")) {
    char line[256];
    bool locked = false;
    while (!locked && std::fgets(line, sizeof line, locks)) {
      unsigned major = 0, minor = 0;
      unsigned long inode = 0;
      // The fields after the number: class, mode, type, pid, then the id (a waiter's "->"
      // line does not parse).
      char kind[16], mode[16], type[16];
      long pid = 0;
      if (std::sscanf(line, "%*d: %15s %15s %15s %ld %x:%x:%lu", kind, mode, type, &pid, &major, &minor, &inode) == 7)
        locked = pid != ::getpid() && makedev(major, minor) == node.st_dev && inode == node.st_ino;
    }
    std::fclose(locks);
    if (locked) return true;
  }
  // An open file of another process: every process's descriptors that this one may see.
  DIR* processes = ::opendir("/proc");
  if (!processes) return false;
  const std::string self = std::to_string(::getpid());
  bool held = false;
  while (!held) {
    const dirent* process = ::readdir(processes);
    if (!process) break;
    const std::string pid = process->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
    const std::string fds = "/proc/" + pid + "/fd";
    DIR* dir = ::opendir(fds.c_str());
    if (!dir) continue;  // gone, or not ours to look into
    while (const dirent* fd = ::readdir(dir)) {
      struct stat st {};
      if (fd->d_name[0] == '.' || ::stat((fds + "/" + fd->d_name).c_str(), &st) != 0) continue;
      if (S_ISCHR(st.st_mode) && st.st_rdev == node.st_rdev) {
        held = true;
        break;
      }
    }
    ::closedir(dir);
  }
  ::closedir(processes);
  return held;
}

bool TtyTakenByFlasher(const std::string& path) {
  const int fd = BindTtyName(path);
  if (fd >= 0) ::close(fd);
  return fd < 0 && errno == EADDRINUSE;
}

}  // namespace brenvik
