// The application object: starts Windows sockets, runs the Main dialog and ends with it.
#pragma once

#include <windows.h>

class CBrenvikApp {
 public:
  // Runs the whole program; FALSE always, since the program ends when the dialog ends.
  BOOL InitInstance();
};
