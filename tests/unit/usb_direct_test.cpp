// The handset reached over usbfs: bulk reads buffered, libusb's errors told as the tty's
// are, and the USB device and interface found in sysfs from a tty or a usbfs node.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <libusb.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <deque>
#include <filesystem>
#include <fstream>
#include <thread>

#include "link/bulk_device_file.h"
#include "link/device_discovery.h"
#include "link/usb_direct.h"
#include "link/usb_place.h"
#include "link/usb_status.h"

namespace brenvik {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

// A pipe that plays its IN transfers from a script and records what went out.
struct ScriptedPipe : BulkPipe {
  struct Step {
    Bytes bytes;
    IoStatus status = IoStatus::kOk;
  };
  std::deque<Step> ins;
  std::deque<Step> outs;  // the count of `bytes` is what the device takes
  Bytes written;
  std::vector<size_t> asked;
  bool closed = false;
  bool* closedOut = nullptr;  // outlives the pipe, which its file destroys on Close
  bool stuck = false;  // takes nothing, and each transfer waits out its bound

  IoResult In(uint8_t* data, size_t size, milliseconds) override {
    asked.push_back(size);
    if (ins.empty()) return {IoStatus::kTimeout, 0};
    Step s = ins.front();
    ins.pop_front();
    const size_t n = std::min(size, s.bytes.size());
    std::copy_n(s.bytes.begin(), n, data);
    return {s.status, n};
  }
  IoResult Out(const uint8_t* data, size_t size, milliseconds timeout) override {
    if (stuck) {
      std::this_thread::sleep_for(timeout);
      return {IoStatus::kTimeout, 0};
    }
    if (outs.empty()) {
      written.insert(written.end(), data, data + size);
      return {IoStatus::kOk, size};
    }
    Step s = outs.front();
    outs.pop_front();
    const size_t n = std::min(size, s.bytes.size());
    written.insert(written.end(), data, data + n);
    return {s.status, n};
  }
  void Close() override {
    closed = true;
    if (closedOut) *closedOut = true;
  }
};

Bytes Seq(uint8_t first, size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(first + i);
  return b;
}

TEST(BulkDeviceFile, ReadsHandOutExactlyWhatWasAskedAndKeepTheRest) {
  struct Case {
    const char* name;
    std::vector<ScriptedPipe::Step> transfers;
    std::vector<size_t> reads;
    std::vector<IoResult> want;
  } cases[] = {
      {"one transfer, two reads", {{Seq(0, 16)}}, {8, 8}, {{IoStatus::kOk, 8}, {IoStatus::kOk, 8}}},
      {"a packet in pieces", {{Seq(0, 5)}, {Seq(5, 11)}}, {16}, {{IoStatus::kOk, 16}}},
      {"more than asked, then a time-out", {{Seq(0, 20)}}, {16, 16}, {{IoStatus::kOk, 16}, {IoStatus::kTimeout, 4}}},
      {"an empty transfer is no end", {{{}}, {Seq(0, 4)}}, {4}, {{IoStatus::kOk, 4}}},
      {"gone after some bytes", {{Seq(0, 3)}, {{}, IoStatus::kHangUp}}, {16}, {{IoStatus::kHangUp, 3}}},
      {"buffered bytes go first, then the hang-up", {{Seq(0, 24)}, {{}, IoStatus::kHangUp}}, {16, 16},
       {{IoStatus::kOk, 16}, {IoStatus::kHangUp, 8}}},
  };
  for (const Case& c : cases) {
    auto pipe = std::make_unique<ScriptedPipe>();
    ScriptedPipe* p = pipe.get();
    p->ins.assign(c.transfers.begin(), c.transfers.end());
    BulkDeviceFile file(std::move(pipe), 512);
    Bytes all;
    for (size_t i = 0; i < c.reads.size(); ++i) {
      Bytes got(c.reads[i]);
      const IoResult r = file.Read(got.data(), got.size(), milliseconds(30));
      EXPECT_EQ(r.status, c.want[i].status) << c.name << " read " << i;
      EXPECT_EQ(r.count, c.want[i].count) << c.name << " read " << i;
      all.insert(all.end(), got.begin(), got.begin() + std::min(r.count, got.size()));
    }
    EXPECT_EQ(all, Seq(0, all.size())) << c.name << ": no byte lost, doubled or reordered";
    for (size_t asked : p->asked) EXPECT_EQ(asked, 512u) << c.name << ": whole packets are asked for";
  }
}

TEST(BulkDeviceFile, WritesPassEveryByteOnceAndStopOrFailAsTheTtyDoes) {
  struct Case {
    const char* name;
    std::vector<ScriptedPipe::Step> outs;
    size_t size;
    bool stop;
    IoResult want;
  } cases[] = {
      {"whole", {}, 4096, false, {IoStatus::kOk, 4096}},
      {"taken in parts across time-outs", {{Seq(0, 100), IoStatus::kTimeout}, {Seq(0, 0), IoStatus::kTimeout}},
       4096, false, {IoStatus::kOk, 4096}},
      {"gone midway", {{Seq(0, 1000), IoStatus::kHangUp}}, 4096, false, {IoStatus::kHangUp, 1000}},
      {"a stall", {{Seq(0, 0), IoStatus::kError}}, 64, false, {IoStatus::kError, 0}},
      {"nothing is sent for nothing", {}, 0, false, {IoStatus::kOk, 0}},
      {"a stop before the packet sends none of it", {}, 64, true, {IoStatus::kStopped, 0}},
  };
  for (const Case& c : cases) {
    auto pipe = std::make_unique<ScriptedPipe>();
    ScriptedPipe* p = pipe.get();
    p->outs.assign(c.outs.begin(), c.outs.end());
    BulkDeviceFile file(std::move(pipe), 512);
    volatile std::sig_atomic_t stop = c.stop;
    file.SetStopFlag(&stop);
    const Bytes data = Seq(7, c.size);
    const IoResult r = file.Write(data.data(), data.size(), milliseconds(1000));
    EXPECT_EQ(r.status, c.want.status) << c.name;
    EXPECT_EQ(r.count, c.want.count) << c.name;
    EXPECT_EQ(p->written, Bytes(data.begin(), data.begin() + r.count)) << c.name;
  }
}

TEST(BulkDeviceFile, ATimeOutIsToldWithWhatMovedAndCloseGivesTheInterfaceBack) {
  auto pipe = std::make_unique<ScriptedPipe>();
  ScriptedPipe* p = pipe.get();
  p->stuck = true;
  bool gaveBack = false;
  p->closedOut = &gaveBack;
  BulkDeviceFile file(std::move(pipe), 512);
  const Bytes data = Seq(0, 64);
  EXPECT_EQ(file.Write(data.data(), data.size(), milliseconds(20)).status, IoStatus::kTimeout);
  file.Close();
  EXPECT_TRUE(gaveBack);
  EXPECT_EQ(file.Read(nullptr, 0, milliseconds(0)).status, IoStatus::kError) << "closed is closed";
}

TEST(UsbTransferResult, TellsLibusbErrorsAsTheTtyTellsItsOwn) {
  struct Case {
    int code;
    IoStatus status;
    int error;
  } cases[] = {
      {LIBUSB_SUCCESS, IoStatus::kOk, 0},
      {LIBUSB_ERROR_TIMEOUT, IoStatus::kTimeout, 0},
      {LIBUSB_ERROR_NO_DEVICE, IoStatus::kHangUp, EIO},  // as a tty's read once its device left
      {LIBUSB_ERROR_IO, IoStatus::kError, EIO},
      {LIBUSB_ERROR_PIPE, IoStatus::kError, EPIPE},
      {LIBUSB_ERROR_OVERFLOW, IoStatus::kError, EOVERFLOW},
      {LIBUSB_ERROR_ACCESS, IoStatus::kError, EACCES},
      {LIBUSB_ERROR_OTHER, IoStatus::kError, EIO},
  };
  for (const Case& c : cases) {
    const IoResult r = UsbTransferResult(c.code, 12);
    EXPECT_EQ(r.status, c.status) << c.code;
    EXPECT_EQ(r.count, 12u) << c.code << ": what moved before the error is kept";
    EXPECT_EQ(r.systemError, c.error) << c.code;
  }
}

// A sysfs tree as the kernel lays out a handset of the ipaq driver: the USB device with its
// ids, serial and usbfs node, the vendor interface with its bulk pair, and the tty under it
// while the driver has it.
class Tree {
 public:
  Tree() {
    char dir[] = "/tmp/brenvik-sysfs-XXXXXX";
    root_ = ::mkdtemp(dir);
    Write(root_ / "modules.alias",
          "alias usb:v0BB4p00CEd*dc*dsc*dp*ic*isc*ip*in* ipaq\n"
          "alias usb:v049Fp0003d*dc*dsc*dp*ic*isc*ip*in* ipaq\n"
          "alias usb:v0403p6001d*dc*dsc*dp*ic*isc*ip*in* ftdi_sio\n");
  }
  ~Tree() { fs::remove_all(root_); }
  std::string Root() const { return root_.string(); }
  std::string Alias() const { return (root_ / "modules.alias").string(); }
  UsbLookup Lookup() const { return {Root(), Alias()}; }

  // A handset at `port` (bus 1), its interface 1 bound to `driver` ("" for none), with a
  // tty when that is ipaq.
  void Handset(const std::string& port, unsigned devnum, const std::string& id, const std::string& driver,
               unsigned ttyMinor, bool bulkPair = true) {
    const fs::path usb = Usb(port);
    fs::create_directories(usb);
    Write(usb / "idVendor", id.substr(0, 4) + "\n");
    Write(usb / "idProduct", id.substr(5) + "\n");
    Write(usb / "serial", "SER" + port + "\n");
    Write(usb / "dev", "189:" + std::to_string(devnum - 1) + "\n");
    char node[32];
    std::snprintf(node, sizeof node, "bus/usb/001/%03u", devnum);
    Write(usb / "uevent", std::string("MAJOR=189\nDEVNAME=") + node + "\nDEVTYPE=usb_device\n");
    Link(root_ / "dev/char" / ("189:" + std::to_string(devnum - 1)), usb);
    // Interface 0: the control interface, no bulk pair; interface 1 carries the link.
    for (int n : {0, 1}) {
      const fs::path i = usb / (port + ":1." + std::to_string(n));
      fs::create_directories(i);
      Write(i / "bInterfaceNumber", "0" + std::to_string(n) + "\n");
      Write(i / "modalias", "usb:v" + Upper(id.substr(0, 4)) + "p" + Upper(id.substr(5)) +
                                "d0000dc00dsc00dp00icFFisc00ip00in0" + std::to_string(n) + "\n");
      Link(root_ / "bus/usb/devices" / i.filename(), i);
      if (n == 1 && bulkPair) {
        Endpoint(i / "ep_81", "in");
        Endpoint(i / "ep_02", "out");
      }
    }
    Bind(port, driver, ttyMinor);
  }

  void NewId(const std::string& line) { Write(root_ / "bus/usb/drivers/ipaq/new_id", line + "\n"); }

  void Bind(const std::string& port, const std::string& driver, unsigned ttyMinor) {
    const fs::path i = Usb(port) / (port + ":1.1");
    fs::remove(i / "driver");
    for (const auto& e : fs::directory_iterator(i)) {
      const std::string name = e.path().filename().string();
      if (name.rfind("ttyUSB", 0) != 0) continue;
      fs::remove_all(e.path());
      fs::remove(root_ / "class/tty" / name);
    }
    if (driver.empty()) return;
    Link(i / "driver", root_ / "bus/usb/drivers" / driver);
    if (driver == "usbfs") return;
    const std::string name = "ttyUSB" + std::to_string(ttyMinor);
    const fs::path portDir = i / name, tty = portDir / "tty" / name;
    fs::create_directories(tty);
    Link(portDir / "driver", root_ / "bus/usb-serial/drivers" / driver);
    Link(tty / "device", portDir);
    Write(tty / "uevent", "MAJOR=188\nMINOR=" + std::to_string(ttyMinor) + "\nDEVNAME=" + name + "\n");
    Link(root_ / "class/tty" / name, tty);
    Link(root_ / "dev/char" / ("188:" + std::to_string(ttyMinor)), tty);
  }

 private:
  fs::path Usb(const std::string& port) const { return root_ / "devices/pci0000:00/0000:00:14.0/usb1" / port; }
  static std::string Upper(std::string s) {
    for (char& c : s) c = char(std::toupper((unsigned char)c));
    return s;
  }
  static void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
  }
  static void Link(const fs::path& link, const fs::path& target) {
    fs::create_directories(link.parent_path());
    fs::create_directories(target);
    fs::remove(link);
    fs::create_symlink(fs::relative(target, link.parent_path()), link);
  }
  static void Endpoint(const fs::path& dir, const std::string& direction) {
    Write(dir / "type", "Bulk\n");
    Write(dir / "direction", direction + "\n");
  }
  fs::path root_;
};

TEST(HandsetUsbPlace, FindsTheInterfaceBehindAnIpaqTtyOrAUsbfsNodeAndNothingElse) {
  Tree t;
  t.Handset("1-1", 2, "049f:0003", "ipaq", 0);
  t.Handset("1-2", 3, "0403:6001", "ftdi_sio", 1);  // a serial adapter on the bench
  t.Handset("1-3", 4, "049f:0003", "usbfs", 0);     // held by a flasher
  t.Handset("1-4", 5, "0403:6001", "", 0);          // no driver, not in the ipaq table
  t.Handset("1-5", 6, "049f:0003", "", 0, false);   // no bulk pair: not the driver's to bind
  t.Handset("1-6", 7, "0bb4:00ce", "", 0);          // flashed before: no driver since
  t.Handset("1-7", 8, "1234:5678", "usbfs", 0);     // the driver's id given at run time
  t.NewId("1234 5678");
  struct Case {
    unsigned major, minor;
    const char* port;  // "" for none
    const char* node;
    const char* driver;
  } cases[] = {
      {188, 0, "1-1", "/dev/bus/usb/001/002", "ipaq"},
      {188, 1, "", "", ""},
      {189, 1, "1-1", "/dev/bus/usb/001/002", "ipaq"},
      {189, 3, "1-3", "/dev/bus/usb/001/004", "usbfs"},
      {189, 4, "", "", ""},
      {189, 5, "", "", ""},
      {189, 6, "1-6", "/dev/bus/usb/001/007", ""},
      {189, 7, "1-7", "/dev/bus/usb/001/008", "usbfs"},
      {136, 3, "", "", ""},  // a pty
  };
  for (const Case& c : cases) {
    const auto place = HandsetUsbPlace(c.major, c.minor, t.Lookup());
    const std::string what = std::to_string(c.major) + ":" + std::to_string(c.minor);
    ASSERT_EQ(place.has_value(), *c.port != 0) << what;
    if (!place) continue;
    EXPECT_EQ(place->port, c.port) << what;
    EXPECT_EQ(place->node, c.node) << what;
    EXPECT_EQ(place->driver, c.driver) << what;
    EXPECT_EQ(place->interfaceNumber, 1) << what;
    EXPECT_EQ(place->minor + 1, unsigned(std::stoi(std::string(c.node).substr(17)))) << what;
  }
}

// While the flasher holds a handset, and between two drivers, it has no tty: discovery must
// still show the same handset (its port and serial), or the station would take its return
// for a new arrival and flash it again.
TEST(FindHandsets, AHandsetWithoutItsTtyIsStillThereAsTheSameHandset) {
  Tree t;
  t.Handset("1-1", 2, "049f:0003", "ipaq", 0);
  t.Handset("1-2", 3, "049f:0003", "ipaq", 1);
  DiscoveryQuery q;
  q.sysfsRoot = t.Root();
  q.modulesAlias = t.Alias();
  auto ports = [&] {
    std::vector<std::string> seen;
    for (const FoundHandset& h : FindHandsets(q).handsets) seen.push_back(h.usbPort + " " + h.serial + " " + h.path + " " + h.driver);
    return seen;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(ports(), (V{"1-1 SER1-1 /dev/ttyUSB0 ipaq", "1-2 SER1-2 /dev/ttyUSB1 ipaq"}));
  t.Bind("1-1", "usbfs", 0);
  EXPECT_EQ(ports(), (V{"1-2 SER1-2 /dev/ttyUSB1 ipaq", "1-1 SER1-1 /dev/bus/usb/001/002 usbfs"}));
  t.Bind("1-1", "", 0);
  EXPECT_EQ(ports(), (V{"1-2 SER1-2 /dev/ttyUSB1 ipaq", "1-1 SER1-1 /dev/bus/usb/001/002 "}));
  t.Bind("1-1", "ipaq", 2);
  EXPECT_EQ(ports(), (V{"1-2 SER1-2 /dev/ttyUSB1 ipaq", "1-1 SER1-1 /dev/ttyUSB2 ipaq"}));
}

// A tty that another process holds, open or locked, is not to be taken; our own hold and a
// holder that has ended do not count.
TEST(TtyHeldElsewhere, SeesAnotherProcessHoldingTheTty) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master) | ::unlockpt(master), 0);
  const std::string tty = ::ptsname(master);
  for (const bool lock : {false, true}) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
      const int fd = ::open(tty.c_str(), O_RDWR | O_NOCTTY);
      if (fd < 0 || (lock && ::flock(fd, LOCK_EX) != 0)) ::_exit(1);
      (void)!::write(ready[1], "x", 1);
      ::pause();
      ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    EXPECT_TRUE(TtyHeldElsewhere(tty)) << "lock " << lock;
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
  }
  const int own = ::open(tty.c_str(), O_RDWR | O_NOCTTY);
  EXPECT_FALSE(TtyHeldElsewhere(tty));
  ::close(own);
  ::close(master);
}

}  // namespace
}  // namespace brenvik
