// setup.exe: prepares a PC for the flashing program in one pass, without a question: the
// sync-service registry values, the handset's USB driver, and one message saying how it went.
#include <windows.h>

#include "setup_dialog.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  setup::SetupDialog dialog;
  // The message box is the report; only a dialog that could not even be made (so nothing
  // was done and nothing shown) ends the program with a failure.
  return dialog.DoModal() == -1 ? 1 : 0;
}
