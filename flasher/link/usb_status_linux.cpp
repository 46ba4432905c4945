#include <errno.h>
#include <libusb.h>

#include "link/usb_status.h"

namespace brenvik {

int UsbErrno(int code) {
  switch (code) {
    case LIBUSB_SUCCESS: return 0;
    case LIBUSB_ERROR_IO: return EIO;
    case LIBUSB_ERROR_INVALID_PARAM: return EINVAL;
    case LIBUSB_ERROR_ACCESS: return EACCES;
    case LIBUSB_ERROR_NO_DEVICE: return EIO;  // what a tty's read gives once its device left
    case LIBUSB_ERROR_NOT_FOUND: return ENOENT;
    case LIBUSB_ERROR_BUSY: return EBUSY;
    case LIBUSB_ERROR_TIMEOUT: return ETIMEDOUT;
    case LIBUSB_ERROR_OVERFLOW: return EOVERFLOW;
    case LIBUSB_ERROR_PIPE: return EPIPE;
    case LIBUSB_ERROR_INTERRUPTED: return EINTR;
    case LIBUSB_ERROR_NO_MEM: return ENOMEM;
    case LIBUSB_ERROR_NOT_SUPPORTED: return ENOTSUP;
    default: return EIO;
  }
}

IoResult UsbTransferResult(int code, size_t count) {
  switch (code) {
    case LIBUSB_SUCCESS: return {IoStatus::kOk, count};
    case LIBUSB_ERROR_TIMEOUT: return {IoStatus::kTimeout, count};
    case LIBUSB_ERROR_NO_DEVICE: return {IoStatus::kHangUp, count, EIO};
    default: return {IoStatus::kError, count, UsbErrno(code)};
  }
}

}  // namespace brenvik
