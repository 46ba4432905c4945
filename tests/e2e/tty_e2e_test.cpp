// handset-sim serving a serial device that exists already: the slave of a pty the test
// opened stands for the gadget's tty or the cable, its master for the PC.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <nlohmann/json.hpp>

#include "link/packets.h"
#include "pc_streams.h"
#include "sim_process.h"

namespace brenvik {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::Bytes;
using testing::PcStream;
using testing::Pattern;
using namespace std::chrono_literals;

class ServedTty : public ::testing::Test {
 public:  // the cases' lambdas act on the fixture
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("handset-tty-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
            std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    char name[256];
    ASSERT_EQ(::openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    device_ = name;
    // Only the test may hold the PC's end: an inherited copy would keep the line up.
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    // The kernel's default line settings, as a fresh gadget tty has them.
    ASSERT_EQ(::tcgetattr(slave_, &before_), 0);
    ASSERT_TRUE(before_.c_lflag & ECHO);
  }
  void TearDown() override {
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    fs::remove_all(dir_);
  }

  void Start(std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"--tty", device_, "--out", (dir_ / "out").string(), "--timeout", "5"});
    std::string error;
    ASSERT_TRUE(sim_.Start(HANDSET_SIM_PATH, args, error)) << error;
    ASSERT_EQ(sim_.FirstLine(5s), device_);
  }

  // What the handset sent, up to `size` bytes or until `bound` passes.
  Bytes ReadFromHandset(size_t size, std::chrono::milliseconds bound) {
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (got.size() < size && std::chrono::steady_clock::now() < deadline) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      uint8_t buf[256];
      const ssize_t n = ::read(master_, buf, std::min(sizeof buf, size - got.size()));
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

  void Send(const Bytes& bytes) {
    for (size_t put = 0; put < bytes.size();) {
      const ssize_t n = ::write(master_, bytes.data() + put, bytes.size() - put);
      ASSERT_GT(n, 0);
      put += size_t(n);
    }
  }

  json Summary() const {
    std::ifstream in(dir_ / "out" / "summary.json");
    return in ? json::parse(in, nullptr, false) : json();
  }

  bool SettingsAsBefore() const {
    termios now{};
    if (::tcgetattr(slave_, &now) != 0) return false;
    return now.c_iflag == before_.c_iflag && now.c_oflag == before_.c_oflag && now.c_cflag == before_.c_cflag &&
           now.c_lflag == before_.c_lflag && std::equal(now.c_cc, now.c_cc + NCCS, before_.c_cc);
  }

  fs::path dir_;
  int master_ = -1, slave_ = -1;
  std::string device_;
  termios before_{};
  testing::SimProcess sim_;
};

TEST_F(ServedTty, ServesADownloadRawAndLeavesTheSettingsAsTheyWere) {
  Start();
  // The acknowledgement comes as it is: raw, not echoed back, no CR added.
  EXPECT_EQ(ReadFromHandset(16, 5s), Bytes(16, UPGRADE_ACK_BYTE));
  const Bytes image = Pattern(BLOCK_SIZE + 300, 9);  // a 0x0a or 0x0d must not be translated
  PcStream s;
  s.Kind(1).Blocks(image);
  Send(s.Data());
  EXPECT_EQ(ReadFromHandset(32, 5s), Bytes(32, READY_BYTE));
  EXPECT_EQ(sim_.Wait(10s), 0);
  EXPECT_EQ(Summary().value("complete", false), true);
  EXPECT_TRUE(testing::ReadFile((dir_ / "out" / "image.bin").string()) == image);
  EXPECT_TRUE(SettingsAsBefore());
}

TEST_F(ServedTty, EndsWithoutHangingAndRestoresTheSettings) {
  struct Case {
    const char* name;
    std::function<void(ServedTty&)> end;
    int exit;
    const char* error;  // in the summary, when the session began
  } cases[] = {
      {"stopped by SIGTERM", [](ServedTty& t) { t.sim_.Signal(SIGTERM); }, 1, "stopped while waiting"},
      {"stopped by SIGINT", [](ServedTty& t) { t.sim_.Signal(SIGINT); }, 1, "stopped while waiting"},
      // The host unplugged: the slave is hung up, its reads end and poll says POLLHUP.
      {"the far side hangs up", [](ServedTty& t) { ::close(t.master_); t.master_ = -1; }, 1, "the link failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    Start();
    ASSERT_EQ(ReadFromHandset(16, 5s).size(), 16u);
    PcStream s;
    s.Kind(1);
    Send(s.Data());  // the session has begun: its end is reported
    std::this_thread::sleep_for(200ms);
    c.end(*this);
    EXPECT_EQ(sim_.Wait(5s), c.exit);  // well before --timeout: no waiting out the silence
    EXPECT_NE(Summary().dump().find(c.error), std::string::npos) << Summary().dump();
    if (master_ >= 0) {
      EXPECT_TRUE(SettingsAsBefore());
    }
  }
}

TEST_F(ServedTty, RefusesWhatItCannotServe) {
  const std::string file = (dir_ / "image.bin").string();
  testing::WriteFile(file, Pattern(100, 1));
  testing::SimProcess holder;
  std::string error;
  ASSERT_TRUE(holder.Start(HANDSET_SIM_PATH, {"--tty", device_, "--timeout", "30"}, error)) << error;
  ASSERT_EQ(holder.FirstLine(5s), device_);
  struct Case {
    const char* name;
    std::string path;
    int exit;
  } cases[] = {
      {"a regular file", file, 2},
      {"a character device that is not a terminal", "/dev/null", 2},
      {"a path that does not exist", (dir_ / "ttyGS9").string(), 2},
      {"an empty path (not a pty of its own)", "", 2},
      {"a tty another handset-sim serves", device_, 1},
  };
  for (const Case& c : cases) {
    testing::SimProcess sim;
    ASSERT_TRUE(sim.Start(HANDSET_SIM_PATH, {"--tty", c.path}, error)) << error;
    EXPECT_EQ(sim.Wait(5s), c.exit) << c.name;
  }
  EXPECT_TRUE(testing::ReadFile(file) == Pattern(100, 1)) << "the file was written to";
}

}  // namespace
}  // namespace brenvik
