// One run of the program under test, launched by the driver and driven through its windows.
#pragma once

#include <windows.h>

#include <nlohmann/json.hpp>
#include <string>

namespace uidriver {

using Json = nlohmann::json;

class Session {
 public:
  // Programs start on `desktop`, the driver's own.
  explicit Session(std::wstring desktop) : desktop_(std::move(desktop)) {}
  ~Session() { Kill(); }

  // Starts `exe` with `args` in `cwd` (empty: the driver's) and waits until its dialog with
  // `caption` is visible. On failure the process is ended, so no stale window misleads.
  Json Launch(const std::wstring& exe, const std::wstring& args, const std::wstring& cwd,
              const std::wstring& caption, DWORD timeoutMs);
  Json State() const;
  Json Layout() const;  // the dialog's controls in tab order, with classes and styles
  Json Boxes() const;   // every other dialog of the process, with its texts
  // Waits for a box; with `caption` non-empty, for one with that caption. Looks every
  // `pollMs` (a benchmark looks seldom, so as not to slow the program it times).
  Json WaitBox(const std::wstring& caption, DWORD timeoutMs, DWORD pollMs = 10) const;
  // Presses a button of the box `caption` (or the only box) by its id.
  Json PressBoxButton(const std::wstring& caption, int id) const;
  // Follows a run from the flash button's press until a box comes up or the flash button is
  // enabled again: what the controls showed (also the moment the box came up), and how fast
  // the dialog answered meanwhile.
  Json WatchRun(DWORD timeoutMs) const;
  Json WaitFlashEnabled(DWORD timeoutMs) const;
  Json WaitExit(DWORD timeoutMs);
  void Kill();

  HWND Main() const { return main_; }
  HWND Item(int id) const { return ::GetDlgItem(main_, id); }
  DWORD Pid() const { return pid_; }
  bool Running() const;

 private:
  std::wstring desktop_;
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  HWND main_ = nullptr;
};

Json BoxJson(HWND box, HWND main);

}  // namespace uidriver
