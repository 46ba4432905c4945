#include "stop_requests.h"

#include <windows.h>

#include <cstdio>

namespace brenvik::cli {
namespace {

volatile std::sig_atomic_t g_stopSignal = 0;
volatile std::sig_atomic_t g_stopCount = 0;

// Set by the main thread once the run's result line is out; a closing console waits for it.
HANDLE g_runEnded = nullptr;
volatile LONG g_exitCode = 0;
// The system ends a process about 5 s after its console was closed.
constexpr DWORD kCloseWaitMs = 4500;

// Ctrl-C, Ctrl-Break and a closed console stop a flash as SIGINT does on Linux. The system
// calls this on a thread of its own.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      g_stopSignal = SIGINT;
      g_stopCount = g_stopCount + 1;
      return TRUE;
    case CTRL_CLOSE_EVENT:
      g_stopSignal = SIGINT;
      g_stopCount = 2;  // the console goes in seconds: the runs stop now
      // The process ends as soon as this returns: let the run stop at its packet boundary
      // and tell so first, then end with the run's own exit code rather than the system's.
      if (::WaitForSingleObject(g_runEnded, kCloseWaitMs) == WAIT_OBJECT_0) ::ExitProcess(DWORD(g_exitCode));
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void PrepareStandardStreams() {
  ::SetConsoleOutputCP(CP_UTF8);  // the system's Chinese messages are UTF-8 text
}

void WatchStopRequests() {
  g_runEnded = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

const volatile std::sig_atomic_t* StopSignal() { return &g_stopSignal; }
const volatile std::sig_atomic_t* StopCount() { return &g_stopCount; }

int RunEnded(int code) {
  std::fflush(nullptr);
  g_exitCode = code;
  if (g_runEnded) ::SetEvent(g_runEnded);
  return code;
}

std::string SignalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    default: return "signal " + std::to_string(signal);
  }
}

}  // namespace brenvik::cli
