// The About box: the icon, the name and the version, and OK.
#pragma once

#include "winui/dialog.h"

class CAboutDlg : public winui::Dialog {
 public:
  explicit CAboutDlg(HWND owner);
};
