#include "input.h"

#include <vector>

#include "window_reading.h"

namespace uidriver {
namespace {

INPUT MouseAt(POINT p, DWORD flags) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  const int w = ::GetSystemMetrics(SM_CXSCREEN), h = ::GetSystemMetrics(SM_CYSCREEN);
  in.mi.dx = LONG((p.x * 65535 + w / 2) / (w > 1 ? w - 1 : 1));
  in.mi.dy = LONG((p.y * 65535 + h / 2) / (h > 1 ? h - 1 : 1));
  in.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
  return in;
}

INPUT Key(WORD vk, bool up) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return in;
}

}  // namespace

void ClickAt(POINT p) {
  INPUT moves[] = {MouseAt(p, MOUSEEVENTF_MOVE)};
  ::SendInput(1, moves, sizeof(INPUT));
  ::Sleep(30);
  INPUT click[] = {MouseAt(p, MOUSEEVENTF_LEFTDOWN), MouseAt(p, MOUSEEVENTF_LEFTUP)};
  ::SendInput(2, click, sizeof(INPUT));
  ::Sleep(30);
}

void ClickCentre(HWND hwnd) {
  RECT r{};
  ::GetWindowRect(hwnd, &r);
  ClickAt(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

bool PressKey(HWND hwnd, const std::string& key) {
  std::vector<WORD> chord;
  if (key == "escape") chord = {VK_ESCAPE};
  else if (key == "enter") chord = {VK_RETURN};
  else if (key == "space") chord = {VK_SPACE};
  else if (key == "alt+f4") chord = {VK_MENU, VK_F4};
  else return false;
  ::SetForegroundWindow(hwnd);
  ::Sleep(50);
  std::vector<INPUT> events;
  for (WORD vk : chord) events.push_back(Key(vk, false));
  for (auto it = chord.rbegin(); it != chord.rend(); ++it) events.push_back(Key(*it, true));
  ::SendInput(UINT(events.size()), events.data(), sizeof(INPUT));
  ::Sleep(50);
  return true;
}

bool FindCloseBox(HWND hwnd, POINT* where) {
  RECT r{};
  ::GetWindowRect(hwnd, &r);
  const int captionY = r.top + ::GetSystemMetrics(SM_CYFRAME) + ::GetSystemMetrics(SM_CYCAPTION) / 2;
  for (int x = r.right - 2; x > (r.left + r.right) / 2; --x) {
    bool ok = false;
    const LRESULT hit = Ask(hwnd, WM_NCHITTEST, 0, MAKELPARAM(x, captionY), &ok);
    if (ok && hit == HTCLOSE) {
      // The middle of the run of HTCLOSE points.
      int left = x;
      while (left > r.left && Ask(hwnd, WM_NCHITTEST, 0, MAKELPARAM(left - 1, captionY)) == HTCLOSE) --left;
      *where = POINT{(left + x) / 2, captionY};
      return true;
    }
  }
  return false;
}

}  // namespace uidriver
