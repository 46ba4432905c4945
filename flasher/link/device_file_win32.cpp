// Device files on Windows: the handset's interface, a COM port or a pipe. The handle is
// opened for overlapped I/O so that every wait on the device has a bound.
#include <windows.h>

#include <cctype>
#include <chrono>

#include "link/device_file.h"
#include "winui/text.h"

namespace brenvik {
namespace {

// CancelIoEx exists from Vista on; on XP, CancelIo does as well here, since the request
// was started by this same thread. Looked up at run time so the program starts on XP.
void CancelPending(HANDLE handle, OVERLAPPED* ov) {
  using CancelIoExFunction = BOOL(WINAPI*)(HANDLE, OVERLAPPED*);
  static const auto cancelIoEx = reinterpret_cast<CancelIoExFunction>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "CancelIoEx")));
  if (cancelIoEx) {
    cancelIoEx(handle, ov);
  } else {
    ::CancelIo(handle);
  }
}

using Clock = std::chrono::steady_clock;

DWORD RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : left >= INFINITE ? INFINITE - 1 : DWORD(left);
}

// A bare "COM7" only names the port through the device namespace (required from COM10 on).
std::string DeviceNamespacePath(const std::string& path) {
  if (path.size() < 4) return path;
  for (size_t i = 0; i < 3; ++i)
    if (std::toupper(static_cast<unsigned char>(path[i])) != "COM"[i]) return path;
  for (size_t i = 3; i < path.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(path[i]))) return path;
  return "\\\\.\\" + path;
}

bool IsCommTimeout(DWORD error) {
  return error == WAIT_TIMEOUT || error == ERROR_TIMEOUT || error == ERROR_SEM_TIMEOUT;
}

class Win32DeviceFile : public DeviceFile {
 public:
  Win32DeviceFile(HANDLE handle, HANDLE event, bool comm) : handle_(handle), event_(event), comm_(comm) {}
  ~Win32DeviceFile() override {
    Close();
    ::CloseHandle(event_);
  }

  IoResult Read(uint8_t* data, size_t size, std::chrono::milliseconds timeout) override {
    if (handle_ == INVALID_HANDLE_VALUE) return {IoStatus::kError, 0};
    const auto deadline = Clock::now() + timeout;
    BoundCommWaits(timeout);
    size_t got = 0;
    // A pty-backed device or a pipe may hand a packet over in pieces.
    while (got < size) {
      DWORD n = 0;
      const IoStatus status = Transfer(false, data + got, DWORD(size - got), deadline, &n);
      got += n;
      if (status != IoStatus::kOk) return {status, got};
      if (n == 0) {
        if (!comm_) return {IoStatus::kOk, got};  // end of file: the link ended
        if (RemainingMs(deadline) == 0) return {IoStatus::kTimeout, got};
        ::Sleep(1);  // the port's own timeout passed first; wait on within our bound
      }
    }
    return {IoStatus::kOk, got};
  }

  IoResult Write(const uint8_t* data, size_t size, std::chrono::milliseconds timeout) override {
    if (handle_ == INVALID_HANDLE_VALUE) return {IoStatus::kError, 0};
    const auto deadline = Clock::now() + timeout;
    BoundCommWaits(timeout);
    // One WriteFile, also for zero bytes; a short count is the caller's to judge.
    DWORD n = 0;
    const IoStatus status = Transfer(true, const_cast<uint8_t*>(data), DWORD(size), deadline, &n);
    return {status, n};
  }

  void Close() override {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  // One overlapped ReadFile or WriteFile, waited for until `deadline`, cancelled after it.
  IoStatus Transfer(bool write, uint8_t* buffer, DWORD size, Clock::time_point deadline, DWORD* done) {
    OVERLAPPED ov{};
    ov.hEvent = event_;
    const BOOL started = write ? ::WriteFile(handle_, buffer, size, nullptr, &ov)
                               : ::ReadFile(handle_, buffer, size, nullptr, &ov);
    if (!started && ::GetLastError() != ERROR_IO_PENDING) return Finished(write, ::GetLastError(), 0, done);

    IoStatus status = IoStatus::kOk;
    const DWORD waited = ::WaitForSingleObject(event_, RemainingMs(deadline));
    if (waited != WAIT_OBJECT_0) {
      CancelPending(handle_, &ov);
      status = waited == WAIT_TIMEOUT ? IoStatus::kTimeout : IoStatus::kError;
    }
    // After a cancel this returns as soon as the driver gave the request back.
    DWORD n = 0;
    if (::GetOverlappedResult(handle_, &ov, &n, TRUE)) {
      *done = n;
      return status;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_OPERATION_ABORTED && status != IoStatus::kOk) {
      *done = n;
      return status;
    }
    return Finished(write, error, n, done);
  }

  IoStatus Finished(bool write, DWORD error, DWORD n, DWORD* done) {
    *done = n;
    if (IsCommTimeout(error)) return write ? IoStatus::kTimeout : IoStatus::kOk;
    // A pipe whose other end closed: on reading, the link simply ended.
    if (!write && (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF)) return IoStatus::kOk;
    return IoStatus::kError;
  }

  // A COM port also bounds its own requests, should a cancel not be honoured.
  void BoundCommWaits(std::chrono::milliseconds timeout) {
    if (!comm_ || timeout == commBound_) return;
    auto ms = timeout.count();
    DWORD bound = ms < 1 ? 1 : ms >= INFINITE ? INFINITE - 1 : DWORD(ms);  // 0 would mean "never"
    COMMTIMEOUTS t{};
    t.ReadTotalTimeoutConstant = bound;
    t.WriteTotalTimeoutConstant = bound;
    if (::SetCommTimeouts(handle_, &t)) commBound_ = timeout;
  }

  HANDLE handle_;
  HANDLE event_;  // manual-reset, one transfer at a time
  bool comm_;
  std::chrono::milliseconds commBound_{-1};
};

// A serial line must pass all 256 byte values: no software flow control, 8 bits, no parity.
void MakeCommBinaryClean(HANDLE handle) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(handle, &dcb)) return;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  ::SetCommState(handle, &dcb);
}

}  // namespace

std::unique_ptr<DeviceFile> OpenDevicePath(const std::string& path, std::string& error) {
  const std::wstring wide = winui::Widen(DeviceNamespacePath(path));
  HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = "cannot open " + path + ": " + winui::SystemMessage(::GetLastError());
    return nullptr;
  }
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!event) {
    error = "cannot open " + path + ": " + winui::SystemMessage(::GetLastError());
    ::CloseHandle(handle);
    return nullptr;
  }
  COMMTIMEOUTS timeouts{};
  const bool comm = ::GetCommTimeouts(handle, &timeouts) != 0;
  if (comm) MakeCommBinaryClean(handle);
  return std::make_unique<Win32DeviceFile>(handle, event, comm);
}

}  // namespace brenvik
