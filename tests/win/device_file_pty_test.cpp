// The Win32 DeviceFile on COM ports that are host ptys: one that echoes, one that never
// answers. The ctest fixture names them in BRENVIK_WIN_ECHO_PORT and BRENVIK_WIN_SILENT_PORT.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cctype>
#include <cstdlib>
#include <string>
#include <thread>

#include "fakes/image_files.h"
#include "link/device_file.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::Bytes;

Bytes EveryByteValue(size_t size) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = uint8_t(i * 97 + i / 256);
  return b;
}

class PtyPort : public ::testing::Test {
 protected:
  explicit PtyPort(const char* variable) : variable_(variable) {}
  void SetUp() override {
    const char* name = std::getenv(variable_);
    if (!name || !*name) GTEST_SKIP() << variable_ << " is not set: run through ctest";
    port_ = name;
    device_ = Open(port_);
    ASSERT_TRUE(device_);
  }
  std::unique_ptr<DeviceFile> Open(const std::string& name) {
    DeviceOpening opening = OpenDevicePath(name);
    EXPECT_TRUE(opening.device) << int(opening.result.status) << " " << opening.result.systemError;
    return std::move(opening.device);
  }
  // Leftovers of an earlier test must not be taken for this one's answer.
  void Drain() {
    Bytes sink(4096);
    while (device_->Read(sink.data(), sink.size(), 50ms).count) {
    }
  }

  const char* variable_;
  std::string port_;
  std::unique_ptr<DeviceFile> device_;
};

struct EchoPort : PtyPort {
  EchoPort() : PtyPort("BRENVIK_WIN_ECHO_PORT") {}
};
struct SilentPort : PtyPort {
  SilentPort() : PtyPort("BRENVIK_WIN_SILENT_PORT") {}
};

TEST_F(EchoPort, EveryByteValueGoesAndComesBackUntouched) {
  Drain();
  // An empty write is one call that sends nothing: the next answer is the next write's.
  // 60000 bytes are far more than the pty buffers: the write waits for the peer to read.
  for (size_t size : {size_t(0), size_t(1), size_t(16), size_t(256), size_t(4096), size_t(60000)}) {
    SCOPED_TRACE(size);
    Bytes data = EveryByteValue(size);
    IoResult w = device_->Write(data.data(), data.size(), 5s);
    ASSERT_TRUE(w.Complete(size)) << int(w.status) << " " << w.count;
    if (size == 0) continue;
    Bytes back(size);
    IoResult r = device_->Read(back.data(), back.size(), 5s);
    EXPECT_TRUE(r.Complete(size)) << int(r.status) << " " << r.count;
    EXPECT_EQ(back, data);
  }
}

TEST_F(EchoPort, ReadThatOutlivesItsBoundReportsWhatArrived) {
  struct Case {
    std::chrono::milliseconds bound;
    size_t sent;
  } cases[] = {{0ms, 0}, {300ms, 0}, {300ms, 10}};
  Drain();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.bound.count()) + " ms, " + std::to_string(c.sent) + " bytes");
    Bytes data = EveryByteValue(c.sent);
    ASSERT_TRUE(device_->Write(data.data(), data.size(), 5s).Complete(c.sent));
    Bytes back(16);
    const auto start = Clock::now();
    IoResult r = device_->Read(back.data(), back.size(), c.bound);
    const auto took = Clock::now() - start;
    EXPECT_EQ(r.status, IoStatus::kTimeout);
    EXPECT_EQ(r.count, c.sent);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + r.count), data);
    EXPECT_GE(took, c.bound - 20ms);
    EXPECT_LT(took, c.bound + 1500ms);
  }
}

TEST_F(EchoPort, ReadGathersAPacketSentInPieces) {
  Drain();
  // A second handle on the port sends the rest later. The device file lets no second one
  // in, and Wine keeps no share mode on a serial device: a raw handle does it.
  const std::wstring port(port_.begin(), port_.end());
  HANDLE writer = ::CreateFileW((L"\\\\.\\" + port).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE) << ::GetLastError();
  const Bytes packet = EveryByteValue(16);
  ASSERT_TRUE(device_->Write(packet.data(), 5, 5s).Complete(5));
  std::thread rest([&] {
    std::this_thread::sleep_for(100ms);
    DWORD n = 0;
    EXPECT_TRUE(::WriteFile(writer, packet.data() + 5, 11, &n, nullptr) && n == 11);
  });
  Bytes got(16);
  IoResult r = device_->Read(got.data(), got.size(), 5s);
  rest.join();
  ::CloseHandle(writer);
  EXPECT_TRUE(r.Complete(16)) << int(r.status) << " " << r.count;
  EXPECT_EQ(got, packet);
}

// One program at a time, under any of the port's names; the port is free again once closed.
TEST_F(EchoPort, APortInUseIsBusyUnderEveryNameUntilClosed) {
  std::string lower = port_;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  for (const std::string& name : {port_, lower, "\\\\.\\" + port_, port_ + ":"}) {
    SCOPED_TRACE(name);
    const DeviceOpening second = OpenDevicePath(name);
    EXPECT_EQ(second.device, nullptr);
    EXPECT_EQ(second.result.status, OpenStatus::kBusy);
  }
  device_->Close();
  EXPECT_TRUE(Open(lower));
}

TEST_F(EchoPort, ThePortOpensUnderEachOfItsNames) {
  device_.reset();
  std::string lower = port_;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  for (const std::string& name : {port_, lower, "\\\\.\\" + port_}) {
    SCOPED_TRACE(name);
    auto device = Open(name);
    if (!device) continue;
    uint8_t byte = 0xA5;
    ASSERT_TRUE(device->Write(&byte, 1, 5s).Complete(1));
    uint8_t back = 0;
    EXPECT_TRUE(device->Read(&back, 1, 5s).Complete(1));
    EXPECT_EQ(back, 0xA5);
  }
}

TEST_F(SilentPort, ReadGivesUpAfterItsBound) {
  for (auto bound : {0ms, 300ms}) {
    SCOPED_TRACE(bound.count());
    Bytes packet(16);
    const auto start = Clock::now();
    IoResult r = device_->Read(packet.data(), packet.size(), bound);
    const auto took = Clock::now() - start;
    EXPECT_EQ(r.status, IoStatus::kTimeout);
    EXPECT_EQ(r.count, 0u);
    EXPECT_GE(took, bound - 20ms);
    EXPECT_LT(took, bound + 1500ms);
  }
}

TEST_F(SilentPort, WriteToAPeerThatNeverReadsGivesUpAfterItsBound) {
  Bytes data(4 << 20, 0x31);  // far more than a pty buffers
  const auto start = Clock::now();
  IoResult r = device_->Write(data.data(), data.size(), 300ms);
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_EQ(r.status, IoStatus::kTimeout);
  EXPECT_LT(r.count, data.size());
}

}  // namespace
}  // namespace brenvik
