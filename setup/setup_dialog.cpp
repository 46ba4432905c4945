#include "setup_dialog.h"

#include "messages.h"
#include "resource.h"
#include "sync_settings.h"
#include "winui/app.h"

namespace setup {

SetupDialog::SetupDialog()
    : winui::Dialog(IDD_SETUP_DIALOG),
      m_icon(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

BOOL SetupDialog::OnInitDialog() {
  AddAboutEntry();
  ::SendMessageW(Hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
  ::SendMessageW(Hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
  m_programDir = ProgramDirectory();

  // The values go in on every platform, whether or not a driver can be installed.
  WriteSyncSettings();
  m_platformCode = DetectPlatform();
  const bool installed = InstallDriver(m_platformCode, m_programDir) == InstallResult::kInstalled;

  winui::ShowBox(Hwnd(), installed ? kInstalledText : kFailedText, winui::AppName(),
                 MB_OK | MB_ICONEXCLAMATION);
  // Ended before it was ever shown: the window never appears.
  OnOK();
  return TRUE;
}

// The window's system menu offers the About entry, as the program's other windows do; the
// window is never presented, so nothing needs to answer it.
void SetupDialog::AddAboutEntry() {
  HMENU menu = ::GetSystemMenu(Hwnd(), FALSE);
  if (!menu) return;
  wchar_t text[128] = {};
  if (::LoadStringW(::GetModuleHandleW(nullptr), IDS_ABOUTBOX, text, int(std::size(text))) <= 0)
    return;
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, text);
}

}  // namespace setup
