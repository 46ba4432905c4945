// The SetupAPI search for the handset, against interfaces registered in Wine's registry.
// BRENVIK_WIN_HANDSET says what the ctest fixture set up: "present" (one interface of the
// class, its path an echoing pty) or "absent" (none).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "fakes/recorder.h"
#include "link/device_discovery.h"
#include "link/packets.h"
#include "link/protocol.h"
#include "link/usb_link.h"

namespace brenvik {
namespace {

using namespace std::chrono_literals;
using testing::Recorder;

class Handset : public ::testing::Test {
 protected:
  explicit Handset(const char* expected) : expected_(expected) {}
  void SetUp() override {
    const char* state = std::getenv("BRENVIK_WIN_HANDSET");
    if (!state || expected_ != state)
      GTEST_SKIP() << "needs BRENVIK_WIN_HANDSET=" << expected_ << ": run through ctest";
  }
  std::string expected_;
};

struct HandsetPresent : Handset {
  HandsetPresent() : Handset("present") {}
};
struct HandsetAbsent : Handset {
  HandsetAbsent() : Handset("absent") {}
};

std::string InterfacePath() {
  std::string guid = kHandsetInterfaceClass;
  for (char& c : guid) c = char(std::tolower(static_cast<unsigned char>(c)));
  return "\\\\?\\root#brenvik#0000#" + guid;
}

TEST_F(HandsetPresent, TheSearchFindsTheRegisteredInterface) {
  DiscoveryResult found = FindHandsetInterfaces();
  EXPECT_FALSE(found.classQueryFailed);
  EXPECT_EQ(found.paths, std::vector<std::string>{InterfacePath()});
  EXPECT_TRUE(ClassSearchAvailable());
}

TEST_F(HandsetPresent, OpenFindsAndOpensItAndPacketsPass) {
  UsbLink link;
  Recorder messages;
  link.SetTimeout(5s);
  for (int press = 0; press < 2; ++press) {  // each press searches and opens anew
    SCOPED_TRACE(press);
    ASSERT_EQ(link.Open(messages), 1) << link.LastOpenError();
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(link.BlockSize(), kBlockSize);
    // The peer echoes: what it sends back is a ready packet, then an upgrade acknowledgement.
    for (uint8_t fill : {kReadyByte, kUpgradeAckByte}) {
      InPacket packet = MakeInPacket(fill);
      ASSERT_EQ(link.WriteData(packet.data(), uint32_t(packet.size())), 1);
    }
    EXPECT_EQ(link.ReadReady(), 1);
    EXPECT_EQ(link.ReadUpgradeAck(), 1);
  }
  link.SetTimeout(300ms);
  EXPECT_EQ(link.ReadReady(), 0) << "nothing more was sent";
}

TEST_F(HandsetAbsent, NothingIsFoundAndTheUserIsToldToCheckTheCable) {
  DiscoveryResult found = FindHandsetInterfaces();
  EXPECT_FALSE(found.classQueryFailed);
  EXPECT_TRUE(found.paths.empty());

  UsbLink link;
  Recorder messages;
  EXPECT_EQ(link.Open(messages), 0);
  EXPECT_FALSE(link.IsOpen());
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0].text, "Check Your Usb cable  ");
  EXPECT_EQ(messages.messages[0].caption, MessageCaption::kProgram);
}

}  // namespace
}  // namespace brenvik
