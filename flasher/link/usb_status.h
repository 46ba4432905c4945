// What a libusb call's return code comes to on the link: a device gone is a hang-up, as a
// tty's EIO is, and a bound passed is a time-out, so a run tells both the same way.
#pragma once

#include <cstddef>

#include "link/device_file.h"

namespace brenvik {

// `code`: a libusb return code (0 or a negative libusb_error); `count`: bytes moved.
IoResult UsbTransferResult(int code, size_t count);

// The errno that tells the user what a libusb error code means.
int UsbErrno(int code);

}  // namespace brenvik
