// Brenvik.exe's resources as built: the Main dialog's template, the icon and the texts.
// BRENVIK_EXE names the program (a Linux path under Wine is taken through drive Z:).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

namespace {

std::wstring ProgramPath() {
  const char* path = std::getenv("BRENVIK_EXE");
  if (!path) return {};
  std::string p = path;
  if (!p.empty() && p[0] == '/') p = "Z:" + p;
  std::wstring w(p.begin(), p.end());
  for (wchar_t& c : w)
    if (c == L'/') c = L'\\';
  return w;
}

class Resources : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring path = ProgramPath();
    if (path.empty()) GTEST_SKIP() << "needs BRENVIK_EXE: run through ctest";
    module_ = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module_, nullptr) << ::GetLastError();
  }
  void TearDown() override {
    if (module_) ::FreeLibrary(module_);
  }
  const uint8_t* Find(const wchar_t* type, int id, DWORD* size = nullptr) {
    HRSRC r = ::FindResourceW(module_, MAKEINTRESOURCEW(id), type);
    if (!r) return nullptr;
    if (size) *size = ::SizeofResource(module_, r);
    return static_cast<const uint8_t*>(::LockResource(::LoadResource(module_, r)));
  }
  HMODULE module_ = nullptr;
};

// A reader of the words and strings of a dialog template.
struct Template {
  const uint8_t* p;
  uint16_t Word() { uint16_t v; std::memcpy(&v, p, 2); p += 2; return v; }
  uint32_t Dword() { uint32_t v; std::memcpy(&v, p, 4); p += 4; return v; }
  std::wstring SzOrOrd() {
    if (Word() == 0xFFFF) return L"#" + std::to_wstring(Word());
    p -= 2;
    std::wstring s;
    while (uint16_t c = Word()) s += wchar_t(c);
    return s;
  }
  void Align() { p = reinterpret_cast<const uint8_t*>((reinterpret_cast<uintptr_t>(p) + 3) & ~uintptr_t(3)); }
};

TEST_F(Resources, MainDialogTemplate) {
  const uint8_t* data = Find(RT_DIALOG, 102);
  ASSERT_NE(data, nullptr);
  Template t{data};
  ASSERT_EQ(t.Word(), 1);       // DIALOGEX
  ASSERT_EQ(t.Word(), 0xFFFF);
  t.Dword();                    // help id
  EXPECT_EQ(t.Dword(), 0x40000u);  // WS_EX_APPWINDOW
  const uint32_t style = t.Dword();
  EXPECT_EQ(style, uint32_t(WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME |
                            DS_SETFOREGROUND | DS_3DLOOK | DS_SETFONT));
  const uint16_t count = t.Word();
  const int16_t x = int16_t(t.Word()), y = int16_t(t.Word()), cx = int16_t(t.Word()), cy = int16_t(t.Word());
  EXPECT_EQ(std::vector<int>({x, y, cx, cy}), std::vector<int>({0, 0, 272, 140}));
  EXPECT_EQ(t.SzOrOrd(), L"");  // no menu
  EXPECT_EQ(t.SzOrOrd(), L"");  // the dialog class
  EXPECT_EQ(t.SzOrOrd(), L"            Brenvik   R04");
  EXPECT_EQ(t.Word(), 8);
  t.Word();
  t.Word();
  EXPECT_EQ(t.SzOrOrd(), L"MS Sans Serif");

  struct Item {
    int id;
    std::wstring cls, text;
    std::vector<int> rect;
    bool visible;
  } expected[] = {
      {1000, L"msctls_progress32", L"Progress1", {16, 60, 234, 14}, true},
      {1001, L"#129", L"", {15, 39, 206, 14}, true},
      {1003, L"#128", L"", {231, 39, 17, 14}, true},
      {1004, L"#128", L"", {23, 111, 50, 14}, true},
      {1005, L"#128", L"", {160, 110, 50, 14}, true},
      {-1, L"#130", L"Speed", {29, 89, 22, 8}, false},
      {1009, L"#130", L"", {81, 89, 170, 8}, true},
      {1010, L"#128", L"自动升级", {15, 13, 48, 10}, true},
  };
  ASSERT_EQ(count, std::size(expected));
  for (const Item& e : expected) {
    t.Align();
    t.Dword();  // help id
    t.Dword();  // extended style
    const uint32_t itemStyle = t.Dword();
    std::vector<int> rect;
    for (int i = 0; i < 4; ++i) rect.push_back(int16_t(t.Word()));
    const int id = int(int32_t(t.Dword()));
    std::wstring cls = t.SzOrOrd(), text = t.SzOrOrd();
    const uint16_t extra = t.Word();
    t.p += extra;
    // Class names come in any case, or as the predefined ordinals.
    for (wchar_t& c : cls) c = wchar_t(::towlower(c));
    if (cls == L"button") cls = L"#128";
    if (cls == L"edit") cls = L"#129";
    if (cls == L"static") cls = L"#130";
    EXPECT_EQ(id, e.id);
    EXPECT_EQ(cls, e.cls) << e.id;
    EXPECT_EQ(text, e.text) << e.id;
    EXPECT_EQ(rect, e.rect) << e.id;
    EXPECT_EQ((itemStyle & WS_VISIBLE) != 0, e.visible) << e.id;
    EXPECT_NE(itemStyle & WS_CHILD, 0u) << e.id;
  }
}

TEST_F(Resources, IconHasA32And16PixelImageOf16Colours) {
  const uint8_t* group = Find(RT_GROUP_ICON, 128);
  ASSERT_NE(group, nullptr);
  uint16_t count;
  std::memcpy(&count, group + 4, 2);
  std::vector<std::vector<int>> images;
  for (int i = 0; i < count; ++i) {
    const uint8_t* e = group + 6 + i * 14;  // width, height, colours, reserved, planes, bits
    uint16_t bits;
    std::memcpy(&bits, e + 6, 2);
    images.push_back({e[0], e[1], e[2], bits});
  }
  EXPECT_EQ(images, (std::vector<std::vector<int>>{{32, 32, 16, 4}, {16, 16, 16, 4}}));
}

TEST_F(Resources, StringsAboutBoxVersionAndManifest) {
  wchar_t text[128];
  EXPECT_EQ(std::wstring(text, ::LoadStringW(module_, 101, text, 128)), L"&About Brenvik...");
  EXPECT_EQ(std::wstring(text, ::LoadStringW(module_, 103, text, 128)), L"Windows sockets initialization failed.");
  EXPECT_NE(Find(RT_DIALOG, 100), nullptr);
  DWORD size = 0;
  const uint8_t* manifest = Find(RT_MANIFEST, 1, &size);
  ASSERT_NE(manifest, nullptr);
  const std::string xml(reinterpret_cast<const char*>(manifest), size);
  EXPECT_NE(xml.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(xml.find("<dpiAware"), std::string::npos);

  DWORD versionSize = 0;
  const uint8_t* version = Find(RT_VERSION, 1, &versionSize);
  ASSERT_NE(version, nullptr);
  std::vector<uint8_t> copy(version, version + versionSize);
  const std::pair<const wchar_t*, const wchar_t*> values[] = {
      {L"FileDescription", L"Brenvik MFC Application"},
      {L"InternalName", L"Brenvik"},
      {L"OriginalFilename", L"Brenvik.EXE"},
      {L"ProductName", L"Brenvik Application"},
  };
  for (const auto& [key, value] : values) {
    wchar_t* got = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + key;
    ASSERT_TRUE(::VerQueryValueW(copy.data(), query.c_str(), reinterpret_cast<void**>(&got), &length)) << key;
    EXPECT_STREQ(got, value);
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(copy.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
}

}  // namespace
