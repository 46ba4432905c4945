#include <gtest/gtest.h>

#include "fakes/scripted_device.h"
#include "link/usb_link.h"

namespace brenvik {
namespace {

using testing::Bytes;
using testing::Repeat;
using testing::ScriptedDevice;

// Gives the link a scripted device and keeps a handle to script it.
struct Rig {
  UsbLink link;
  ScriptedDevice* dev;
  Rig() {
    auto d = std::make_unique<ScriptedDevice>();
    dev = d.get();
    link.Attach(std::move(d));
  }
};

Bytes Iota(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 7 + i / 256);
  return b;
}

TEST(UsbLink, WriteChunkedCutsPiecesOfAtMost4096) {
  struct Case {
    uint32_t length;
    std::vector<size_t> pieces;
  } cases[] = {
      {0, {0}}, {1, {1}}, {4096, {4096}}, {4097, {4096, 1}}, {8192, {4096, 4096}},
      {262144, std::vector<size_t>(64, 4096)}, {12289, {4096, 4096, 4096, 1}},
  };
  for (const auto& c : cases) {
    Rig r;
    Bytes data = Iota(c.length);
    size_t at = 0;
    for (size_t piece : c.pieces) {
      r.dev->ExpectWrite(Bytes(data.begin() + at, data.begin() + at + piece));
      at += piece;
    }
    EXPECT_EQ(r.link.WriteChunked(data.data(), c.length), LINK_WRITE_OK) << c.length;
    EXPECT_TRUE(r.dev->Done()) << c.length;
  }
}

TEST(UsbLink, WriteChunkedStopsAtTheFirstFailedOrShortPiece) {
  Bytes data = Iota(10000);
  for (size_t accepted : {size_t(0), size_t(4095)}) {  // an error, and a short write
    Rig r;
    r.dev->ExpectWrite(Bytes(data.begin(), data.begin() + 4096));
    r.dev->ExpectWriteFails(4096, accepted);
    EXPECT_EQ(r.link.WriteChunked(data.data(), uint32_t(data.size())), LINK_WRITE_FAILED);
    EXPECT_TRUE(r.dev->Done()) << "nothing is written after the failed piece";
  }
}

TEST(UsbLink, InPacketReads) {
  struct Case {
    const char* name;
    std::function<void(ScriptedDevice&)> script;
    int ready, ack;
  } cases[] = {
      {"sixteen 0x31", [](ScriptedDevice& d) { d.AddRead(Repeat(0x31, 16)).AddRead(Repeat(0x31, 16)); }, 1, 0},
      {"sixteen 0x02", [](ScriptedDevice& d) { d.AddRead(Repeat(0x02, 16)).AddRead(Repeat(0x02, 16)); }, 0, 1},
      {"fifteen 0x31 and one other",
       [](ScriptedDevice& d) {
         Bytes b = Repeat(0x31, 16);
         b[15] = 0;
         d.AddRead(b).AddRead(b);
       },
       0, 0},
      {"short read", [](ScriptedDevice& d) { d.AddRead(Repeat(0x31, 15)).AddRead(Repeat(0x02, 15)); }, 0, 0},
      {"time-out", [](ScriptedDevice& d) { d.AddReadTimeout().AddReadTimeout(); }, 0, 0},
      {"error", [](ScriptedDevice& d) { d.AddReadError().AddReadError(); }, 0, 0},
  };
  for (const auto& c : cases) {
    Rig r;
    c.script(*r.dev);
    EXPECT_EQ(r.link.ReadReady(), c.ready) << c.name;
    EXPECT_EQ(r.link.ReadUpgradeAck(), c.ack) << c.name;
  }
}

TEST(UsbLink, SendDataWritesHeaderThenDataAndRemembersFailures) {
  Bytes data = Iota(0x1234);
  {
    Rig r;
    r.dev->ExpectWrite({0xFF, 0xFD, 0xFB, 0xF9, 0, 0, 2, 0, 0, 0x10, 0, 0, 0x34, 0x12, 0, 0});
    r.dev->ExpectWrite(Bytes(data.begin(), data.begin() + 4096));
    r.dev->ExpectWrite(Bytes(data.begin() + 4096, data.end()));
    EXPECT_EQ(r.link.SendData(data.data(), 0x1000, 0x1234, DATA_TYPE_RECORD), 1);
    EXPECT_EQ(r.link.ErrorText(), "");
  }
  {
    Rig r;  // header fails: the data is not sent
    r.dev->ExpectWriteFails(16);
    EXPECT_EQ(r.link.SendData(data.data(), 0x1000, 0x1234, DATA_TYPE_RECORD), 0);
    EXPECT_EQ(r.link.ErrorText(), "Error: couldn't write USB data");
  }
  {
    Rig r;  // data fails after the header went out
    r.dev->ExpectWrite({0xFF, 0xFD, 0xFB, 0xF9, 0, 0, 2, 0, 0, 0x10, 0, 0, 0x34, 0x12, 0, 0});
    r.dev->ExpectWriteFails(4096, 100);
    EXPECT_EQ(r.link.SendData(data.data(), 0x1000, 0x1234, DATA_TYPE_RECORD), 0);
    EXPECT_EQ(r.link.ErrorText(), "Error: couldn't write USB data");
  }
}

TEST(UsbLink, SmallPacketsAreSingleWrites) {
  Rig r;
  r.dev->ExpectWrite({0x67, 0x45, 0x23, 0x01, 5, 0, 0, 0});
  r.dev->ExpectWrite({0, 0, 0, 0, 0, 0, 4, 0, 0x23, 1, 0, 0});
  r.dev->ExpectWrite({0xF9, 0xFB, 0xFD, 0xFF, 0, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  r.dev->ExpectWriteFails(16);
  EXPECT_EQ(r.link.SendImageKind(5), 1);
  EXPECT_EQ(r.link.WriteBlockHeader({0, 262144, BLOCK_TAG}), 1);
  EXPECT_EQ(r.link.SendTransferEnd(), 1);
  EXPECT_EQ(r.link.ErrorText(), "");
  EXPECT_EQ(r.link.SendDownloadEnd(), 0);
  EXPECT_EQ(r.link.ErrorText(), "Error: couldn't write USB data");
}

TEST(UsbLink, OpenPathReplacesTheEarlierDeviceAndReportsFailure) {
  Rig r;
  EXPECT_EQ(r.link.OpenPath("/nonexistent/brenvik-device"), 0);
  EXPECT_FALSE(r.link.IsOpen());
  EXPECT_NE(r.link.LastOpenError().find("/nonexistent/brenvik-device"), std::string::npos);
}

}  // namespace
}  // namespace brenvik
