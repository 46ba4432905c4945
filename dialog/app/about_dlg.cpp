#include "app/about_dlg.h"

#include "res/resource.h"

CAboutDlg::CAboutDlg(HWND owner) : winui::Dialog(IDD_ABOUTBOX, owner) {}
