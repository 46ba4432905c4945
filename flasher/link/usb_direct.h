// Talking to a handset of the ipaq driver over usbfs instead of through the driver's tty.
// A tty's first open runs the line discipline with echo on until the caller can make the
// line raw, so a handset that speaks at once would get its own first words back; here
// nothing reaches the handset but what the flasher writes.
#pragma once

#include <string>

#include "link/device_file.h"
#include "link/usb_place.h"

namespace brenvik {

// Takes the interface at `place` from its driver (its tty goes away), raises the line as
// the driver's open does, and releases the interface on Close. The driver does not get it
// back: its probe resets the handset's configuration, which would drop what the handset
// had taken but not yet handled. The tty returns when the handset is plugged in again.
// `path` is what the user named. Raising the line is tried again while the handset does not
// take it, within `bounds.timeout`; a stop request ends the wait within a retry slice.
DeviceOpening OpenUsbDirect(const UsbPlace& place, const std::string& path, const OpenBounds& bounds = {});

// Whether a flasher took the handset whose tty had this name (a path that is gone now):
// while it talks to it, the tty does not exist, and a second flasher naming it must hear
// "busy", not that no such file exists.
bool TtyTakenByFlasher(const std::string& path);

// Whether another program holds the tty at `path`: open, or locked.
// Taking the handset from the driver would pull it from under that program. Locks are seen
// for every user; open files only in the processes this one may look into (its own user's,
// all of them as root).
bool TtyHeldElsewhere(const std::string& path);

}  // namespace brenvik
