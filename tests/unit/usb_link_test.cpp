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
    EXPECT_TRUE(r.link.WriteChunked(data.data(), c.length).Ok()) << c.length;
    EXPECT_TRUE(r.dev->Done()) << c.length;
  }
}

TEST(UsbLink, WriteChunkedStopsAtTheFirstFailedOrShortPiece) {
  Bytes data = Iota(10000);
  for (size_t accepted : {size_t(0), size_t(4095)}) {  // an error, and a short write
    Rig r;
    r.dev->ExpectWrite(Bytes(data.begin(), data.begin() + 4096));
    r.dev->ExpectWriteFails(4096, accepted);
    const LinkResult result = r.link.WriteChunked(data.data(), uint32_t(data.size()));
    EXPECT_FALSE(result.Ok());
    EXPECT_EQ(result.moved, 4096 + accepted) << "what went over before the failure is told";
    EXPECT_EQ(result.wanted, data.size());
    EXPECT_TRUE(r.dev->Done()) << "nothing is written after the failed piece";
  }
}

TEST(UsbLink, InPacketReadsTellWhatCame) {
  struct Case {
    const char* name;
    std::function<void(ScriptedDevice&)> script;
    bool ready, ack;
    IoStatus status;    // of the ready read
    bool wrongPacket;   // the ready read saw other bytes
  } cases[] = {
      {"sixteen 0x31", [](ScriptedDevice& d) { d.AddRead(Repeat(0x31, 16)).AddRead(Repeat(0x31, 16)); }, true, false,
       IoStatus::kOk, false},
      {"sixteen 0x02", [](ScriptedDevice& d) { d.AddRead(Repeat(0x02, 16)).AddRead(Repeat(0x02, 16)); }, false, true,
       IoStatus::kOk, true},
      {"fifteen 0x31 and one other",
       [](ScriptedDevice& d) {
         Bytes b = Repeat(0x31, 16);
         b[15] = 0;
         d.AddRead(b).AddRead(b);
       },
       false, false, IoStatus::kOk, true},
      {"short read: the link ended", [](ScriptedDevice& d) { d.AddRead(Repeat(0x31, 15)).AddRead(Repeat(0x02, 15)); },
       false, false, IoStatus::kHangUp, false},
      {"time-out", [](ScriptedDevice& d) { d.AddReadTimeout().AddReadTimeout(); }, false, false, IoStatus::kTimeout,
       false},
      {"error", [](ScriptedDevice& d) { d.AddReadError().AddReadError(); }, false, false, IoStatus::kError, false},
  };
  for (const auto& c : cases) {
    Rig r;
    c.script(*r.dev);
    const LinkResult ready = r.link.ReadReady();
    EXPECT_EQ(ready.Ok(), c.ready) << c.name;
    EXPECT_EQ(ready.status, c.status) << c.name;
    EXPECT_EQ(ready.wrongPacket.has_value(), c.wrongPacket) << c.name;
    EXPECT_EQ(r.link.ReadUpgradeAck().Ok(), c.ack) << c.name;
  }
}

TEST(UsbLink, SendDataWritesHeaderThenDataAndRemembersFailures) {
  Bytes data = Iota(0x1234);
  {
    Rig r;
    r.dev->ExpectWrite({0xFF, 0xFD, 0xFB, 0xF9, 0, 0, 2, 0, 0, 0x10, 0, 0, 0x34, 0x12, 0, 0});
    r.dev->ExpectWrite(Bytes(data.begin(), data.begin() + 4096));
    r.dev->ExpectWrite(Bytes(data.begin() + 4096, data.end()));
    EXPECT_TRUE(r.link.SendData(data.data(), 0x1000, 0x1234, DATA_TYPE_RECORD).Ok());
    EXPECT_EQ(r.link.ErrorText(), "");
  }
  {
    Rig r;  // header fails: the data is not sent
    r.dev->ExpectWriteFails(16);
    EXPECT_FALSE(r.link.SendData(data.data(), 0x1000, 0x1234, DATA_TYPE_RECORD).Ok());
    EXPECT_EQ(r.link.ErrorText(), "Error: couldn't write USB data");
  }
  {
    Rig r;  // data fails after the header went out
    r.dev->ExpectWrite({0xFF, 0xFD, 0xFB, 0xF9, 0, 0, 2, 0, 0, 0x10, 0, 0, 0x34, 0x12, 0, 0});
    r.dev->ExpectWriteFails(4096, 100);
    EXPECT_FALSE(r.link.SendData(data.data(), 0x1000, 0x1234, DATA_TYPE_RECORD).Ok());
    EXPECT_EQ(r.link.ErrorText(), "Error: couldn't write USB data");
  }
}

TEST(UsbLink, SmallPacketsAreSingleWrites) {
  Rig r;
  r.dev->ExpectWrite({0x67, 0x45, 0x23, 0x01, 5, 0, 0, 0});
  r.dev->ExpectWrite({0, 0, 0, 0, 0, 0, 4, 0, 0x23, 1, 0, 0});
  r.dev->ExpectWrite({0xF9, 0xFB, 0xFD, 0xFF, 0, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  r.dev->ExpectWriteFails(16);
  EXPECT_TRUE(r.link.SendImageKind(5).Ok());
  EXPECT_TRUE(r.link.WriteBlockHeader({0, 262144, BLOCK_TAG}).Ok());
  EXPECT_TRUE(r.link.SendTransferEnd().Ok());
  EXPECT_EQ(r.link.ErrorText(), "");
  EXPECT_FALSE(r.link.SendDownloadEnd().Ok());
  EXPECT_EQ(r.link.ErrorText(), "Error: couldn't write USB data");
}

TEST(UsbLink, OpenPathClosesTheEarlierDeviceAndTellsWhy) {
  // The earlier device outlives its link only as this flag.
  struct Watched : ScriptedDevice {
    explicit Watched(bool& closed) : closed(closed) {}
    void Close() override { closed = true; }
    bool& closed;
  };
  bool closed = false;
  UsbLink link;
  link.Attach(std::make_unique<Watched>(closed));
  const OpenResult r = link.OpenPath("/nonexistent/brenvik-device");
  EXPECT_TRUE(closed) << "the earlier device was not closed";
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(r.status, OpenStatus::kCannotOpen);
  EXPECT_EQ(r.path, "/nonexistent/brenvik-device");
}

}  // namespace
}  // namespace brenvik
