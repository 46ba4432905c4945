// The setup dialog: it does the whole job while it initialises and ends itself, so the one
// message box is all the user sees of it.
#pragma once

#include <windows.h>

#include <string>

#include "driver_install.h"
#include "winui/dialog.h"

namespace setup {

class SetupDialog : public winui::Dialog {
 public:
  SetupDialog();

 protected:
  BOOL OnInitDialog() override;

 private:
  void AddAboutEntry();

  std::wstring m_programDir;
  PlatformCode m_platformCode = kNoInstaller;
  HICON m_icon;
};

}  // namespace setup
