#include "session.h"

#include <commctrl.h>

#include <set>

#include "window_reading.h"

namespace uidriver {
namespace {

constexpr int kControls[] = {1000, 1001, 1003, 1004, 1005, 1009, 1010};

Json Fail(const std::string& why) { return Json{{"ok", false}, {"error", why}}; }

Json RectJson(HWND hwnd) {
  RECT r{};
  ::GetWindowRect(hwnd, &r);
  return Json::array({r.left, r.top, r.right, r.bottom});
}

}  // namespace

Json BoxJson(HWND box, HWND main) {
  Json children = Json::array();
  std::wstring message;
  for (HWND child : ChildrenOf(box)) {
    const int id = ::GetDlgCtrlID(child);
    const std::wstring text = TextOf(child);
    if (id == 0xFFFF && ClassOf(child) == L"Static" && message.empty() && !text.empty()) message = text;
    children.push_back({{"id", id}, {"class", Utf8(ClassOf(child))}, {"text", Utf8(text)},
                        {"visible", ::IsWindowVisible(child) != 0}});
  }
  const HWND owner = ::GetWindow(box, GW_OWNER);
  // The priority of the thread that shows the box (the worker's, for the final message).
  int priority = THREAD_PRIORITY_ERROR_RETURN;
  if (HANDLE thread = ::OpenThread(THREAD_QUERY_INFORMATION, FALSE, ::GetWindowThreadProcessId(box, nullptr))) {
    priority = ::GetThreadPriority(thread);
    ::CloseHandle(thread);
  }
  return Json{{"caption", Utf8(TextOf(box))},
              {"thread_priority", priority},
              {"text", Utf8(message)},
              {"owned_by_main", owner != nullptr && owner == main},
              {"owner", owner != nullptr},
              {"same_thread_as_main",
               ::GetWindowThreadProcessId(box, nullptr) == ::GetWindowThreadProcessId(main, nullptr)},
              {"main_enabled", ::IsWindowEnabled(main) != 0},
              {"rect", RectJson(box)},
              {"children", children}};
}

Json Session::Launch(const std::wstring& exe, const std::wstring& args, const std::wstring& cwd,
                     const std::wstring& caption, DWORD timeoutMs) {
  Kill();
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!args.empty()) commandLine += L" " + args;
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  std::wstring desktop = L"WinSta0\\" + desktop_;
  si.lpDesktop = desktop.data();
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        cwd.empty() ? nullptr : cwd.c_str(), &si, &pi))
    return Fail("CreateProcess failed: error " + std::to_string(::GetLastError()));
  ::CloseHandle(pi.hThread);
  process_ = pi.hProcess;
  pid_ = pi.dwProcessId;
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < timeoutMs) {
    // The window exists before its controls: wait until it is shown with them.
    if (HWND hwnd = FindDialog(pid_, caption); hwnd && ::GetDlgItem(hwnd, 1004)) {
      main_ = hwnd;
      ::Sleep(100);  // let WM_INITDIALOG's work land
      return Json{{"ok", true}, {"pid", pid_}, {"ms", ::GetTickCount() - start}};
    }
    if (::WaitForSingleObject(process_, 20) == WAIT_OBJECT_0) break;
  }
  const bool ended = ::WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
  Kill();
  return Fail(ended ? "the program ended without showing its dialog" : "no dialog within the bound");
}

bool Session::Running() const { return process_ && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

Json Session::State() const {
  if (!main_ || !::IsWindow(main_)) return Fail("no dialog");
  Json enabled, texts;
  for (int id : kControls) {
    enabled[std::to_string(id)] = ::IsWindowEnabled(Item(id)) != 0;
    texts[std::to_string(id)] = Utf8(TextOf(Item(id)));
  }
  HWND bar = Item(1000);
  return Json{{"ok", true},
              {"caption", Utf8(TextOf(main_))},
              {"path", texts["1001"]},
              {"status", texts["1009"]},
              {"check", Ask(Item(1010), BM_GETCHECK) == BST_CHECKED},
              {"texts", texts},
              {"enabled", enabled},
              {"main_enabled", ::IsWindowEnabled(main_) != 0},
              {"progress", {{"pos", Ask(bar, PBM_GETPOS)},
                            {"min", Ask(bar, PBM_GETRANGE, TRUE)},
                            {"max", Ask(bar, PBM_GETRANGE, FALSE)}}},
              {"rect", RectJson(main_)},
              {"boxes", Boxes()}};
}

Json Session::Layout() const {
  if (!main_) return Fail("no dialog");
  Json controls = Json::array();
  for (HWND child : ChildrenOf(main_)) {
    controls.push_back({{"id", ::GetDlgCtrlID(child)},
                        {"class", Utf8(ClassOf(child))},
                        {"style", uint32_t(::GetWindowLongW(child, GWL_STYLE))},
                        {"exstyle", uint32_t(::GetWindowLongW(child, GWL_EXSTYLE))},
                        {"text", Utf8(TextOf(child))},
                        {"rect", RectJson(child)}});
  }
  RECT client{};
  ::GetClientRect(main_, &client);
  return Json{{"ok", true},
              {"style", uint32_t(::GetWindowLongW(main_, GWL_STYLE))},
              {"exstyle", uint32_t(::GetWindowLongW(main_, GWL_EXSTYLE))},
              {"client", {client.right, client.bottom}},
              {"controls", controls}};
}

Json Session::Boxes() const {
  Json boxes = Json::array();
  for (HWND box : BoxesOf(pid_, main_)) boxes.push_back(BoxJson(box, main_));
  return boxes;
}

Json Session::WaitBox(const std::wstring& caption, DWORD timeoutMs, DWORD pollMs) const {
  const DWORD start = ::GetTickCount();
  do {
    for (HWND box : BoxesOf(pid_, main_)) {
      if (caption.empty() || TextOf(box) == caption) {
        ::Sleep(50);  // a box is shown before its texts are all set
        Json j = BoxJson(box, main_);
        j["ok"] = true;
        j["ms"] = ::GetTickCount() - start;
        return j;
      }
    }
    ::Sleep(pollMs);
  } while (::GetTickCount() - start < timeoutMs);
  Json j = Fail("no box within the bound");
  j["boxes"] = Boxes();
  return j;
}

Json Session::PressBoxButton(const std::wstring& caption, int id) const {
  for (HWND box : BoxesOf(pid_, main_)) {
    if (!caption.empty() && TextOf(box) != caption) continue;
    HWND button = ::GetDlgItem(box, id);
    if (!button) return Fail("the box has no button " + std::to_string(id));
    // As a key press on the focused box would: the button's own click.
    ::PostMessageW(button, BM_CLICK, 0, 0);
    const DWORD start = ::GetTickCount();
    while (::IsWindow(box) && ::IsWindowVisible(box) && ::GetTickCount() - start < 5000) ::Sleep(10);
    return Json{{"ok", !::IsWindow(box) || !::IsWindowVisible(box)}};
  }
  return Fail("no such box");
}

Json Session::WatchRun(DWORD timeoutMs) const {
  const DWORD start = ::GetTickCount();
  int samples = 0;
  bool flashEverEnabled = false, browseEverEnabled = false, exitEverEnabled = false;
  LRESULT maxPos = 0, lastMax = 0;
  DWORD slowestAnswer = 0;
  std::set<std::string> statuses;
  std::string lastStatus;
  Json atBox;
  while (::GetTickCount() - start < timeoutMs) {
    if (!BoxesOf(pid_, main_).empty()) {
      // What the controls showed when the box came up, before they could still catch up.
      atBox = {{"pos", Ask(Item(1000), PBM_GETPOS)}, {"max", Ask(Item(1000), PBM_GETRANGE, FALSE)},
               {"status", Utf8(TextOf(Item(1009)))}};
      break;
    }
    if (samples > 0 && ::IsWindowEnabled(Item(1004))) break;  // ended without a box
    ++samples;
    flashEverEnabled |= ::IsWindowEnabled(Item(1004)) != 0;
    browseEverEnabled |= ::IsWindowEnabled(Item(1003)) != 0;
    exitEverEnabled |= ::IsWindowEnabled(Item(1005)) != 0;
    const DWORD before = ::GetTickCount();
    const LRESULT pos = Ask(Item(1000), PBM_GETPOS);
    slowestAnswer = std::max<DWORD>(slowestAnswer, ::GetTickCount() - before);
    maxPos = std::max(maxPos, pos);
    lastMax = Ask(Item(1000), PBM_GETRANGE, FALSE);
    lastStatus = Utf8(TextOf(Item(1009)));
    if (statuses.size() < 200) statuses.insert(lastStatus);
    ::Sleep(5);
  }
  const std::vector<HWND> boxes = BoxesOf(pid_, main_);
  return Json{{"ok", true},
              {"ms", ::GetTickCount() - start},
              {"samples", samples},
              {"flash_ever_enabled", flashEverEnabled},
              {"browse_ever_enabled", browseEverEnabled},
              {"exit_ever_enabled", exitEverEnabled},
              {"max_pos", maxPos},
              {"range_max", lastMax},
              {"statuses", statuses},
              {"slowest_answer_ms", slowestAnswer},
              {"at_box", atBox},
              {"box", boxes.empty() ? Json() : BoxJson(boxes.front(), main_)}};
}

Json Session::WaitFlashEnabled(DWORD timeoutMs) const {
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < timeoutMs) {
    if (::IsWindowEnabled(Item(1004))) return Json{{"ok", true}, {"ms", ::GetTickCount() - start}};
    ::Sleep(10);
  }
  return Fail("the flash button stayed disabled");
}

Json Session::WaitExit(DWORD timeoutMs) {
  if (!process_) return Fail("no process");
  if (::WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return Fail("still running");
  DWORD code = 0;
  ::GetExitCodeProcess(process_, &code);
  ::CloseHandle(process_);
  process_ = nullptr;
  main_ = nullptr;
  return Json{{"ok", true}, {"exit_code", code}};
}

void Session::Kill() {
  if (!process_) return;
  if (::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
    ::TerminateProcess(process_, 99);
    ::WaitForSingleObject(process_, 5000);
  }
  ::CloseHandle(process_);
  process_ = nullptr;
  main_ = nullptr;
}

}  // namespace uidriver
