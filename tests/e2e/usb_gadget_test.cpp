// Which UDC the USB gadget takes, and what it accepts as its id and serial number: against a
// scratch folder laid out as configfs and /sys/class/udc show them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "usb_gadget.h"

namespace brenvik::handset {
namespace {

namespace fs = std::filesystem;

TEST(UsbGadgetOptions, TakesIdsAndSerialsAUsbDeviceCanCarry) {
  struct Case {
    const char* text;
    bool ok;
    uint16_t vendor, product;
  } ids[] = {
      {"049f:0003", true, 0x049f, 0x0003}, {"FFFF:1", true, 0xffff, 0x0001}, {"049f", false, 0, 0},
      {"049f:", false, 0, 0},              {"1049f:3", false, 0, 0},          {"04 9f:3", false, 0, 0},
      {"-49f:3", false, 0, 0},             {"0x49f:3", false, 0, 0},
  };
  for (const Case& c : ids) {
    UsbId id;
    EXPECT_EQ(ParseUsbId(c.text, id), c.ok) << c.text;
    if (c.ok) {
      EXPECT_TRUE(id.vendor == c.vendor && id.product == c.product) << c.text;
    }
  }
  const struct {
    std::string serial;
    bool ok;
  } serials[] = {
      {"", true},  // a handset without a serial number
      {std::string(125, 'A'), true},
      {std::string(126, 'A'), false},  // with its newline past what configfs takes
      {"F1A5H001\n", false},          // configfs would drop the newline
      {"AB\nCD", false},              {"AB\tCD", false}, {"AB\x7f", false}, {"SN 4711-\xc3\xa4", true},
  };
  for (const auto& c : serials) EXPECT_EQ(CheckSerial(c.serial).empty(), c.ok) << c.serial;
  const std::string random = RandomSerial();
  EXPECT_EQ(random.size(), 8u);
  EXPECT_EQ(random.find_first_not_of("0123456789ABCDEF"), std::string::npos) << random;
}

class UdcChoice : public ::testing::Test {
 public:  // the cases' lambdas lay the folders out
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) / ("udc-choice-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    paths_ = {(root_ / "config").string(), (root_ / "udc").string(), (root_ / "dev").string(),
              (root_ / "run").string()};
    for (const std::string& d : {paths_.configfs + "/usb_gadget", paths_.udcClass, paths_.locks})
      fs::create_directories(d);
  }
  void TearDown() override { fs::remove_all(root_); }

  void Udc(const std::string& name, const std::string& function = "") {
    fs::create_directories(paths_.udcClass + "/" + name);
    std::ofstream(paths_.udcClass + "/" + name + "/function") << function;
  }
  void BoundGadget(const std::string& name, const std::string& udc) {
    fs::create_directories(paths_.configfs + "/usb_gadget/" + name);
    std::ofstream(paths_.configfs + "/usb_gadget/" + name + "/UDC") << udc << "\n";
  }

  fs::path root_;
  GadgetPaths paths_;
};

TEST_F(UdcChoice, TakesAFreeControllerAndNeverOneInUse) {
  struct Case {
    const char* name;
    std::function<void(UdcChoice&)> layout;
    std::string wanted;
    GadgetFailure result;
    std::string udc;
  } cases[] = {
      {"the first of several", [](UdcChoice& t) { t.Udc("dummy_udc.1"); t.Udc("dummy_udc.0"); }, "",
       GadgetFailure::kNone, "dummy_udc.0"},
      {"the one asked for", [](UdcChoice& t) { t.Udc("dummy_udc.0"); t.Udc("dummy_udc.1"); }, "dummy_udc.1",
       GadgetFailure::kNone, "dummy_udc.1"},
      {"past one another configfs gadget holds",
       [](UdcChoice& t) { t.Udc("dummy_udc.0"); t.Udc("dummy_udc.1"); t.BoundGadget("g1", "dummy_udc.0"); }, "",
       GadgetFailure::kNone, "dummy_udc.1"},
      {"past one a legacy gadget driver holds",
       [](UdcChoice& t) { t.Udc("dummy_udc.0", "g_serial\n"); t.Udc("dummy_udc.1"); }, "", GadgetFailure::kNone,
       "dummy_udc.1"},
      {"one that only our own gadget, left by a killed run, holds",
       [](UdcChoice& t) {
         t.Udc("musb-hdrc.0", "brenvik-sim-musb-hdrc.0\n");
         t.BoundGadget("brenvik-sim-musb-hdrc.0", "musb-hdrc.0");
       },
       "", GadgetFailure::kNone, "musb-hdrc.0"},
      {"none free", [](UdcChoice& t) { t.Udc("dummy_udc.0"); t.BoundGadget("g1", "dummy_udc.0"); }, "",
       GadgetFailure::kNoUdc, ""},
      {"the one asked for is in use",
       [](UdcChoice& t) { t.Udc("dummy_udc.0"); t.Udc("dummy_udc.1"); t.BoundGadget("g1", "dummy_udc.1"); },
       "dummy_udc.1", GadgetFailure::kNoUdc, ""},
      {"the one asked for does not exist", [](UdcChoice& t) { t.Udc("dummy_udc.0"); }, "dummy_udc.7",
       GadgetFailure::kNoUdc, ""},
      {"no controller at all", [](UdcChoice&) {}, "", GadgetFailure::kNoUdc, ""},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    c.layout(*this);
    UsbGadget gadget(paths_);
    std::string error;
    EXPECT_EQ(gadget.Claim(c.wanted, error), c.result) << c.name << ": " << error;
    EXPECT_EQ(gadget.Udc(), c.udc) << c.name;
    EXPECT_EQ(error.empty(), c.result == GadgetFailure::kNone) << c.name << ": " << error;
  }
}

TEST_F(UdcChoice, AControllerALiveHandsetSimServesIsNotTakenUntilItEnds) {
  Udc("dummy_udc.0");
  Udc("dummy_udc.1");
  auto first = std::make_unique<UsbGadget>(paths_);
  UsbGadget second(paths_), third(paths_);
  std::string error;
  ASSERT_EQ(first->Claim("", error), GadgetFailure::kNone) << error;
  ASSERT_EQ(second.Claim("", error), GadgetFailure::kNone) << error;
  EXPECT_EQ(second.Udc(), "dummy_udc.1");
  EXPECT_EQ(third.Claim("dummy_udc.0", error), GadgetFailure::kNoUdc);
  EXPECT_NE(error.find("another handset-sim"), std::string::npos) << error;
  first.reset();  // its run ended
  EXPECT_EQ(third.Claim("", error), GadgetFailure::kNone) << error;
  EXPECT_EQ(third.Udc(), "dummy_udc.0");
}

}  // namespace
}  // namespace brenvik::handset
