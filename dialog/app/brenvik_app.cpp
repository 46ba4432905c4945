#include "app/brenvik_app.h"

#include <winsock2.h>
#include <commctrl.h>

#include "app/brenvik_dlg.h"
#include "res/resource.h"
#include "winui/app.h"
#include "winui/resources.h"

BOOL CBrenvikApp::InitInstance() {
  WSADATA sockets{};
  if (::WSAStartup(MAKEWORD(1, 1), &sockets) != 0) {
    winui::AppMessageBox(winui::LoadText(IDP_SOCKETS_INIT_FAILED), MB_OK | MB_ICONEXCLAMATION);
    return FALSE;
  }
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);

  {
    CBrenvikDlg dialog(winui::CommandTail());
    dialog.DoModal();
  }
  ::WSACleanup();
  return FALSE;
}

CBrenvikApp theApp;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  theApp.InitInstance();
  return 0;
}
