#include "app/brenvik_dlg.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>

#include "app/about_dlg.h"
#include "app/command_tail.h"
#include "app/image_file_dialog.h"
#include "app/settings_file.h"
#include "res/resource.h"
#include "winui/app.h"
#include "winui/resources.h"
#include "win32/text.h"

using brenvik::MessageCaption;

namespace {

constexpr wchar_t kMutexName[] = L"Brenvik app Mutex";

int ClampToInt(uint32_t value) { return int(std::min<uint32_t>(value, INT_MAX)); }

}  // namespace

CBrenvikDlg::CBrenvikDlg(std::wstring commandTail)
    : winui::Dialog(IDD_BRENVIK_DIALOG),
      m_commandTail(std::move(commandTail)),
      m_hIcon(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      m_run(*this, *this) {}

CBrenvikDlg::~CBrenvikDlg() = default;

BOOL CBrenvikDlg::OnInitDialog() {
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, kMutexName);
  if (!mutex) {
    winui::ShowBox(nullptr, L"NULL", L"Error");
  } else if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    return FALSE;  // an instance is starting right now; the handle stays open
  } else {
    ::CloseHandle(mutex);
  }

  if (HMENU menu = ::GetSystemMenu(Hwnd(), FALSE)) {
    const std::wstring about = winui::LoadText(IDS_ABOUTBOX);
    if (!about.empty()) {
      ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
    }
  }
  ::SendMessageW(Hwnd(), WM_SETICON, ICON_BIG, LPARAM(m_hIcon));
  ::SendMessageW(Hwnd(), WM_SETICON, ICON_SMALL, LPARAM(m_hIcon));

  // Computed once: the file dialog may move the current directory later.
  m_iniPath = brenvik::app::SettingsPath();
  m_imagePath = brenvik::app::ReadImagePath(m_iniPath);
  const brenvik::app::StartRequest request = brenvik::app::ParseCommandTail(m_commandTail);
  if (request.imagePath) m_imagePath = *request.imagePath;
  if (request.devicePath) m_devicePath = win32::Narrow(request.devicePath->c_str());
  SetItemText(IDC_IMAGE_PATH, m_imagePath);

  ::SendDlgItemMessageW(Hwnd(), IDC_AUTO_UPGRADE, BM_SETCHECK, BST_CHECKED, 0);
  SetItemText(IDC_AUTO_UPGRADE, L"自动升级");
  SetItemText(IDC_EXIT, L"退出");
  SetItemText(IDC_BROWSE, L"浏览");
  SetItemText(IDC_FLASH, L"烧录");
  return TRUE;
}

bool CBrenvikDlg::OnCommand(int id, int code, HWND) {
  if (code != BN_CLICKED) return false;
  switch (id) {
    case IDC_EXIT: OnExit(); return true;
    case IDC_FLASH: OnFlash(); return true;
    case IDC_BROWSE: OnBrowse(); return true;
    default: return false;
  }
}

void CBrenvikDlg::OnOK() {
  if (!m_running) EndDialog(IDOK);
}

void CBrenvikDlg::OnCancel() {
  if (!m_running) EndDialog(IDCANCEL);
}

void CBrenvikDlg::OnExit() { OnOK(); }

void CBrenvikDlg::OnDestroy() {
  // An instance that stopped at the mutex has no settings file to write.
  if (!m_iniPath.empty()) brenvik::app::WriteImagePath(m_iniPath, m_imagePath);
}

bool CBrenvikDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) {
  switch (message) {
    case WM_SYSCOMMAND: return OnSysCommand(wParam);
    case WM_PAINT: return OnPaint();
    case WM_QUERYDRAGICON: result = INT_PTR(m_hIcon); return true;
    case kRunEndedMessage: OnRunEnded(); return true;
    case kShowProgressMessage: ShowProgress(); return true;
    case WM_TIMER:
      if (wParam != kProgressTimer) return false;
      ShowProgress();
      return true;
    case WM_QUERYENDSESSION:
      // A logoff in the middle of a flash would leave the handset half written.
      if (!m_running) return false;
      result = FALSE;
      return true;
    default: return false;
  }
}

bool CBrenvikDlg::OnSysCommand(WPARAM command) {
  if ((command & 0xFFF0) != IDM_ABOUTBOX) return false;
  CAboutDlg about(Hwnd());
  about.DoModal();
  return true;
}

bool CBrenvikDlg::OnPaint() {
  if (!::IsIconic(Hwnd())) return false;
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(Hwnd(), &paint);
  ::SendMessageW(Hwnd(), WM_ICONERASEBKGND, WPARAM(dc), 0);
  const int cx = ::GetSystemMetrics(SM_CXICON), cy = ::GetSystemMetrics(SM_CYICON);
  RECT client;
  ::GetClientRect(Hwnd(), &client);
  const int x = (client.right - client.left - cx + 1) / 2;
  const int y = (client.bottom - client.top - cy + 1) / 2;
  ::DrawIcon(dc, x, y, m_hIcon);
  ::EndPaint(Hwnd(), &paint);
  return true;
}

void CBrenvikDlg::OnBrowse() {
  if (m_running) return;
  const std::optional<std::wstring> chosen = brenvik::app::AskImageFile(Hwnd());
  if (!chosen) return;
  m_imagePath = *chosen;
  m_run.MapImage(win32::Narrow(m_imagePath.c_str()));  // at once, before any flash
  SetItemText(IDC_IMAGE_PATH, m_imagePath);
}

void CBrenvikDlg::ShowMessage(const std::string& text, MessageCaption caption) {
  ++m_messagesShown;
  // The box shows over the progress of the run so far, the final one over its end.
  if (::GetCurrentThreadId() == ::GetWindowThreadProcessId(Hwnd(), nullptr)) ShowProgress();
  else ::SendMessageW(Hwnd(), kShowProgressMessage, 0, 0);
  const std::wstring wide = win32::Widen(text);
  switch (caption) {
    case MessageCaption::kProgram:
      // Owned by the dialog and captioned with the program's name, from either thread.
      winui::ShowBox(Hwnd(), wide, winui::AppName(), MB_OK | MB_ICONEXCLAMATION);
      break;
    case MessageCaption::kError: winui::ShowBox(nullptr, wide, L"Error"); break;
    case MessageCaption::kPost: winui::ShowBox(nullptr, wide, L"Post"); break;
  }
}

// The worker only publishes; the UI thread shows the newest values on its timer.
void CBrenvikDlg::SetRange(uint32_t maximum) { m_published.SetRange(maximum); }
void CBrenvikDlg::SetPosition(uint32_t position) { m_published.SetPosition(position); }
void CBrenvikDlg::SetStatus(const std::string& line) { m_published.SetStatus(line); }

void CBrenvikDlg::ShowProgress() {
  const brenvik::app::PublishedProgress::Update u = m_published.Take();
  HWND bar = Item(IDC_PROGRESS);
  if (u.rangeBefore) ::SendMessageW(bar, PBM_SETRANGE32, 0, ClampToInt(*u.rangeBefore));
  if (u.position) ::SendMessageW(bar, PBM_SETPOS, WPARAM(ClampToInt(*u.position)), 0);
  if (u.rangeAfter) ::SendMessageW(bar, PBM_SETRANGE32, 0, ClampToInt(*u.rangeAfter));
  if (u.status) SetItemText(IDC_STATUS, win32::Widen(*u.status));
}
