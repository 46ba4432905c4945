// brenvik-cli: flash an image into the handset, inspect an image, list handsets.
#include <CLI/CLI.hpp>

#include "commands.h"
#include "link/device_discovery.h"
#include "utf8_args.h"

#include <cmath>
#include <csignal>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

#ifndef _WIN32
void OnStopSignal(int signal) { g_stopSignal = signal; }

// A flash is never cut short by a signal: SIGINT and SIGTERM stop it at the next packet,
// and output that nobody reads any more (a closed pipe) must not end it either.
void HandleSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: a waiting poll() returns and sees the request
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}
#else
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
      return TRUE;
    case CTRL_CLOSE_EVENT:
      g_stopSignal = SIGINT;
      // The process ends as soon as this returns: let the run stop at its packet boundary
      // and tell so first, then end with the run's own exit code rather than the system's.
      if (::WaitForSingleObject(g_runEnded, kCloseWaitMs) == WAIT_OBJECT_0) ::ExitProcess(DWORD(g_exitCode));
      return TRUE;
    default:
      return FALSE;
  }
}

void HandleConsoleEvents() {
  g_runEnded = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int RunEnded(int code) {
  std::fflush(nullptr);
  g_exitCode = code;
  if (g_runEnded) ::SetEvent(g_runEnded);
  return code;
}
#endif

// CLI11's ranges let "nan" through (every comparison with it is false).
const CLI::Validator kSeconds(
    [](const std::string& text) -> std::string {
      double v = 0;
      if (!CLI::detail::lexical_cast(text, v) || !std::isfinite(v) || v < 0.001 || v > 86400.0)
        return "must be a number of seconds from 0.001 to 86400";
      return "";
    },
    "SECONDS");

const CLI::Validator kUsbId(
    [](const std::string& text) -> std::string {
      brenvik::UsbId id;
      return brenvik::ParseUsbId(text, id) ? "" : "must be a USB id VID:PID in hex, such as 049f:0003";
    },
    "VID:PID");

}  // namespace

int main(int argc, char** argv) {
  const brenvik::cli::Utf8Args args(argc, argv);
#ifdef _WIN32
  SetConsoleOutputCP(CP_UTF8);  // the system's Chinese messages are UTF-8 text
#endif
  using namespace brenvik::cli;
  CLI::App app{"Brenvik command-line flasher: writes firmware images into the handset."};
  app.require_subcommand(1);
  app.set_version_flag("--version", "brenvik-cli 1.0");

  FlashArgs flash;
  bool noAutoUpgrade = false;
  auto* f = app.add_subcommand("flash", "Flash an image, exactly as the dialog's flash button does.");
  f->add_flag("--no-auto-upgrade", noAutoUpgrade,
              "Skip the upgrade acknowledgement and the kind packet; send plain blocks.");
  f->add_option("--device", flash.devices,
                "Device to open (a serial port, a pty, COMn). Give it more than once to flash several "
                "handsets at once. Without it the first handset found is flashed.")
      ->allow_extra_args(false);
  f->add_flag("--all", flash.all, "Flash every handset found, all at once (besides any --device).");
  f->add_option("--usb-id", flash.usbIds,
                "Also find ttyUSB/ttyACM devices with this USB id (Linux; may be repeated).")
      ->check(kUsbId)
      ->allow_extra_args(false);
  f->add_option("--log", flash.logPath,
                "Append one JSON line per handset and run to this file; a log that cannot be "
                "written stops the flash before it starts.");
  f->add_option("--timeout", flash.timeoutSeconds, "Seconds each read or write may wait for the handset.")
      ->check(kSeconds)
      ->default_val(60);
  f->add_flag("--json", flash.json, "One JSON object per line instead of text.");
  f->add_option("IMAGE", flash.image, "Image file: .img .raw .bin .nb0 .dio")->required();

  InspectArgs inspect;
  auto* i = app.add_subcommand("inspect", "Show an image's kind, layout and records; no device needed.");
  i->add_flag("--json", inspect.json, "JSON instead of text.");
  i->add_option("IMAGE", inspect.image, "Image file")->required();

  ListArgs list;
  auto* l = app.add_subcommand("list", "List the handsets present, or say how to name one.");
  l->add_flag("--json", list.json, "JSON instead of text.");
  l->add_option("--usb-id", list.usbIds, "Also list ttyUSB/ttyACM devices with this USB id (Linux; may be repeated).")
      ->check(kUsbId)
      ->allow_extra_args(false);

  try {
    app.parse(args.Count(), args.Values());
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }
  if (f->parsed()) {
    flash.autoUpgrade = !noAutoUpgrade;
    flash.stop = &g_stopSignal;
#ifndef _WIN32
    HandleSignals();
    return RunFlash(flash);
#else
    HandleConsoleEvents();
    return RunEnded(RunFlash(flash));
#endif
  }
  if (i->parsed()) return RunInspect(inspect, stdout);
  if (l->parsed()) return RunList(list, stdout);
  return kExitUsage;
}
