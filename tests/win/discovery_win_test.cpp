// The SetupAPI search for the handset, against interfaces registered in Wine's registry.
// BRENVIK_WIN_HANDSET says what the ctest fixture set up: "present" (three interfaces of the
// class, the first one's path an echoing pty) or "absent" (none).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <iterator>
#include <string>

#include "fakes/image_files.h"
#include "fakes/recorder.h"
#include "link/device_discovery.h"
#include "link/packets.h"
#include "link/protocol.h"
#include "link/usb_link.h"
#include "run/download_run.h"
#include "run/outcome_text.h"

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

std::string InterfacePath(const std::string& instance) {
  std::string path = "\\\\?\\" + instance + "#" + HANDSET_INTERFACE_CLASS;
  for (char& c : path) c = char(std::tolower(static_cast<unsigned char>(c)));
  return path;
}

TEST_F(HandsetPresent, TheSearchFindsEveryInterfaceInOrderWithWhatTheRegistryTells) {
  struct Expected {
    std::string path, name, usbPort, comPort, usbId, serial;
  };
  // The friendly name wins over the description; a device with neither has no name. A
  // location with an escape in it is none.
  const Expected expected[] = {
      {InterfacePath("root#brenvik#0000"), "Brenvik Handset (COM5)", "Port_#0004.Hub_#0003", "COM5", "", ""},
      {InterfacePath("root#brenvik#0001"), "", "", "", "", ""},
      {InterfacePath("usb#vid_049f&pid_0003#bv0001"), "Windows CE USB Device", "", "", "049f:0003", "BV0001"},
  };
  const DiscoveryResult found = FindHandsets();
  EXPECT_FALSE(found.classQueryFailed);
  EXPECT_TRUE(ClassSearchAvailable());
  ASSERT_EQ(found.handsets.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    const FoundHandset& got = found.handsets[i];
    EXPECT_EQ(got.path, expected[i].path);
    EXPECT_EQ(got.name, expected[i].name);
    EXPECT_EQ(got.usbPort, expected[i].usbPort);
    EXPECT_EQ(got.comPort, expected[i].comPort);
    EXPECT_EQ(got.usbId, expected[i].usbId);
    EXPECT_EQ(got.serial, expected[i].serial);
    EXPECT_EQ(got.driver, "");
  }
}

TEST_F(HandsetPresent, OpenFindsAndOpensItAndPacketsPass) {
  UsbLink link;
  link.SetTimeout(5s);
  for (int press = 0; press < 2; ++press) {  // each press searches and opens anew
    SCOPED_TRACE(press);
    const OpenResult opened = link.Open();
    ASSERT_TRUE(opened.Ok()) << DescribeOpen(opened);
    EXPECT_EQ(link.BlockSize(), BLOCK_SIZE);
    // The peer echoes: what it sends back is a ready packet, then an upgrade acknowledgement.
    for (uint8_t fill : {READY_BYTE, UPGRADE_ACK_BYTE}) {
      InPacket packet = MakeInPacket(fill);
      ASSERT_TRUE(link.WriteData(packet.data(), uint32_t(packet.size())).Ok());
    }
    EXPECT_TRUE(link.ReadReady().Ok());
    EXPECT_TRUE(link.ReadUpgradeAck().Ok());
  }
  link.SetTimeout(300ms);
  EXPECT_EQ(link.ReadReady().status, IoStatus::kTimeout) << "nothing more was sent";
}

TEST_F(HandsetAbsent, NothingIsFoundAndTheUserIsToldToCheckTheCable) {
  DiscoveryResult found = FindHandsets();
  EXPECT_FALSE(found.classQueryFailed);
  EXPECT_TRUE(found.handsets.empty());

  UsbLink link;
  EXPECT_EQ(link.Open().status, OpenStatus::kNoHandset);
  EXPECT_FALSE(link.IsOpen());

  // The run tells the user, in the words the dialog has always used.
  testing::TempDir dir;
  Recorder shown;
  DownloadRun run(shown, shown);
  EXPECT_EQ(run.Prepare(dir.Write("fw.dio", testing::PatternBytes(1000)), FlashOptions{}), PrepareResult::kNoDevice);
  ASSERT_EQ(shown.messages.size(), 1u);
  EXPECT_EQ(shown.messages[0].text, "Check Your Usb cable  ");
  EXPECT_EQ(shown.messages[0].caption, MessageCaption::kProgram);
}

}  // namespace
}  // namespace brenvik
