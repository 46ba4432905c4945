#include "log_file.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <iterator>

#include "win32/text.h"

namespace brenvik::cli {
namespace {

bool Identify(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) {
  return file != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(file, &info);
}

bool SameFile(const std::wstring& path, const BY_HANDLE_FILE_INFORMATION& log) {
  const HANDLE file = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION info{};
  const bool same = Identify(file, info) && info.dwVolumeSerialNumber == log.dwVolumeSerialNumber &&
                    info.nFileIndexHigh == log.nFileIndexHigh && info.nFileIndexLow == log.nFileIndexLow;
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  return same;
}

class Win32LogFile final : public LogFile {
 public:
  explicit Win32LogFile(HANDLE file) : m_file(file) {}
  ~Win32LogFile() override { ::CloseHandle(m_file); }
  Win32LogFile(const Win32LogFile&) = delete;
  Win32LogFile& operator=(const Win32LogFile&) = delete;

  bool AppendLine(const std::string& line, std::string& error) override {
    // The lock is on one byte far past any line, so that readers of the log are never refused.
    OVERLAPPED lockAt{};
    lockAt.OffsetHigh = 0x7FFFFFFF;
    if (!::LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lockAt)) {
      error = win32::SystemMessage(::GetLastError());
      return false;
    }
    LARGE_INTEGER start{};
    bool ok = ::SetFilePointerEx(m_file, LARGE_INTEGER{}, &start, FILE_END);
    std::string text = line;
    if (ok && start.QuadPart > 0) {
      OVERLAPPED at{};
      at.Offset = DWORD(uint64_t(start.QuadPart - 1));
      at.OffsetHigh = DWORD(uint64_t(start.QuadPart - 1) >> 32);
      char last = '\n';
      DWORD got = 0;
      if (::ReadFile(m_file, &last, 1, &got, &at) && got == 1 && last != '\n') text.insert(0, 1, '\n');
      ok = ::SetFilePointerEx(m_file, start, nullptr, FILE_BEGIN);
    }
    DWORD written = 0;
    ok = ok && ::WriteFile(m_file, text.data(), DWORD(text.size()), &written, nullptr) && written == text.size();
    if (!ok) {
      const DWORD code = ::GetLastError();
      error = written && written < text.size() ? "only " + std::to_string(written) + " of " +
                                                     std::to_string(text.size()) + " bytes of its line were written"
                                               : win32::SystemMessage(code);
      // A part of a line would glue the next one to it: the file goes back to where it was.
      if (::SetFilePointerEx(m_file, start, nullptr, FILE_BEGIN)) ::SetEndOfFile(m_file);
    }
    ::UnlockFileEx(m_file, 0, 1, 0, &lockAt);
    return ok;
  }

 private:
  const HANDLE m_file;
};

}  // namespace

std::unique_ptr<LogFile> OpenLogFile(const std::string& path, const std::string& image, std::string& error) {
  const std::wstring wide = win32::Widen(path);
  auto refuse = [&](const std::string& why) {
    error = "the flash log " + path + " " + why;
    return nullptr;
  };
  // NUL, COM1 or nul.log in any folder name a device: it would take every line and keep none.
  wchar_t full[1024];
  const DWORD n = ::GetFullPathNameW(wide.c_str(), DWORD(std::size(full)), full, nullptr);
  if (n > 0 && n < std::size(full) && std::wcsncmp(full, L"\\\\.\\", 4) == 0)
    return refuse("is a device, not a file on a disk: the log must be a file");
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return refuse("is a directory, not a file: the log must be a file");
  const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return refuse("cannot be written: " + win32::SystemMessage(::GetLastError()));
  BY_HANDLE_FILE_INFORMATION info{};
  std::string why;
  if (::GetFileType(file) != FILE_TYPE_DISK || !Identify(file, info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    why = "is not a file on a disk: the log must be a file";
  else if (SameFile(win32::Widen(image), info))
    why = "is the image itself: its lines would be written into the firmware";
  if (!why.empty()) {
    ::CloseHandle(file);
    return refuse(why);
  }
  return std::make_unique<Win32LogFile>(file);
}

}  // namespace brenvik::cli
