// flat-gallery: every flat painter on real controls of its classes and styles, in the
// states that matter, in one window, so a person can judge the look. The bottom row is
// live: mouse, keyboard and clicks drive its state bits.
//   flat-gallery.exe [--seconds N]   (closes itself after N seconds)
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "flat_binding.h"
#include "gallery_icons.h"

namespace brenvik::gallery {
namespace {

constexpr int kMargin = 14, kLabelWidth = 132, kColumn = 100, kCloseTimer = 1;
constexpr COLORREF kLabelColour = 0x6E6E6E, kHeadingColour = 0x743C00, kCellColour = 0xE0E0E0;

struct Column {
  const wchar_t* name;
  DWORD state;
};

struct Label {
  int x, y;
  std::wstring text;
  bool heading;
};

class Gallery {
 public:
  bool Create(HINSTANCE instance);
  HWND Window() const { return window_; }

 private:
  static LRESULT CALLBACK Procedure(HWND, UINT, WPARAM, LPARAM);
  void OnPaint();

  HWND Control(const wchar_t* cls, const wchar_t* caption, DWORD style, int x, int y, int w, int h);
  void Heading(const wchar_t* text);
  void Columns(const std::vector<Column>& columns);
  void RowLabel(const wchar_t* text, int height);
  void PushButtons();
  void Boxes(const wchar_t* heading, DWORD type, FlatPainter painter, const wchar_t* caption,
             const std::vector<Column>& rows);
  void TextControls();
  void LiveRow();

  HINSTANCE instance_ = nullptr;
  HWND window_ = nullptr;
  HFONT font_ = nullptr, bold_ = nullptr;
  HICON icon_ = nullptr, greyIcon_ = nullptr;
  std::vector<Label> labels_;
  std::vector<RECT> cells_;  // outlines showing where a static control's area ends
  int y_ = kMargin;
};

HWND Gallery::Control(const wchar_t* cls, const wchar_t* caption, DWORD style, int x, int y, int w,
                      int h) {
  HWND control = ::CreateWindowExW(0, cls, caption, WS_CHILD | WS_VISIBLE | style, x, y, w, h,
                                   window_, nullptr, instance_, nullptr);
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  return control;
}

void Gallery::Heading(const wchar_t* text) {
  labels_.push_back({kMargin, y_, text, true});
  y_ += 20;
}

void Gallery::Columns(const std::vector<Column>& columns) {
  for (size_t i = 0; i < columns.size(); ++i)
    labels_.push_back({kMargin + kLabelWidth + int(i) * kColumn, y_, columns[i].name, false});
  y_ += 18;
}

void Gallery::RowLabel(const wchar_t* text, int height) {
  labels_.push_back({kMargin, y_ + (height - 13) / 2, text, false});
}

void Gallery::PushButtons() {
  const std::vector<Column> states = {
      {L"normal", 0},
      {L"hot", FLAT_HOT},
      {L"pressed", FLAT_PRESSED},
      {L"focused", FLAT_FOCUSED},
      {L"default", FLAT_DEFAULT},
      {L"pressed+hot+focus", FLAT_PRESSED | FLAT_HOT | FLAT_FOCUSED},
      {L"indeterminate", FLAT_INDETERMINATE},
      {L"disabled", FLAT_DISABLED},
  };
  struct Row {
    const wchar_t *name, *caption;
    DWORD style;
    bool icon;
    int height;
  } rows[] = {
      {L"push button", L"烧录", BS_PUSHBUTTON, false, 26},
      {L"BS_FLAT", L"Flash", BS_PUSHBUTTON | BS_FLAT, false, 26},
      {L"icon", L"Browse", BS_PUSHBUTTON, true, 44},
      {L"icon, CENTER|BOTTOM", L"Browse", BS_PUSHBUTTON | BS_CENTER | BS_BOTTOM, true, 30},
      {L"icon, no caption", L"", BS_PUSHBUTTON, true, 26},
  };
  Heading(L"Push buttons");
  Columns(states);
  for (const Row& row : rows) {
    RowLabel(row.name, row.height);
    for (size_t i = 0; i < states.size(); ++i) {
      HWND b = Control(L"Button", row.caption, row.style, kMargin + kLabelWidth + int(i) * kColumn,
                       y_, kColumn - 12, row.height);
      if (row.icon) ::SendMessageW(b, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
      BindFixed(b, PaintPushButton, states[i].state, row.icon ? greyIcon_ : nullptr);
    }
    y_ += row.height + 8;
  }
  y_ += 6;
}

// Columns are states of the box, plus the caption on the left and no caption at all.
void Gallery::Boxes(const wchar_t* heading, DWORD type, FlatPainter painter, const wchar_t* caption,
                    const std::vector<Column>& rows) {
  struct Variant {
    Column column;
    DWORD style;
    bool captioned;
  } variants[] = {
      {{L"normal", 0}, 0, true},
      {{L"hot", FLAT_HOT}, 0, true},
      {{L"pressed", FLAT_PRESSED}, 0, true},
      {{L"focused", FLAT_FOCUSED}, 0, true},
      {{L"hot+pressed", FLAT_HOT | FLAT_PRESSED}, 0, true},
      {{L"disabled", FLAT_DISABLED}, 0, true},
      {{L"BS_LEFTTEXT", 0}, BS_LEFTTEXT, true},
      {{L"no caption, focus", FLAT_FOCUSED}, 0, false},
  };
  std::vector<Column> columns;
  for (const Variant& v : variants) columns.push_back(v.column);
  Heading(heading);
  Columns(columns);
  for (const Column& row : rows) {
    RowLabel(row.name, 17);
    for (size_t i = 0; i < std::size(variants); ++i) {
      const Variant& v = variants[i];
      // Caption on the left: narrower, so the box stays beside its own caption.
      int width = (v.style & BS_LEFTTEXT) ? kColumn - 26 : kColumn - 12;
      HWND b = Control(L"Button", v.captioned ? caption : L"", type | v.style,
                       kMargin + kLabelWidth + int(i) * kColumn, y_, width, 17);
      BindFixed(b, painter, row.state | v.column.state);
    }
    y_ += 23;
  }
  y_ += 8;
}

void Gallery::TextControls() {
  Heading(L"Group boxes and static text");
  const int x0 = kMargin + kLabelWidth;
  struct Group {
    const wchar_t* caption;
    DWORD state;
  } groups[] = {{L"升级方式", 0}, {L"Disabled", FLAT_DISABLED}, {L"", 0}};
  for (size_t i = 0; i < std::size(groups); ++i) {
    HWND g = Control(L"Button", groups[i].caption, BS_GROUPBOX, x0 + int(i) * 140, y_, 128, 70);
    BindFixed(g, PaintGroupBox, groups[i].state);
  }
  labels_.push_back({kMargin, y_ + 28, L"group box", false});
  struct Text {
    const wchar_t *name, *caption;
    DWORD style, state;
  } texts[] = {
      {L"SS_LEFT", L"Ready", SS_LEFT, 0},
      {L"SS_CENTER", L"00:12  512 KB/s", SS_CENTER, 0},
      {L"SS_RIGHT", L"Update Sucess! ", SS_RIGHT, 0},
      {L"disabled", L"Update Fail! ", SS_LEFT, FLAT_DISABLED},
  };
  const int tx = x0 + 3 * 140 + 90;
  for (size_t i = 0; i < std::size(texts); ++i) {
    int y = y_ + int(i) * 18;
    labels_.push_back({tx - 84, y, texts[i].name, false});
    HWND s = Control(L"Static", texts[i].caption, texts[i].style, tx, y, 200, 15);
    BindFixed(s, PaintStaticText, texts[i].state);
    cells_.push_back({tx - 1, y - 1, tx + 201, y + 16});
  }
  y_ += 84;
}

void Gallery::LiveRow() {
  Heading(L"Live: the mouse, the keyboard (Tab, Space) and clicks set the bits");
  const int x0 = kMargin + kLabelWidth;
  HWND flash = Control(L"Button", L"烧录", BS_DEFPUSHBUTTON | WS_TABSTOP, x0, y_, 88, 26);
  HWND browse = Control(L"Button", L"Browse", BS_PUSHBUTTON | WS_TABSTOP, x0 + 100, y_, 88, 44);
  ::SendMessageW(browse, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  HWND off = Control(L"Button", L"Off", BS_PUSHBUTTON, x0 + 200, y_, 88, 44);
  ::EnableWindow(off, FALSE);
  HWND check = Control(L"Button", L"自动升级", BS_AUTO3STATE | WS_TABSTOP, x0 + 300, y_ + 4, 96, 17);
  ::SendMessageW(check, BM_SETCHECK, BST_CHECKED, 0);
  HWND img = Control(L"Button", L"img", BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, x0 + 410, y_ + 4, 70, 17);
  HWND bin = Control(L"Button", L"bin", BS_AUTORADIOBUTTON, x0 + 490, y_ + 4, 70, 17);
  ::SendMessageW(img, BM_SETCHECK, BST_CHECKED, 0);
  for (HWND b : {flash, browse, off}) BindLive(b, PaintPushButton, greyIcon_);
  BindLive(check, PaintCheckBox);
  for (HWND b : {img, bin}) BindLive(b, PaintRadioButton);
  RowLabel(L"try them", 26);
  ::SetFocus(flash);
  y_ += 44 + kMargin;
}

bool Gallery::Create(HINSTANCE instance) {
  instance_ = instance;
  font_ = ::CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
  bold_ = ::CreateFontW(-12, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
  icon_ = MakeHandsetIcon(false);
  greyIcon_ = MakeHandsetIcon(true);

  WNDCLASSW wc{};
  wc.lpfnWndProc = Procedure;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hIcon = icon_;
  wc.hbrBackground = ::CreateSolidBrush(g_flatBackground);
  wc.lpszClassName = L"BrenvikFlatGallery";
  if (!::RegisterClassW(&wc)) return false;
  window_ = ::CreateWindowExW(0, wc.lpszClassName, L"Brenvik flat control gallery",
                              WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                                  WS_CLIPCHILDREN,
                              20, 20, 400, 300, nullptr, nullptr, instance, this);
  if (!window_) return false;

  PushButtons();
  Boxes(L"Check boxes", BS_CHECKBOX, PaintCheckBox, L"自动升级",
        {{L"unchecked", 0}, {L"checked", FLAT_CHECKED}, {L"indeterminate", FLAT_INDETERMINATE},
         {L"checked+indet.", FLAT_CHECKED | FLAT_INDETERMINATE}});
  Boxes(L"Radio buttons", BS_RADIOBUTTON, PaintRadioButton, L"Record",
        {{L"unchecked", 0}, {L"checked", FLAT_CHECKED}, {L"indeterminate", FLAT_INDETERMINATE}});
  TextControls();
  LiveRow();

  RECT r{0, 0, 2 * kMargin + kLabelWidth + 8 * kColumn - 12, y_};
  ::AdjustWindowRect(&r, DWORD(::GetWindowLongW(window_, GWL_STYLE)), FALSE);
  ::SetWindowPos(window_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER);
  return true;
}

void Gallery::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(window_, &ps);
  ::SetBkMode(dc, TRANSPARENT);
  for (const Label& label : labels_) {
    HGDIOBJ old = ::SelectObject(dc, label.heading ? bold_ : font_);
    ::SetTextColor(dc, label.heading ? kHeadingColour : kLabelColour);
    ::TextOutW(dc, label.x, label.y, label.text.c_str(), int(label.text.size()));
    ::SelectObject(dc, old);
  }
  HBRUSH cell = ::CreateSolidBrush(kCellColour);
  for (const RECT& r : cells_) ::FrameRect(dc, &r, cell);
  ::DeleteObject(cell);
  ::EndPaint(window_, &ps);
}

LRESULT CALLBACK Gallery::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Gallery*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_PAINT:
      if (self) {
        self->OnPaint();
        return 0;
      }
      break;
    case WM_TIMER:
      if (wParam == kCloseTimer) ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

int SecondsToLive(const wchar_t* commandLine) {
  const wchar_t* option = std::wcsstr(commandLine, L"--seconds");
  int seconds = 0;
  if (option) std::swscanf(option, L"--seconds %d", &seconds);
  return seconds;
}

}  // namespace
}  // namespace brenvik::gallery

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int show) {
  brenvik::gallery::Gallery gallery;
  if (!gallery.Create(instance)) return 1;
  if (int seconds = brenvik::gallery::SecondsToLive(commandLine); seconds > 0)
    ::SetTimer(gallery.Window(), brenvik::gallery::kCloseTimer, UINT(seconds) * 1000, nullptr);
  ::ShowWindow(gallery.Window(), show);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (::IsDialogMessageW(gallery.Window(), &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return 0;
}
