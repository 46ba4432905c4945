// A modal dialog on a resource template. The object is found again from the window through
// DWLP_USER, set at WM_INITDIALOG, and each message goes to a virtual handler.
#pragma once

#include <windows.h>

#include <string>

namespace winui {

class Dialog {
 public:
  explicit Dialog(int templateId, HWND parent = nullptr) : templateId_(templateId), parent_(parent) {}
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;
  virtual ~Dialog() = default;

  // Runs the dialog's own message loop; returns what EndDialog was given, or -1.
  INT_PTR DoModal(HINSTANCE instance = ::GetModuleHandleW(nullptr));
  void EndDialog(INT_PTR result);

  HWND Hwnd() const { return hwnd_; }
  HWND Item(int id) const { return ::GetDlgItem(hwnd_, id); }
  std::wstring ItemText(int id) const;
  void SetItemText(int id, const std::wstring& text) const;
  void EnableItem(int id, bool enable) const { ::EnableWindow(Item(id), enable ? TRUE : FALSE); }

 protected:
  virtual BOOL OnInitDialog() { return TRUE; }
  // A command from a control or a menu other than IDOK and IDCANCEL; true when handled.
  virtual bool OnCommand(int /*id*/, int /*code*/, HWND /*control*/) { return false; }
  // Enter (IDOK) and Escape or the close box (IDCANCEL) end the dialog unless overridden.
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  // The window is going away, whichever way the dialog ended.
  virtual void OnDestroy() {}
  // Any other message; true when handled, with the message's result in `result`.
  virtual bool OnMessage(UINT /*message*/, WPARAM, LPARAM, INT_PTR& /*result*/) { return false; }
  // A handler threw: told in an "Error" box by default; the dialog stays.
  virtual void OnUnexpected(const char* what);

 private:
  static INT_PTR CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

  int templateId_;
  HWND parent_;
  HWND hwnd_ = nullptr;
};

}  // namespace winui
