#include <gtest/gtest.h>

#include <tuple>

#include "run/download_run.h"
#include "fakes/image_files.h"
#include "fakes/recorder.h"
#include "fakes/scripted_device.h"

namespace brenvik {
namespace {

using namespace testing;

// A recorder that also notes how many device steps were still to come at each message.
struct Witness : Recorder {
  ScriptedDevice* dev = nullptr;
  std::vector<bool> deviceDoneAtMessage;
  void ShowMessage(const std::string& text, MessageCaption caption) override {
    Recorder::ShowMessage(text, caption);
    deviceDoneAtMessage.push_back(dev && dev->Done());
  }
};

struct RunRig {
  TempDir dir;
  Witness shown;
  DownloadRun run{shown, shown, [] { return int64_t(5000); }};
  std::unique_ptr<ScriptedDevice> next = std::make_unique<ScriptedDevice>();
  ScriptedDevice* dev = next.get();
  int opened = 0;

  FlashOptions Options(bool autoUpgrade) {
    FlashOptions o;
    o.autoUpgrade = autoUpgrade;
    o.deviceFactory = [this]() -> std::unique_ptr<DeviceFile> {
      ++opened;
      shown.dev = dev;
      return std::move(next);
    };
    return o;
  }
  void Rearm() {
    next = std::make_unique<ScriptedDevice>();
    dev = next.get();
  }
  void ExpectKind(int32_t kind) {
    auto k = Encode(KindPacket{KIND_MAGIC, kind});
    dev->ExpectWrite(Bytes(k.begin(), k.end()));
  }
  void ExpectBlocks(const Bytes& image) {
    const uint32_t count = uint32_t((image.size() + BLOCK_SIZE - 1) / BLOCK_SIZE);
    for (uint32_t i = 0; i < count; ++i) {
      size_t at = size_t(i) * BLOCK_SIZE, len = std::min<size_t>(BLOCK_SIZE, image.size() - at);
      dev->AddRead(Repeat(READY_BYTE, 16));
      auto h = Encode(BlockHeader{count - 1 - i, uint32_t(len), BLOCK_TAG});
      dev->ExpectWrite(Bytes(h.begin(), h.end()));
      ExpectChunked(*dev, image.data() + at, len);
    }
  }
};

Bytes SmallImg() {
  Bytes img = PatternBytes(0x20000, 3);
  Bytes stream = MakeBinStream({{0x80001000, PatternBytes(300, 4)}});
  img.insert(img.end(), stream.begin(), stream.end());
  return img;
}

TEST(DownloadRun, ImgWithAutoUpgradeEndsWithTheSecondEndCommandAfterTheMessage) {
  RunRig r;
  Bytes img = SmallImg();
  std::string path = r.dir.Write("fw.img", img);
  r.dev->AddRead(Repeat(UPGRADE_ACK_BYTE, 16));
  r.ExpectKind(KIND_IMG);
  ExpectTransfer(*r.dev, DATA_TYPE_BOOT, 0, img.data(), 0x20000);
  ExpectTransfer(*r.dev, DATA_TYPE_RECORD, 0x80001000, img.data() + 0x2000F + 12, 300);
  ExpectDownloadEnd(*r.dev);
  ExpectDownloadEnd(*r.dev);  // the run's own, after the final message
  ASSERT_EQ(r.run.Prepare(path, r.Options(true)), PrepareResult::kReady);
  EXPECT_TRUE(r.run.RunToEnd().Ok());
  EXPECT_EQ(r.shown.MessageTexts(), std::vector<std::string>{"Update Sucess! "});
  EXPECT_EQ(r.shown.messages[0].caption, MessageCaption::kProgram);
  EXPECT_EQ(r.shown.deviceDoneAtMessage, std::vector<bool>{false});
  EXPECT_EQ(r.run.Entry().size, img.size());
  EXPECT_EQ(r.run.Entry().sectorCount, (img.size() >> 9) + 1);
}

TEST(DownloadRun, WithoutAutoUpgradeEveryImageGoesInPlainBlocks) {
  RunRig r;
  Bytes img = SmallImg();
  std::string path = r.dir.Write("fw.img", img);
  r.ExpectBlocks(img);  // no acknowledgement read, no kind packet, no end command
  ASSERT_EQ(r.run.Prepare(path, r.Options(false)), PrepareResult::kReady);
  EXPECT_EQ(r.run.ImageKind(), KIND_DIO);
  EXPECT_TRUE(r.run.RunToEnd().Ok());
  EXPECT_EQ(r.shown.MessageTexts(), std::vector<std::string>{"Update Sucess! "});
}

TEST(DownloadRun, MissingAcknowledgementIsToldButTheRunGoesOn) {
  RunRig r;
  Bytes image = PatternBytes(1000);
  std::string path = r.dir.Write("x.dio", image);
  r.dev->AddReadTimeout();
  r.ExpectKind(KIND_DIO);
  r.ExpectBlocks(image);
  ASSERT_EQ(r.run.Prepare(path, r.Options(true)), PrepareResult::kReady);
  EXPECT_FALSE(r.run.AckReceived());
  EXPECT_TRUE(r.run.RunToEnd().Ok());
  EXPECT_EQ(r.shown.MessageTexts(), (std::vector<std::string>{"升级错误", "Update Sucess! "}));
  EXPECT_EQ(r.shown.messages[0].caption, MessageCaption::kError);
}

TEST(DownloadRun, AnIncorrectFileIsSentButFailsAndTheNextRunStartsClean) {
  RunRig r;
  Bytes image = PatternBytes(300000);
  std::string bad = r.dir.Write("x.bin", image);  // a bin of 307200 bytes or less
  r.dev->AddRead(Repeat(UPGRADE_ACK_BYTE, 16));
  r.ExpectKind(KIND_NOT_CORRECT);
  r.ExpectBlocks(image);
  ASSERT_EQ(r.run.Prepare(bad, r.Options(true)), PrepareResult::kReady);
  EXPECT_EQ(r.run.ErrorCount(), 1);
  EXPECT_FALSE(r.run.RunToEnd().Ok());
  EXPECT_EQ(r.shown.MessageTexts(),
            (std::vector<std::string>{"升级错误,不是一个正确的文件", "Update Fail! "}));
  EXPECT_EQ(r.shown.messages[0].caption, MessageCaption::kError);

  r.Rearm();
  std::string good = r.dir.Write("x.dio", image);
  r.dev->AddRead(Repeat(UPGRADE_ACK_BYTE, 16));
  r.ExpectKind(KIND_DIO);
  r.ExpectBlocks(image);
  ASSERT_EQ(r.run.Prepare(good, r.Options(true)), PrepareResult::kReady);
  EXPECT_TRUE(r.run.RunToEnd().Ok()) << "an earlier failure must not fail this run";
  EXPECT_EQ(r.shown.MessageTexts().back(), "Update Sucess! ");
}

TEST(DownloadRun, NoImageOrNoDeviceStartsNothing) {
  struct Case {
    const char* name;
    std::function<std::string(RunRig&)> image;
    bool namedDevice;
    PrepareResult result;
    std::vector<std::string> messages;
    int opened;
  } cases[] = {
      {"missing image", [](RunRig& r) { return r.dir.Path("none.img"); }, false,
       PrepareResult::kImageUnreadable, {"打开文件错误,没有找到image"}, 0},
      {"a folder", [](RunRig& r) { return r.dir.Root().string(); }, false, PrepareResult::kImageRefused, {}, 0},
      {"empty image", [](RunRig& r) { return r.dir.Write("e.img", {}); }, false,
       PrepareResult::kImageEmpty, {}, 0},
      {"device path that does not open", [](RunRig& r) { return r.dir.Write("x.dio", {1, 2}); }, true,
       PrepareResult::kNoDevice, {"Check Your Usb cable  "}, 0},
  };
  for (const auto& c : cases) {
    RunRig r;
    FlashOptions o = r.Options(true);
    if (c.namedDevice) {
      o.deviceFactory = nullptr;
      o.devicePath = r.dir.Path("no-such-device");
    }
    EXPECT_EQ(r.run.Prepare(c.image(r), o), c.result) << c.name;
    EXPECT_EQ(r.shown.MessageTexts(), c.messages) << c.name;
    EXPECT_EQ(r.opened, c.opened) << c.name;
    EXPECT_EQ(r.run.View().Mapped(), c.result == PrepareResult::kNoDevice) << c.name;
    r.next.reset();
  }
}

TEST(DownloadRun, BrowsingMapsTheChosenImageAtOnceWithoutOpeningTheDevice) {
  RunRig r;
  const std::string image = r.dir.Write("picked.nb0", PatternBytes(1024, 5));
  EXPECT_EQ(r.run.MapImage(image), 1024u);
  EXPECT_TRUE(r.run.View().Mapped());
  const ImageEntry& entry = r.run.Entry();
  EXPECT_EQ(std::make_tuple(entry.start, entry.size, entry.sectorCount), std::make_tuple(0u, 1024u, 3u));
  EXPECT_EQ(r.opened, 0);

  EXPECT_EQ(r.run.MapImage(r.dir.Path("gone.img")), 0u);
  EXPECT_EQ(r.shown.MessageTexts(), std::vector<std::string>{"打开文件错误,没有找到image"});
  EXPECT_FALSE(r.run.View().Mapped());
  EXPECT_EQ(r.run.Entry().size, 0u);
  r.next.reset();
}

}  // namespace
}  // namespace brenvik
