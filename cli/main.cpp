// brenvik-cli: flash an image into the handset, inspect an image, list handsets.
#include <CLI/CLI.hpp>

#include "commands.h"
#include "link/device_discovery.h"
#include "records_cli.h"
#include "stop_requests.h"
#include "utf8_args.h"

#include <cmath>
#include <cstdio>

namespace {

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

// Scripts on the line branch on these; the man page is made from this help.
const char* const kExitCodesHelp =
    "Exit codes:\n"
    "  0    every flash succeeded\n"
    "  1    a flash failed (its cause is printed before \"Update Fail! \")\n"
    "  2    bad usage, or an image or a log that cannot be used\n"
    "  3    no device, it could not be opened, or it is busy\n"
    "  129  stopped by SIGHUP: the terminal closed (Linux)\n"
    "  130  stopped by SIGINT: Ctrl-C (on Windows also Ctrl-Break or a closed console)\n"
    "  131  stopped by SIGQUIT (Linux)\n"
    "  143  stopped by SIGTERM";

}  // namespace

int main(int argc, char** argv) {
  using namespace brenvik::cli;
  PrepareStandardStreams();
  const Utf8Args args(argc, argv);
  CLI::App app{"Brenvik command-line flasher: writes firmware images into the handset."};
  app.footer(kExitCodesHelp);
  app.require_subcommand(1);
  app.set_version_flag("--version", "brenvik-cli 1.0");

  FlashArgs flash;
  bool noAutoUpgrade = false;
  auto* f = app.add_subcommand("flash", "Flash an image, exactly as the dialog's flash button does.");
  f->footer(kExitCodesHelp);
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
  std::string flashDb;
  AddDbOption(*f, flashDb);
  f->add_option("IMAGE", flash.image, "Image file: .img .raw .bin .nb0 .dio")->required();

  StationArgs station;
  bool stationNoAutoUpgrade = false;
  auto* st = app.add_subcommand("station", "Flash every handset as it is plugged in, until stopped.");
  st->footer(
      "Each handset (the same USB port and serial) is flashed once while it stays plugged in; unplug it "
      "and plug in the next.\nThe first SIGINT, SIGTERM or SIGHUP starts no new handset and lets the "
      "running flashes finish; a second stops them.\n\nExit codes:\n"
      "  0    every flash of the session succeeded (also when none came)\n"
      "  1    a flash failed\n"
      "  2    bad usage, or an image or a log that cannot be used\n"
      "  128+N  running flashes had to be stopped by signal N (130 SIGINT, 143 SIGTERM, 129 SIGHUP)");
  st->add_flag("--no-auto-upgrade", stationNoAutoUpgrade,
               "Skip the upgrade acknowledgement and the kind packet; send plain blocks.");
  st->add_option("--usb-port", station.usbPorts,
                 "Only handsets on these USB port paths: 1-1.4, or a shell-style glob such as 1-1.* "
                 "(may be repeated).")
      ->allow_extra_args(false);
  st->add_option("--serial", station.serials, "Only handsets whose USB serial starts so (may be repeated).")
      ->allow_extra_args(false);
  st->add_option("--count", station.count, "Stop after this many successful flashes.")->check(CLI::Range(1, 1000000));
  st->add_option("--poll-ms", station.pollMs, "How often to look for handsets, in milliseconds.")
      ->check(CLI::Range(10, 60000))
      ->default_val(200);
  st->add_flag("--bell", station.bell, "Ring the terminal's bell on every result.");
  st->add_option("--metrics", station.metrics,
                 "Serve the station's metrics for Prometheus at http://HOST:PORT/metrics (e.g. 127.0.0.1:9464).");
  st->add_option("--usb-id", station.flash.usbIds,
                 "Also find ttyUSB/ttyACM devices with this USB id (Linux; may be repeated).")
      ->check(kUsbId)
      ->allow_extra_args(false);
  st->add_option("--log", station.flash.logPath, "Append one JSON line per handset and run to this file.");
  st->add_option("--timeout", station.flash.timeoutSeconds, "Seconds each read or write may wait for the handset.")
      ->check(kSeconds)
      ->default_val(60);
  st->add_flag("--json", station.flash.json, "One JSON object per line instead of text.");
  std::string stationDb;
  AddDbOption(*st, stationDb);
  st->add_option("IMAGE", station.flash.image, "Image file: .img .raw .bin .nb0 .dio")->required();

  InspectArgs inspect;
  auto* i = app.add_subcommand("inspect", "Show an image's kind, layout and records; no device needed.");
  i->footer("Exit codes:\n  0  the image is sound\n  1  a problem was found in it\n  2  bad usage, or the image cannot be read");
  i->add_flag("--json", inspect.json, "JSON instead of text.");
  i->add_option("IMAGE", inspect.image, "Image file")->required();

  ListArgs list;
  auto* l = app.add_subcommand("list", "List the handsets present, or say how to name one.");
  l->footer("Exit codes:\n  0  at least one handset was found\n  2  bad usage\n  3  no handset was found");
  l->add_flag("--json", list.json, "JSON instead of text.");
  l->add_option("--usb-id", list.usbIds, "Also list ttyUSB/ttyACM devices with this USB id (Linux; may be repeated).")
      ->check(kUsbId)
      ->allow_extra_args(false);

  RecordsCli records(app);

  try {
    app.parse(args.Count(), args.Values());
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }
  if (f->parsed()) {
    flash.autoUpgrade = !noAutoUpgrade;
    flash.stop = StopSignal();
    WatchStopRequests();
    return RunEnded(WithRecords(flashDb, flash, "", false, [&] { return RunFlash(flash); }));
  }
  if (st->parsed()) {
    station.flash.autoUpgrade = !stationNoAutoUpgrade;
    station.flash.stop = StopSignal();
    station.stopCount = StopCount();
    WatchStopRequests();
    // The station catches up from its own log: a restart leaves no run out of the database.
    return RunEnded(WithRecords(stationDb, station.flash, station.flash.logPath, true,
                                [&] { return RunStation(station); }));
  }
  if (i->parsed()) return RunInspect(inspect, stdout);
  if (l->parsed()) return RunList(list, stdout);
  if (records.Parsed()) return records.Run();
  return kExitUsage;
}
