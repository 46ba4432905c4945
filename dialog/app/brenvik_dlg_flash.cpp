// The flash button: the run is prepared and downloaded on a worker, so the window keeps
// answering while the handset is awaited.
#include "app/brenvik_dlg.h"
#include "run/outcome_text.h"
#include "res/resource.h"
#include "winui/app.h"
#include "win32/text.h"

using brenvik::DownloadRun;
using brenvik::MessageCaption;
using brenvik::PrepareResult;

namespace {

constexpr wchar_t kNothingToFlash[] = L"Nothing to flash: the image is empty or cannot be mapped.";
constexpr wchar_t kShutdownBlockReason[] = L"Flashing the handset: logging off now would cut the flash short.";

template <typename Function>
Function User32(const char* name) {
  FARPROC found = ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name);
  return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

// The reason the system shows the user when a logoff waits on the dialog. Windows 2000 and
// XP have no such list: they are looked up, so that the program still starts there.
void BlockShutdown(HWND dialog, bool block) {
  if (block) {
    using Create = BOOL(WINAPI*)(HWND, LPCWSTR);
    if (auto create = User32<Create>("ShutdownBlockReasonCreate")) create(dialog, kShutdownBlockReason);
  } else {
    using Destroy = BOOL(WINAPI*)(HWND);
    if (auto destroy = User32<Destroy>("ShutdownBlockReasonDestroy")) destroy(dialog);
  }
}

}  // namespace

void CBrenvikDlg::OnFlash() {
  if (m_running) return;
  SetRunning(true);
  m_imagePath = ItemText(IDC_IMAGE_PATH);  // a path typed by hand is taken here
  m_flashPath = win32::Narrow(m_imagePath.c_str());
  m_flashOptions = brenvik::FlashOptions{};
  m_flashOptions.autoUpgrade = ::SendDlgItemMessageW(Hwnd(), IDC_AUTO_UPGRADE, BM_GETCHECK, 0, 0) != BST_UNCHECKED;
  m_flashOptions.devicePath = m_devicePath;
  ::SetTimer(Hwnd(), kProgressTimer, kProgressPeriodMs, nullptr);
  m_worker = ::CreateThread(nullptr, 0, &CBrenvikDlg::DownloadThreadProc, this, 0, nullptr);
  if (!m_worker) {
    ::KillTimer(Hwnd(), kProgressTimer);
    SetRunning(false);
  }
}

bool CBrenvikDlg::PrepareRun() {
  const int shownBefore = m_messagesShown;
  switch (m_run.Prepare(m_flashPath, m_flashOptions)) {
    case PrepareResult::kReady: return true;
    case PrepareResult::kImageEmpty:
      winui::ShowBox(nullptr, kNothingToFlash, L"Error");
      return false;
    case PrepareResult::kNoDevice:
      // A handset that is there but cannot be opened would otherwise fail in silence.
      if (m_messagesShown == shownBefore)
        winui::ShowBox(nullptr, win32::Widen(brenvik::DescribeOpen(m_run.Opening())), L"Error");
      return false;
    case PrepareResult::kImageRefused:
      // A folder or a device is no image file, as the dialog has always said; a size the
      // link cannot carry is told as such.
      if (m_run.Mapping().refusal == brenvik::ImageRefusal::kTooLarge)
        winui::ShowBox(nullptr, win32::Widen(brenvik::DescribeMapping(m_run.Mapping(), m_flashPath)), L"Error");
      else
        ShowMessage(brenvik::text::kImageNotFound, MessageCaption::kPost);
      return false;
    case PrepareResult::kImageUnreadable:  // the user has been told
      return false;
  }
  return false;
}

DWORD WINAPI CBrenvikDlg::DownloadThreadProc(void* param) {
  auto* dialog = static_cast<CBrenvikDlg*>(param);
  ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
  // The worker's one boundary: nothing may leave the thread. The run itself turns an error
  // of the program into a failed outcome; whatever else throws fails the run here.
  try {
    if (dialog->PrepareRun()) dialog->m_run.RunToEnd();  // waits until the final message is dismissed
  } catch (...) {
    dialog->ShowMessage(DownloadRun::FinalText(false), MessageCaption::kProgram);
  }
  ::PostMessageW(dialog->Hwnd(), kRunEndedMessage, 0, 0);
  return 1;
}

void CBrenvikDlg::OnUnexpected(const char* what) {
  winui::Dialog::OnUnexpected(what);
  if (m_running && !m_worker) {
    ::KillTimer(Hwnd(), kProgressTimer);
    ShowMessage(DownloadRun::FinalText(false), MessageCaption::kProgram);
    SetRunning(false);
  }
}

void CBrenvikDlg::OnRunEnded() {
  ::KillTimer(Hwnd(), kProgressTimer);
  ShowProgress();
  if (m_worker) ::CloseHandle(m_worker);  // never waited for: the thread is ending by itself
  m_worker = nullptr;
  SetRunning(false);
}

void CBrenvikDlg::SetRunning(bool running) {
  m_running = running;
  BlockShutdown(Hwnd(), running);
  HWND focus = ::GetFocus();
  for (int id : {IDC_FLASH, IDC_BROWSE, IDC_EXIT}) {
    // A disabled control must not keep the keyboard focus, or the keys go nowhere.
    if (running && focus == Item(id)) ::SendMessageW(Hwnd(), WM_NEXTDLGCTL, WPARAM(Item(IDC_IMAGE_PATH)), TRUE);
    EnableItem(id, !running);
  }
  if (HMENU menu = ::GetSystemMenu(Hwnd(), FALSE))
    ::EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | (running ? MF_GRAYED : MF_ENABLED));
}
