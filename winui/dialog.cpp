#include "winui/dialog.h"

#include <exception>

#include "winui/app.h"
#include "win32/text.h"

namespace winui {
namespace {

// Messages whose result a dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message) {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
      return true;
    default:
      return false;
  }
}

}  // namespace

INT_PTR Dialog::DoModal(HINSTANCE instance) {
  return ::DialogBoxParamW(instance, MAKEINTRESOURCEW(templateId_), parent_, &Dialog::Procedure,
                           reinterpret_cast<LPARAM>(this));
}

void Dialog::OnUnexpected(const char* what) {
  ShowBox(hwnd_, win32::Widen(std::string("An error of the program: ") + what), L"Error");
}

void Dialog::EndDialog(INT_PTR result) { ::EndDialog(hwnd_, result); }

std::wstring Dialog::ItemText(int id) const {
  HWND item = Item(id);
  const int length = ::GetWindowTextLengthW(item);
  std::wstring text(size_t(length) + 1, L'\0');
  const int got = ::GetWindowTextW(item, text.data(), length + 1);
  text.resize(size_t(got > 0 ? got : 0));
  return text;
}

void Dialog::SetItemText(int id, const std::wstring& text) const { ::SetWindowTextW(Item(id), text.c_str()); }

INT_PTR CALLBACK Dialog::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Dialog* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lParam);
    ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    self->hwnd_ = hwnd;
  } else {
    self = reinterpret_cast<Dialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  if (!self) return FALSE;
  // The one boundary of every handler: an exception must not unwind through the system's
  // frames, which would end the process with the window gone.
  try {
    return self->Dispatch(message, wParam, lParam);
  } catch (const std::exception& e) {
    self->OnUnexpected(e.what());
  } catch (...) {
    self->OnUnexpected("unknown");
  }
  return FALSE;
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_COMMAND: {
      const int id = LOWORD(wParam), code = HIWORD(wParam);
      if (id == IDOK && code == BN_CLICKED) {
        OnOK();
        return TRUE;
      }
      if (id == IDCANCEL && code == BN_CLICKED) {
        OnCancel();
        return TRUE;
      }
      if (OnCommand(id, code, reinterpret_cast<HWND>(lParam))) return TRUE;
      break;
    }
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    default:
      break;
  }
  INT_PTR result = 0;
  if (!OnMessage(message, wParam, lParam, result)) return FALSE;
  if (ReturnsDirectly(message)) return result;
  ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
  return TRUE;
}

}  // namespace winui
