// brenvik-uidriver drives Brenvik.exe as a person would: one JSON command per line on
// standard input, one JSON answer per line on standard output. The test scripts on the
// Linux side start it under Wine and keep it for a whole test.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "file_dialog.h"
#include "input.h"
#include "session.h"
#include "window_reading.h"

using uidriver::Json;

namespace {

constexpr wchar_t kMainCaption[] = L"            Brenvik   R04";
constexpr wchar_t kMutexName[] = L"Brenvik app Mutex";

DWORD Bound(const Json& c, DWORD fallback) { return c.value("timeout_ms", fallback); }

Json Ok() { return Json{{"ok", true}}; }
Json Fail(const std::string& why) { return Json{{"ok", false}, {"error", why}}; }

class Driver {
 public:
  explicit Driver(std::wstring desktop) : session_(std::move(desktop)) {}

  Json Handle(const Json& c) {
    const std::string cmd = c.value("cmd", "");
    if (cmd == "hello")
      return Json{{"ok", true}, {"acp", ::GetACP()}, {"screen", {::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)}}};
    if (cmd == "launch")
      return session_.Launch(W(c, "exe"), W(c, "args"), W(c, "cwd"),
                             c.contains("caption") ? W(c, "caption") : kMainCaption, Bound(c, 30000));
    if (cmd == "hold_mutex") return HoldMutex();
    if (cmd == "release_mutex") return ReleaseMutex();
    if (cmd == "probe_share") return ProbeShare(W(c, "path"));
    if (!session_.Main()) return Fail("no program launched");
    if (cmd == "state") return session_.State();
    if (cmd == "layout") return session_.Layout();
    if (cmd == "boxes") return Json{{"ok", true}, {"boxes", session_.Boxes()}};
    if (cmd == "set_path") {
      bool ok = false;
      const std::wstring text = W(c, "text");
      uidriver::Ask(session_.Item(1001), WM_SETTEXT, 0, LPARAM(text.c_str()), &ok);
      return ok ? Ok() : Fail("the edit box did not answer");
    }
    if (cmd == "set_check") {
      const bool want = c.value("on", true);
      const auto checked = [&] { return (uidriver::Ask(session_.Item(1010), BM_GETCHECK) == BST_CHECKED) == want; };
      if (!checked()) uidriver::ClickCentre(session_.Item(1010));
      // The click is input the program takes in its own time: on a slow machine (an emulated
      // guest) it has not yet when the click returns.
      for (int i = 0; i < 100 && !checked(); ++i) ::Sleep(30);
      return Json{{"ok", checked()}};
    }
    if (cmd == "click") {
      HWND control = session_.Item(c.value("id", 0));
      if (!control) return Fail("no such control");
      if (c.value("via", "mouse") == "message") ::PostMessageW(control, BM_CLICK, 0, 0);
      else uidriver::ClickCentre(control);
      return Ok();
    }
    if (cmd == "key") return uidriver::PressKey(session_.Main(), c.value("key", "")) ? Ok() : Fail("unknown key");
    if (cmd == "close_box") {
      POINT where{};
      if (!uidriver::FindCloseBox(session_.Main(), &where)) return Fail("no close box found");
      uidriver::ClickAt(where);
      return Json{{"ok", true}, {"at", {where.x, where.y}}};
    }
    if (cmd == "syscommand") {
      ::PostMessageW(session_.Main(), WM_SYSCOMMAND, WPARAM(c.value("id", 0)), 0);
      return Ok();
    }
    if (cmd == "query_end_session") {  // as a logoff asks: may the session end?
      bool ok = false;
      const LRESULT answer = uidriver::Ask(session_.Main(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, &ok);
      return ok ? Json{{"ok", true}, {"may_end", answer != FALSE}} : Fail("the dialog did not answer");
    }
    if (cmd == "responsive") {  // as the system judges a window: does it answer, is it hung?
      bool ok = false;
      const DWORD before = ::GetTickCount();
      uidriver::Ask(session_.Main(), WM_NULL, 0, 0, &ok);
      return Json{{"ok", true}, {"answered", ok}, {"ms", ::GetTickCount() - before},
                  {"hung", ::IsHungAppWindow(session_.Main()) != FALSE}};
    }
    if (cmd == "wait_box") return session_.WaitBox(W(c, "caption"), Bound(c, 10000), c.value("poll_ms", 10));
    if (cmd == "press") return session_.PressBoxButton(W(c, "caption"), c.value("id", IDOK));
    if (cmd == "watch_run") return session_.WatchRun(Bound(c, 60000));
    if (cmd == "wait_flash_enabled") return session_.WaitFlashEnabled(Bound(c, 10000));
    if (cmd == "wait_exit") return session_.WaitExit(Bound(c, 10000));
    if (cmd == "running") return Json{{"ok", true}, {"running", session_.Running()}};
    if (cmd == "kill") {
      session_.Kill();
      return Ok();
    }
    if (cmd == "file_dialog")
      return uidriver::AnswerFileDialog(session_.Pid(), session_.Main(), W(c, "path"),
                                        c.value("action", "open"), Bound(c, 10000));
    return Fail("unknown command " + cmd);
  }

 private:
  static std::wstring W(const Json& c, const char* key) { return uidriver::Wide(c.value(key, "")); }

  Json HoldMutex() {
    if (!mutex_) mutex_ = ::CreateMutexW(nullptr, FALSE, kMutexName);
    return Json{{"ok", mutex_ != nullptr}};
  }
  Json ReleaseMutex() {
    if (mutex_) ::CloseHandle(mutex_);
    mutex_ = nullptr;
    return Ok();
  }
  // Whether a writer may open the file: refused while the program keeps it mapped.
  static Json ProbeShare(const std::wstring& path) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    const DWORD error = ::GetLastError();
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    return Json{{"ok", true}, {"writable", h != INVALID_HANDLE_VALUE}, {"error", h == INVALID_HANDLE_VALUE ? error : 0}};
  }

  uidriver::Session session_;
  HANDLE mutex_ = nullptr;
};

}  // namespace

// brenvik-uidriver [DESKTOP]: the driver and the programs it starts live on a desktop of
// that name (made when missing). Its shell process starts from here, with our display,
// whatever console programs sharing the Wine prefix started before; a name of its own for
// each run never meets a shell left behind on a display that is gone.
int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  const std::wstring desktop = argc > 1 ? argv[1] : L"BrenvikGui";
  if (HDESK desk = ::CreateDesktopW(desktop.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr))
    ::SetThreadDesktop(desk);
  Driver driver(desktop);
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    Json answer;
    try {
      const Json command = Json::parse(line);
      if (command.value("cmd", "") == "quit") break;
      answer = driver.Handle(command);
    } catch (const std::exception& e) {
      answer = Fail(std::string("bad command: ") + e.what());
    }
    const std::string out = answer.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
  }
  return 0;
}
