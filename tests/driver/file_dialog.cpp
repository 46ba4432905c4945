#include "file_dialog.h"

#include "window_reading.h"

namespace uidriver {
namespace {

// Control ids of the Explorer-style Open dialog.
constexpr int kFileTypeList = 0x470;  // cmb1
constexpr int kFileNameCombo = 0x47C;  // cmb13
constexpr int kFileNameEdit = 0x480;   // edt1, in older layouts

HWND FindOpenDialog(DWORD pid, HWND main) {
  for (HWND box : BoxesOf(pid, main))
    if (::GetDlgItem(box, kFileTypeList)) return box;
  return nullptr;
}

HWND FileNameField(HWND dialog) {
  if (HWND combo = ::GetDlgItem(dialog, kFileNameCombo)) {
    if (HWND edit = ::FindWindowExW(combo, nullptr, L"Edit", nullptr)) return edit;
    return combo;
  }
  return ::GetDlgItem(dialog, kFileNameEdit);
}

}  // namespace

nlohmann::json AnswerFileDialog(DWORD pid, HWND main, const std::wstring& path, const std::string& action,
                                DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  HWND dialog = nullptr;
  while (!(dialog = FindOpenDialog(pid, main)) && ::GetTickCount() - start < timeoutMs) ::Sleep(20);
  if (!dialog) return {{"ok", false}, {"error", "no Open dialog within the bound"}};
  ::Sleep(200);  // the dialog fills its lists after it is shown

  nlohmann::json types = nlohmann::json::array();
  HWND list = ::GetDlgItem(dialog, kFileTypeList);
  const LRESULT count = Ask(list, CB_GETCOUNT);
  for (LRESULT i = 0; i < count && i < 16; ++i) {
    const LRESULT length = Ask(list, CB_GETLBTEXTLEN, WPARAM(i));
    std::wstring text(size_t(length > 0 ? length : 0) + 1, L'\0');
    const LRESULT got = Ask(list, CB_GETLBTEXT, WPARAM(i), LPARAM(text.data()));
    text.resize(size_t(got > 0 ? got : 0));
    types.push_back(Utf8(text));
  }
  const std::wstring caption = TextOf(dialog);
  const bool ownedByMain = ::GetWindow(dialog, GW_OWNER) == main;

  if (action == "open") {
    HWND field = FileNameField(dialog);
    if (!field) return {{"ok", false}, {"error", "no file name field"}};
    bool ok = false;
    Ask(field, WM_SETTEXT, 0, LPARAM(path.c_str()), &ok);
    if (!ok) return {{"ok", false}, {"error", "the file name field did not answer"}};
  }
  ::PostMessageW(::GetDlgItem(dialog, action == "open" ? IDOK : IDCANCEL), BM_CLICK, 0, 0);
  while (::IsWindow(dialog) && ::IsWindowVisible(dialog) && ::GetTickCount() - start < timeoutMs) ::Sleep(20);
  return {{"ok", !::IsWindow(dialog) || !::IsWindowVisible(dialog)},
          {"caption", Utf8(caption)},
          {"owned_by_main", ownedByMain},
          {"types", types}};
}

}  // namespace uidriver
