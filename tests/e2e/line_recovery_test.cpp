// A line that hangs up and comes back, as a USB device's tty does when the host resets it
// while it sets the device up: the handset starts over only while the PC has said nothing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <future>
#include <sstream>

#include "line.h"
#include "pc_streams.h"
#include "serve.h"

namespace brenvik::handset {
namespace {

using testing::Bytes;
using testing::PcStream;
using namespace std::chrono_literals;

// A pty whose slave is the handset's end; the test is the PC on the master. Hang() is the
// host resetting (or, unplugged, leaving) the device; recovering opens a fresh pair.
class ResettingLine : public Line {
 public:
  ResettingLine() { OpenPair(); }
  ~ResettingLine() override {
    Close();
    if (master_ >= 0) ::close(master_);
  }
  int Fd() const override { return slave_; }
  bool IsOpen() const override { return slave_ >= 0; }
  void Close() override {
    if (slave_ >= 0) ::close(slave_);
    slave_ = -1;
  }
  bool RecoverFromHangUp() override {
    if (!plugged) return false;
    Close();
    if (const int old = master_.exchange(-1); old >= 0) ::close(old);
    OpenPair();
    ++recovered;
    return true;
  }
  void Hang() { ::close(master_.exchange(-1)); }  // the slave's reads fail from now on

  Bytes Read(size_t size) {
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (got.size() < size && std::chrono::steady_clock::now() < deadline) {
      const int fd = master_;
      pollfd p{fd, POLLIN, 0};
      if (fd < 0 || ::poll(&p, 1, 20) <= 0) continue;
      uint8_t buf[64];
      const ssize_t n = ::read(fd, buf, std::min(sizeof buf, size - got.size()));
      if (n > 0) got.insert(got.end(), buf, buf + n);
    }
    return got;
  }
  void Send(const Bytes& bytes) { ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

  std::atomic<bool> plugged{true};
  std::atomic<int> recovered{0};

 private:
  void OpenPair() {
    int master = -1;
    ASSERT_EQ(::openpty(&master, &slave_, nullptr, nullptr, nullptr), 0);
    termios raw{};
    ::tcgetattr(slave_, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave_, TCSANOW, &raw);
    ::fcntl(slave_, F_SETFL, O_NONBLOCK);
    master_ = master;
  }
  std::atomic<int> master_{-1};
  int slave_ = -1;
};

TEST(LineRecovery, StartsOverAfterAResetOnlyBeforeThePcSpeaks) {
  const Bytes ack(16, UPGRADE_ACK_BYTE);
  const Bytes image = testing::Pattern(1000, 3);
  struct Case {
    const char* name;
    bool pcSpokeFirst;  // the kind packet went out before the hang-up
    bool plugged;       // still plugged in after it
    int exit;
    int recovered;
  } cases[] = {
      {"a reset while the host sets the device up", false, true, 0, 1},
      {"unplugged before the PC spoke", false, false, 1, 0},
      {"a reset mid-download is a dropped link", true, true, 1, 0},
  };
  for (const Case& c : cases) {
    ResettingLine line;
    ServeOptions o;
    o.timeout = 5s;
    volatile std::sig_atomic_t stop = 0;
    std::ostringstream log;
    auto served = std::async(std::launch::async, [&] { return Serve(line, o, stop, log); });
    EXPECT_EQ(line.Read(16), ack) << c.name;
    if (c.pcSpokeFirst) line.Send(PcStream().Kind(1).Data());
    std::this_thread::sleep_for(100ms);
    line.plugged = c.plugged;
    line.Hang();
    if (c.recovered) {
      while (line.recovered == 0) std::this_thread::sleep_for(5ms);
      EXPECT_EQ(line.Read(16), ack) << c.name << ": the handset says its first words again";
      line.Send(PcStream().Kind(1).Blocks(image).Data());
      EXPECT_EQ(line.Read(16), Bytes(16, READY_BYTE)) << c.name;
    }
    ASSERT_EQ(served.wait_for(4s), std::future_status::ready) << c.name << ": no bounded end";
    EXPECT_EQ(served.get(), c.exit) << c.name << "\n" << log.str();
    EXPECT_EQ(line.recovered, c.recovered) << c.name;
  }
}

}  // namespace
}  // namespace brenvik::handset
