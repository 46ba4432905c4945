// How the process meets the system it runs on before a run starts, and how a run is asked
// to stop from outside: signals and the standard descriptors on POSIX
// (stop_requests_posix.cpp), console events and the console's code page on Windows
// (stop_requests_win32.cpp).
#pragma once

#include <csignal>
#include <string>

namespace brenvik::cli {

// First thing in main: a closed standard descriptor is filled (POSIX), the console takes
// UTF-8 (Windows).
void PrepareStandardStreams();

// From now on a flash is never cut short from outside: SIGINT, SIGTERM, a closed terminal
// (SIGHUP) and SIGQUIT, or Ctrl-C, Ctrl-Break and a closed console, stop it at the next
// packet, so that it is recorded and said.
void WatchStopRequests();

// The number of the signal that asked first (0 until one did); a later one does not rename it.
const volatile std::sig_atomic_t* StopSignal();
// How many requests came: the station stops its runs at the second.
const volatile std::sig_atomic_t* StopCount();

// The run's exit code, handed back once its last line is out: a closing Windows console
// waits for it.
int RunEnded(int code);

// "SIGINT", "SIGTERM", ... as a cause names the signal that stopped a run.
std::string SignalName(int signal);

}  // namespace brenvik::cli
