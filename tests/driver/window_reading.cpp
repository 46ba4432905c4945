#include "window_reading.h"

namespace uidriver {

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(size_t(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
  std::wstring w(size_t(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), w.data(), n);
  return w;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  const int n = ::GetClassNameW(hwnd, name, int(std::size(name)));
  return std::wstring(name, size_t(n > 0 ? n : 0));
}

LRESULT Ask(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, bool* ok) {
  DWORD_PTR result = 0;
  const bool answered = ::SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                              kMessageBoundMs, &result) != 0;
  if (ok) *ok = answered;
  return LRESULT(result);
}

std::wstring TextOf(HWND hwnd) {
  bool ok = false;
  const LRESULT length = Ask(hwnd, WM_GETTEXTLENGTH, 0, 0, &ok);
  if (ok) {
    std::wstring text(size_t(length) + 1, L'\0');
    const LRESULT got = Ask(hwnd, WM_GETTEXT, WPARAM(text.size()), LPARAM(text.data()), &ok);
    if (ok) {
      text.resize(size_t(got));
      return text;
    }
  }
  wchar_t text[1024] = {};
  const int n = ::GetWindowTextW(hwnd, text, int(std::size(text)));
  return std::wstring(text, size_t(n > 0 ? n : 0));
}

namespace {

struct Search {
  DWORD pid;
  std::vector<HWND> found;
};

BOOL CALLBACK Collect(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  if (pid == search->pid && ::IsWindowVisible(hwnd)) search->found.push_back(hwnd);
  return TRUE;
}

}  // namespace

std::vector<HWND> TopWindowsOf(DWORD pid) {
  Search search{pid, {}};
  ::EnumWindows(&Collect, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FindDialog(DWORD pid, const std::wstring& caption) {
  for (HWND hwnd : TopWindowsOf(pid)) {
    wchar_t text[256] = {};
    ::GetWindowTextW(hwnd, text, int(std::size(text)));
    if (ClassOf(hwnd) == L"#32770" && caption == text) return hwnd;
  }
  return nullptr;
}

std::vector<HWND> BoxesOf(DWORD pid, HWND main) {
  std::vector<HWND> boxes;
  for (HWND hwnd : TopWindowsOf(pid))
    if (hwnd != main && ClassOf(hwnd) == L"#32770") boxes.push_back(hwnd);
  return boxes;
}

std::vector<HWND> ChildrenOf(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = ::GetWindow(parent, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
    children.push_back(child);
  return children;
}

}  // namespace uidriver
