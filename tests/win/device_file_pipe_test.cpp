// The Win32 DeviceFile against a named pipe whose server end the test holds: a peer that
// answers in pieces, closes, or never answers.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "fakes/image_files.h"
#include "link/device_file.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::Bytes;
using testing::PatternBytes;

// The server end of a fresh byte-mode pipe, and the DeviceFile opened on its name.
class PipePeer : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    name_ = "\\\\.\\pipe\\brenvik-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(counter++);
    server_ = ::CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                 1 << 16, 1 << 16, 0, nullptr);
    ASSERT_NE(server_, INVALID_HANDLE_VALUE);
    std::string error;
    device_ = OpenDevicePath(name_, error);
    ASSERT_TRUE(device_) << error;
    ::ConnectNamedPipe(server_, nullptr);  // the client is already there: ERROR_PIPE_CONNECTED
  }
  void TearDown() override {
    if (peer_.joinable()) peer_.join();
    device_.reset();
    if (server_ != INVALID_HANDLE_VALUE) ::CloseHandle(server_);
  }

  void PeerWrites(const Bytes& bytes) {
    DWORD n = 0;
    ASSERT_TRUE(::WriteFile(server_, bytes.data(), DWORD(bytes.size()), &n, nullptr));
    ASSERT_EQ(n, bytes.size());
  }
  Bytes PeerReads(size_t size) {
    Bytes got(size);
    DWORD n = 0, total = 0;
    while (total < size && ::ReadFile(server_, got.data() + total, DWORD(size - total), &n, nullptr) && n)
      total += n;
    got.resize(total);
    return got;
  }
  void PeerCloses() {
    ::CloseHandle(server_);
    server_ = INVALID_HANDLE_VALUE;
  }

  std::string name_;
  HANDLE server_ = INVALID_HANDLE_VALUE;
  std::unique_ptr<DeviceFile> device_;
  std::thread peer_;
};

TEST_F(PipePeer, ReadGathersAPacketSentInPieces) {
  Bytes packet = PatternBytes(16, 3);
  peer_ = std::thread([&] {
    PeerWrites(Bytes(packet.begin(), packet.begin() + 5));
    std::this_thread::sleep_for(100ms);
    PeerWrites(Bytes(packet.begin() + 5, packet.end()));
  });
  Bytes got(16);
  IoResult r = device_->Read(got.data(), got.size(), 5s);
  EXPECT_TRUE(r.Complete(16)) << int(r.status) << " " << r.count;
  EXPECT_EQ(got, packet);
}

TEST_F(PipePeer, ReadThatOutlivesItsBoundReportsWhatArrived) {
  struct Case {
    std::chrono::milliseconds bound;
    size_t sent;
  } cases[] = {{0ms, 0}, {300ms, 0}, {300ms, 7}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.bound.count()) + " ms, " + std::to_string(c.sent) + " bytes");
    Bytes sent = PatternBytes(c.sent, 5);
    if (c.sent) PeerWrites(sent);
    Bytes got(16);
    const auto start = Clock::now();
    IoResult r = device_->Read(got.data(), got.size(), c.bound);
    const auto took = Clock::now() - start;
    EXPECT_EQ(r.status, IoStatus::kTimeout);
    EXPECT_EQ(r.count, c.sent);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + r.count), sent);
    EXPECT_GE(took, c.bound - 20ms);
    EXPECT_LT(took, c.bound + 1500ms);
  }
}

TEST_F(PipePeer, ReadEndsShortWhenThePeerCloses) {
  PeerWrites({1, 2, 3});
  PeerCloses();
  Bytes got(16);
  IoResult r = device_->Read(got.data(), got.size(), 5s);
  EXPECT_EQ(r.status, IoStatus::kOk);
  EXPECT_EQ(r.count, 3u);
  Bytes more(16);  // and the next read neither waits nor invents bytes
  r = device_->Read(more.data(), more.size(), 5s);
  EXPECT_NE(r.status, IoStatus::kTimeout);
  EXPECT_EQ(r.count, 0u);
}

TEST_F(PipePeer, WritesArriveWholeAndAnEmptyWriteIsFine) {
  for (size_t size : {size_t(0), size_t(1), size_t(16), size_t(4096), size_t(60000)}) {
    SCOPED_TRACE(size);
    Bytes data = PatternBytes(size, uint32_t(size));
    IoResult r = device_->Write(data.data(), data.size(), 5s);
    EXPECT_TRUE(r.Complete(size)) << int(r.status) << " " << r.count;
    if (size) EXPECT_EQ(PeerReads(size), data);
  }
}

TEST(DeviceFileOpen, FailureNamesThePathAndTheSystemsReason) {
  const char* paths[] = {"COM250", "C:\\brenvik-no-such-folder\\device", "\\\\.\\pipe\\brenvik-nobody",
                         "\\\\?\\root#brenvik#9999#{25dbce51-6c8f-4a72-8a6d-b54c2b4fc835}"};
  for (const char* path : paths) {
    SCOPED_TRACE(path);
    std::string error;
    EXPECT_EQ(OpenDevicePath(path, error), nullptr);
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_NE(error.find("(error "), std::string::npos) << error;
    EXPECT_GT(error.size(), std::string(path).size() + 20) << "the system's message is there: " << error;
  }
}

}  // namespace
}  // namespace brenvik
