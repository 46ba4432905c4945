// handset-sim: the handset's side of the download link, served on a pty or a serial device.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <thread>

#include <CLI/CLI.hpp>

#include "exclusive_file.h"
#include "expected_image.h"
#include "gadget_line.h"
#include "finite_number.h"
#include "output_files.h"
#include "text/printable.h"
#include "pty_host.h"
#include "serve.h"
#include "tty_line.h"

namespace {

using namespace brenvik::handset;

volatile std::sig_atomic_t g_stop = 0;
constexpr std::chrono::milliseconds kHoldAfterEnd{300};
volatile pid_t g_child = -1;

void OnStopSignal(int) { g_stop = 1; }
void ForwardSignal(int sig) {
  if (g_child > 0) ::kill(g_child, sig);
}

void Handle(int sig, void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: a waiting poll() returns and sees the request
  ::sigaction(sig, &sa, nullptr);
}

// A process-group leader (a shell job) cannot start its own session: a child serves and
// this process stays as its stand-in, passing stop requests on and returning its result.
int RunInChild(pid_t child) {
  g_child = child;
  Handle(SIGINT, ForwardSignal);
  Handle(SIGTERM, ForwardSignal);
  Handle(SIGHUP, ForwardSignal);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return 1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// Whole or not at all: whoever waits for the file must never read half a path.
bool WritePathFile(const std::string& file, const std::string& path, std::string& error) {
  return WriteWhole(file, [&path](std::ostream& out) { out << path << '\n'; }, error);
}

// Closed standard descriptors get /dev/null, so that no file opened later takes their
// number and receives what is meant for standard output or error.
void FillStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    const int opened = ::open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != fd) ::close(opened);  // cannot be: the lowest number is taken
  }
}

// The folders this run will write into that already exist: DIR, or its session folders.
std::string RefuseOutDirs(const ServeOptions& o) {
  namespace fs = std::filesystem;
  if (o.outDir.empty()) return "";
  if (o.sessions == 1) return RefuseOutDir(o.outDir, o.expectPath);
  std::error_code ec;
  for (fs::directory_iterator it(o.outDir, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().filename().string().rfind("session-", 0) == 0)
      if (std::string why = RefuseOutDir(it->path().string(), o.expectPath); !why.empty()) return why;
  return "";
}

int ExitCodeOf(GadgetFailure f) {
  switch (f) {
    case GadgetFailure::kNoConfigfs: return 3;
    case GadgetFailure::kNoComposite: return 4;
    case GadgetFailure::kNoUdc: return 5;
    default: return 1;
  }
}

std::chrono::milliseconds Millis(double seconds) {
  return std::chrono::milliseconds(std::llround(seconds * 1000.0));
}

}  // namespace

int main(int argc, char** argv) {
  FillStandardDescriptors();
  CLI::App app{
      "handset-sim: the handset's side of the firmware download link, served on a pty\n"
      "(or, with --tty, on a serial device that exists already; with --gadget, as a USB device).\n"
      "Prints the served path as the first line of standard output, then serves downloads,\n"
      "checking every packet. What arrived goes to --out DIR: image.bin (block download),\n"
      "boot.bin and records.bin (record download) and summary.json; a short summary goes\n"
      "to standard error.",
      "handset-sim"};
  app.footer(
      "Faults (--fault, repeatable):\n"
      "  no-ack          withhold the upgrade acknowledgement; with a record download (kinds\n"
      "                  5, 6, 7) the device then never sends a byte, which brenvik-cli\n"
      "                  reports as a failure\n"
      "  wrong-ready=N   send a wrong ready packet (sixteen 0x30) before block N (from 0)\n"
      "  silent-from=N   stop answering before block N; read and discard until --timeout\n"
      "  drop-after=N    close the link after N bytes from the PC\n"
      "With --sessions other than 1, session K writes to DIR/session-K. handset-sim replaces\n"
      "only files it wrote itself (it marks its folders with a file .handset-sim), never\n"
      "the --expect reference.\n"
      "With --tty PATH the device is held exclusively and raw, and its settings are\n"
      "restored on exit; a hang-up from the far side ends the session as a dropped link.\n"
      "With --gadget (Linux, as root) handset-sim becomes a USB device with one ACM function\n"
      "through configfs, named brenvik-sim-UDC, bound to UDC or else the first free one, and\n"
      "serves its tty (/dev/ttyGSn, printed first). It speaks as soon as it is bound; an\n"
      "unplug (the UDC unbound) ends the session as a dropped link; drop-after=N unplugs it.\n"
      "The gadget is unbound and removed on exit, also on SIGINT and SIGTERM; one of the\n"
      "same name left by a killed run is removed by the next start.\n"
      "Exit status: 0 every session completed without protocol error (and, with --expect,\n"
      "matches the reference), 1 otherwise, 2 bad usage (also: --tty PATH is not a terminal);\n"
      "with --gadget: 3 configfs is not mounted, 4 the kernel has no USB gadget support\n"
      "(libcomposite, usb_f_acm), 5 no free USB device controller.");

  ServeOptions o;
  bool noAutoUpgrade = false;
  double timeoutSeconds = 120, lingerSeconds = 3, rateKib = 0;
  std::string pathFile, linkPath, ttyPath, gadgetUdc, usbId = "049f:0003", serial;
  std::vector<std::string> faultArgs;
  app.add_flag("--no-auto-upgrade", noAutoUpgrade,
               "No acknowledgement and no kind packet: expect a block download straight away");
  app.add_option("--rate", rateKib, "Take at most this many KiB per second, like a slow flash part (0: no limit)")
      ->type_name("KIB")->check(FiniteNumber(CLI::Range(0.0, 1e9)));
  app.add_option("--sessions", o.sessions, "Downloads to serve in a row; 0 serves until stopped (SIGTERM, SIGINT), waiting for each next one without a time limit")
      ->type_name("N")->capture_default_str()->check(CLI::NonNegativeNumber);
  app.add_option("--timeout", timeoutSeconds,
                 "Give up when the PC is silent this long within a session")
      ->type_name("SECONDS")->capture_default_str()->check(FiniteNumber(CLI::Range(0.001, 86400.0)));
  app.add_option("--linger", lingerSeconds,
                 "After a record download, wait this long for the repeated download-end command")
      ->type_name("SECONDS")->capture_default_str()->check(FiniteNumber(CLI::Range(0.0, 86400.0)));
  app.add_option("--out", o.outDir, "Directory for what arrives and summary.json (created if missing)")
      ->type_name("DIR");
  app.add_option("--expect", o.expectPath, "Reference image to compare what arrives with")
      ->type_name("IMAGE")->check(CLI::ExistingFile);
  app.add_option("--path-file", pathFile,
                 "Also write the served path (the pty, --tty PATH or the gadget's tty) to this file")
      ->type_name("FILE");
  CLI::Option* linkOpt =
      app.add_option("--link", linkPath, "Also make this path a symlink to the pty (e.g. in Wine's dosdevices)")
          ->type_name("PATH");
  CLI::Option* ttyOpt = app.add_option("--tty", ttyPath,
                 "Serve this existing serial device (a USB gadget's tty, a null-modem cable) instead of a new pty")
      ->type_name("PATH")->excludes(linkOpt);
  CLI::Option* gadgetOpt =
      app.add_option("--gadget", gadgetUdc,
                     "Be a USB device (Linux, as root) on this UDC, or the first free one, and serve its tty")
          ->type_name("[UDC]")->expected(0, 1)->excludes(linkOpt)->excludes("--tty");
  app.add_option("--usb-id", usbId, "The USB device's vendor and product id in hex")
      ->type_name("VID:PID")->capture_default_str()->needs(gadgetOpt);
  CLI::Option* serialOpt =
      app.add_option("--serial", serial, "The USB device's serial number (default: 8 random hex digits; '' for none)")
          ->type_name("TEXT")->needs(gadgetOpt);
  app.add_option("--fault", faultArgs, "Inject a fault (see below); repeatable")->type_name("FAULT");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  for (const std::string& faultArg : faultArgs) {
    std::string error;
    if (!AddFault(o.faults, faultArg, error)) {
      std::cerr << "handset-sim: " << error << "\n";
      return 2;
    }
  }
  if (!o.expectPath.empty()) {
    ExpectedImage probe;
    std::string error;
    if (!probe.Open(o.expectPath, error)) {
      std::cerr << "handset-sim: " << error << "\n";
      return 2;
    }
  }
  if (const std::string why = RefuseOutDirs(o); !why.empty()) {
    std::cerr << "handset-sim: " << why << "\n";
    return 2;
  }
  GadgetOptions gadget;
  if (*gadgetOpt) {
    std::string why;
    if (!ParseUsbId(usbId, gadget.id))
      why = "--usb-id: " + usbId + " is not VID:PID in hex (e.g. 049f:0003)";
    else if (*serialOpt)
      why = CheckSerial(serial);
    if (!why.empty()) {
      std::cerr << "handset-sim: " << why << "\n";
      return 2;
    }
    gadget.serial = *serialOpt ? serial : RandomSerial();
    gadget.udc = gadgetUdc;
  }
  o.autoUpgrade = !noAutoUpgrade;
  o.timeout = Millis(timeoutSeconds);
  o.linger = Millis(lingerSeconds);
  o.rate = uint64_t(rateKib * 1024);

  if (!StartOwnSession()) {
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
      std::perror("handset-sim: fork");
      return 1;
    }
    if (child > 0) return RunInChild(child);
    // A stand-in killed outright (SIGKILL) passes nothing on: the child must not go on
    // serving, its gadget bound and its UDC locked, for nobody. SIGTERM lets it unplug and
    // remove the gadget. A stand-in gone before the request took hold shows in getppid().
    if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent) return 1;
    if (!StartOwnSession()) {
      std::perror("handset-sim: setsid");
      return 1;
    }
  }
  // Closing the link hangs up our own terminal; that must not end us.
  ::signal(SIGHUP, SIG_IGN);
  ::signal(SIGPIPE, SIG_IGN);
  Handle(SIGINT, OnStopSignal);
  Handle(SIGTERM, OnStopSignal);

  std::unique_ptr<Line> line;
  std::string served, error;
  if (*ttyOpt) {
    auto tty = std::make_unique<TtyLine>();
    if (const auto r = tty->Open(ttyPath, error); r != TtyLine::OpenResult::kOk) {
      std::cerr << "handset-sim: " << brenvik::text::Printable(error) << "\n";
      return r == TtyLine::OpenResult::kNotTerminal ? 2 : 1;
    }
    served = ttyPath;
    line = std::move(tty);
  } else if (*gadgetOpt) {
    auto usb = std::make_unique<GadgetLine>();
    if (const GadgetFailure f = usb->Open(gadget, error); f != GadgetFailure::kNone) {
      std::cerr << "handset-sim: " << brenvik::text::Printable(error) << "\n";
      return ExitCodeOf(f);
    }
    std::cerr << "handset-sim: USB device " << usbId << " serial \"" << brenvik::text::Printable(gadget.serial)
              << "\" on " << brenvik::text::Printable(usb->Udc()) << "\n";
    served = usb->TtyPath();
    line = std::move(usb);
  } else {
    auto pty = std::make_unique<PtyHost>();
    if (!pty->Open(error) || (!linkPath.empty() && !pty->AddLink(linkPath, error))) {
      std::cerr << "handset-sim: " << error << "\n";
      return 1;
    }
    served = pty->SlavePath();
    line = std::move(pty);
  }
  if (!pathFile.empty() && !WritePathFile(pathFile, served, error)) {
    std::cerr << "handset-sim: " << error << "\n";
    return 1;
  }
  std::cout << served << std::endl;
  const int status = Serve(*line, o, g_stop, std::cerr);
  // On a pty the PC cannot tell a handset that hangs up right after the last byte from a
  // link that dropped before it: the line is held a moment, as a handset does while it
  // writes its flash.
  if (line->IsOpen() && !g_stop) std::this_thread::sleep_for(kHoldAfterEnd);
  return status;
}
