// Device files on Windows: the handset's interface or a COM port. The handle is opened for
// overlapped I/O so that every wait on the device has a bound.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "link/device_file.h"
#include "link/device_name.h"
#include "link/write_deadline.h"
#include "win32/text.h"

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

// How often a wait looks at the stop flag: a console event must not go unseen for the
// whole bound.
constexpr DWORD kStopCheckMs = 100;

DWORD RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : left >= INFINITE ? INFINITE - 1 : DWORD(left);
}

// One program at a time on a device, whatever name it was opened by. Share mode 0 keeps a
// second opener out where the driver holds it; Wine does not on serial devices, so a named
// mutex per resolved device, held for the device file's lifetime, is the lock every
// program of ours takes. Existing at all means taken: the system removes it with the last
// handle, also when its holder ends without closing.
class DeviceToken {
 public:
  enum class Taken { kYes, kBusy, kUnavailable };
  DeviceToken() = default;
  DeviceToken(DeviceToken&& o) noexcept : mutex_(o.mutex_) { o.mutex_ = nullptr; }
  DeviceToken& operator=(DeviceToken&&) = delete;
  ~DeviceToken() { Release(); }

  Taken Take(const std::string& identity) {
    std::wstring device = win32::Widen(identity);
    for (wchar_t& c : device)
      if (c == L'\\') c = L'/';  // a backslash would end the name's namespace part
    std::wstring name = L"Local\\Brenvik-device-" + device;
    if (name.size() >= MAX_PATH) name.resize(MAX_PATH - 1);
    mutex_ = ::CreateMutexW(nullptr, FALSE, name.c_str());
    if (!mutex_) return Taken::kUnavailable;  // the share mode alone must do
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return Taken::kYes;
    Release();
    return Taken::kBusy;
  }
  void Release() {
    if (mutex_) ::CloseHandle(mutex_);
    mutex_ = nullptr;
  }

 private:
  HANDLE mutex_ = nullptr;
};

bool IsCommTimeout(DWORD error) {
  return error == WAIT_TIMEOUT || error == ERROR_TIMEOUT || error == ERROR_SEM_TIMEOUT;
}

class Win32DeviceFile : public DeviceFile {
 public:
  Win32DeviceFile(HANDLE handle, HANDLE event, bool comm, DeviceToken token)
      : handle_(handle), event_(event), comm_(comm), token_(std::move(token)) {}
  ~Win32DeviceFile() override {
    Close();
    ::CloseHandle(event_);
  }

  IoResult Read(uint8_t* data, size_t size, std::chrono::milliseconds timeout) override {
    if (handle_ == INVALID_HANDLE_VALUE) return {IoStatus::kError, 0};
    const auto deadline = Clock::now() + timeout;
    BoundCommWaits(timeout);
    size_t got = 0;
    // A USB interface or a pty-backed port may hand a packet over in pieces.
    while (got < size) {
      if (StopRequested()) return {IoStatus::kStopped, got};
      DWORD n = 0;
      const IoStatus status = Transfer(false, data + got, DWORD(size - got), deadline, &n);
      got += n;
      if (status != IoStatus::kOk) return {status, got, int(lastError_)};
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
    if (StopRequested()) return {IoStatus::kStopped, 0};
    const auto deadline = Clock::now() + timeout;
    BoundCommWaits(timeout);
    // One WriteFile, also for zero bytes; a short count is the caller's to judge.
    DWORD n = 0;
    const IoStatus status = Transfer(true, const_cast<uint8_t*>(data), DWORD(size), deadline, &n);
    return {status, n, status == IoStatus::kOk ? 0 : int(lastError_)};
  }

  // FlushFileBuffers waits until the driver has sent every byte; it has no bound of its
  // own, so it runs on a thread of its own that the bound waits for.
  IoResult Drain(std::chrono::milliseconds timeout) override {
    if (handle_ == INVALID_HANDLE_VALUE) return {IoStatus::kError, 0, ERROR_INVALID_HANDLE};
    struct Flush {
      HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
      DWORD error = 0;
      ~Flush() { ::CloseHandle(done); }
    };
    auto flush = std::make_shared<Flush>();
    if (!flush->done) return {IoStatus::kError, 0, int(::GetLastError())};
    std::thread([flush, handle = handle_] {
      flush->error = ::FlushFileBuffers(handle) ? 0 : ::GetLastError();
      ::SetEvent(flush->done);
    }).detach();
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      if (StopRequested()) return {IoStatus::kStopped, 0};
      const DWORD waited = ::WaitForSingleObject(flush->done, std::min(RemainingMs(deadline), kStopCheckMs));
      if (waited == WAIT_OBJECT_0) break;
      if (waited != WAIT_TIMEOUT || RemainingMs(deadline) == 0) return {IoStatus::kTimeout, 0};
    }
    if (flush->error == 0 || flush->error == ERROR_INVALID_FUNCTION || flush->error == ERROR_NOT_SUPPORTED)
      return {};  // a device that keeps no buffer of its own has nothing to drain
    return {HungUp(flush->error) ? IoStatus::kHangUp : IoStatus::kError, 0, int(flush->error)};
  }

  void Close() override {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    token_.Release();  // only once the port is closed may another program take it
  }

 private:
  // One overlapped ReadFile or WriteFile, waited for until `deadline`, cancelled after it.
  IoStatus Transfer(bool write, uint8_t* buffer, DWORD size, Clock::time_point deadline, DWORD* done) {
    OVERLAPPED ov{};
    ov.hEvent = event_;
    const BOOL started = write ? ::WriteFile(handle_, buffer, size, nullptr, &ov)
                               : ::ReadFile(handle_, buffer, size, nullptr, &ov);
    if (!started && ::GetLastError() != ERROR_IO_PENDING) return Finished(write, ::GetLastError(), 0, done);

    const IoStatus status = AwaitTransfer(write, deadline);
    if (status != IoStatus::kOk) CancelPending(handle_, &ov);
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

  // Waits in slices for the pending transfer, looking at the stop flag between them. A read
  // is given up at once; a write that has begun is finished (WriteDeadline).
  IoStatus AwaitTransfer(bool write, Clock::time_point bound) {
    WriteDeadline deadline(bound);
    for (;;) {
      if (StopRequested()) {
        if (!write) return IoStatus::kStopped;
        deadline.NoteStop();
      }
      // The bound ends the wait as soon as it passes: a COM port that completes the request
      // on its own timeout just after it is still a timed-out transfer.
      const DWORD waited = ::WaitForSingleObject(event_, std::min(RemainingMs(deadline.At()), kStopCheckMs));
      if (waited == WAIT_OBJECT_0) return IoStatus::kOk;
      if (waited != WAIT_TIMEOUT) return IoStatus::kError;
      if (RemainingMs(deadline.At()) == 0) return deadline.StopSeen() ? IoStatus::kStopped : IoStatus::kTimeout;
    }
  }

  IoStatus Finished(bool write, DWORD error, DWORD n, DWORD* done) {
    *done = n;
    lastError_ = error;
    if (IsCommTimeout(error)) return write ? IoStatus::kTimeout : IoStatus::kOk;
    // A device whose other end closed: on reading, the link simply ended.
    if (!write && (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF)) return IoStatus::kOk;
    return HungUp(error) ? IoStatus::kHangUp : IoStatus::kError;
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

  // ERROR_NOT_READY is what Wine gives for a serial line whose other end is gone (EIO).
  static bool HungUp(DWORD error) {
    return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED ||
           error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_DEV_NOT_EXIST || error == ERROR_NOT_READY;
  }

  HANDLE handle_;
  HANDLE event_;  // manual-reset, one transfer at a time
  DWORD lastError_ = 0;
  bool comm_;
  std::chrono::milliseconds commBound_{-1};
  DeviceToken token_;
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

std::string SystemErrorText(int code) { return win32::SystemMessage(DWORD(code)); }

bool IsAccessDenied(int code) { return code == ERROR_ACCESS_DENIED; }

DeviceOpening OpenDevicePath(const std::string& path, const OpenBounds&) {
  DeviceOpening out;
  OpenResult& r = out.result;
  r.path = path;
  const DeviceName name = ReadDeviceName(path);
  // NUL, CON, AUX... are refused by their name: opening one may already touch a port.
  if (name.systemDevice) {
    r.kind = NodeKind::kCharacterDevice;
    r.status = OpenStatus::kNotHandset;
    return out;
  }
  DeviceToken token;
  if (token.Take(name.identity) == DeviceToken::Taken::kBusy) {
    r.systemError = ERROR_ALREADY_EXISTS;
    r.status = OpenStatus::kBusy;
    return out;
  }
  const std::wstring wide = win32::Widen(name.open);
  HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    r.systemError = int(::GetLastError());
    r.status = r.systemError == ERROR_SHARING_VIOLATION || r.systemError == ERROR_ACCESS_DENIED
                   ? OpenStatus::kBusy
                   : OpenStatus::kCannotOpen;
    return out;
  }
  // A handset is a character device (its interface or a COM port); a file, a disk or a
  // pipe is never written with the protocol stream.
  const DWORD type = ::GetFileType(handle);
  if (type != FILE_TYPE_CHAR) {
    r.kind = type == FILE_TYPE_DISK ? NodeKind::kDiskOrFile : type == FILE_TYPE_PIPE ? NodeKind::kPipe : NodeKind::kUnknown;
    r.status = OpenStatus::kNotHandset;
    ::CloseHandle(handle);
    return out;
  }
  // Other character devices (NUL under another name, a printer) take every byte and answer
  // nothing: only a serial port or the handset's own interface is a handset.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(handle, &dcb) && !name.classInterface) {
    r.kind = NodeKind::kCharacterDevice;
    r.status = OpenStatus::kNotHandset;
    ::CloseHandle(handle);
    return out;
  }
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!event) {
    r.systemError = int(::GetLastError());
    r.status = OpenStatus::kCannotOpen;
    ::CloseHandle(handle);
    return out;
  }
  COMMTIMEOUTS timeouts{};
  const bool comm = ::GetCommTimeouts(handle, &timeouts) != 0;
  if (comm) MakeCommBinaryClean(handle);
  out.device = std::make_unique<Win32DeviceFile>(handle, event, comm, std::move(token));
  return out;
}

}  // namespace brenvik
