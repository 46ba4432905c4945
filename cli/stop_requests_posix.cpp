#include "stop_requests.h"

#include <fcntl.h>
#include <unistd.h>

namespace brenvik::cli {
namespace {

volatile std::sig_atomic_t g_stopSignal = 0;
volatile std::sig_atomic_t g_stopCount = 0;

// Standard streams that were terminals, and /dev/null to put in their place once the
// terminal is gone: later writes then change nothing, wherever they come from.
bool g_wasTerminal[3] = {};
int g_devNull = -1;

void OnStopSignal(int signal) {
  if (signal == SIGHUP && g_devNull >= 0)
    for (int fd = 1; fd <= 2; ++fd)
      if (g_wasTerminal[fd]) ::dup2(g_devNull, fd);  // async-signal-safe
  // The first signal names the stop; a later one does not rename it.
  if (g_stopSignal == 0) g_stopSignal = signal;
  g_stopCount = g_stopCount + 1;
}

}  // namespace

// A closed standard descriptor would be taken by the next file opened (the log, the handset's
// link), and text meant for the terminal would go into it.
void PrepareStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
}

// Output that nobody reads any more (a closed pipe) must not end a flash either.
void WatchStopRequests() {
  for (int fd = 0; fd <= 2; ++fd) g_wasTerminal[fd] = ::isatty(fd) == 1;
  g_devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: a waiting poll() returns and sees the request
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::sigaction(signal, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);  // a log at the file size limit fails its write (EFBIG), which is told
}

const volatile std::sig_atomic_t* StopSignal() { return &g_stopSignal; }
const volatile std::sig_atomic_t* StopCount() { return &g_stopCount; }

int RunEnded(int code) { return code; }

std::string SignalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGQUIT: return "SIGQUIT";
    default: return "signal " + std::to_string(signal);
  }
}

}  // namespace brenvik::cli
