#include "flash_log.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <utility>

#include "text/json_text.h"

#ifdef _WIN32
#include <windows.h>

#include "win32/text.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "link/node_kind_posix.h"
#endif

namespace brenvik::cli {

using text::HexBytes;
using text::IsUtf8;
using text::JsonLine;
using text::TextOrNull;
using text::WholeOrNull;
namespace {

// A name that is no UTF-8 would reach the line with replacement characters, and two files
// would share one name: the bytes go beside it.
void PutName(nlohmann::json& j, const char* key, const std::string& name) {
  j[key] = name;
  if (!IsUtf8(name)) j[std::string(key) + "_bytes"] = HexBytes(name);
}

}  // namespace

std::string LogLine(const FlashRecord& r) {
  nlohmann::json j{{"time", r.time},
                   {"size", r.size},
                   {"sha256", TextOrNull(r.sha256)},
                   {"kind", r.kind},
                   {"usb_serial", TextOrNull(r.usbSerial)},
                   {"bytes_sent", r.bytesSent},
                   {"seconds", double(int64_t(r.seconds * 1000 + 0.5)) / 1000},
                   {"average_rate", WholeOrNull(r.averageRate)},
                   {"result", r.result},
                   {"cause", TextOrNull(r.cause)},
                   {"run_id", r.runId},
                   {"station", TextOrNull(r.station)},
                   {"usb_port", TextOrNull(r.usbPort)}};
  PutName(j, "image", r.image);
  PutName(j, "device", r.device);
  return JsonLine(j);
}

FlashLog::~FlashLog() { Close(); }

bool FlashLog::Append(const FlashRecord& record, std::string& error) {
  const std::string line = LogLine(record) + "\n";
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!IsOpen()) {
    error = "the log is not open";
    return false;
  }
#ifdef _WIN32
  const HANDLE file = HANDLE(m_file);
  // The lock is on one byte far past any line, so that readers of the log are never refused.
  OVERLAPPED lockAt{};
  lockAt.OffsetHigh = 0x7FFFFFFF;
  if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lockAt)) {
    error = win32::SystemMessage(::GetLastError());
    return false;
  }
  LARGE_INTEGER start{};
  bool ok = ::SetFilePointerEx(file, LARGE_INTEGER{}, &start, FILE_END);
  std::string text = line;
  if (ok && start.QuadPart > 0) {
    OVERLAPPED at{};
    at.Offset = DWORD(uint64_t(start.QuadPart - 1));
    at.OffsetHigh = DWORD(uint64_t(start.QuadPart - 1) >> 32);
    char last = '\n';
    DWORD got = 0;
    if (::ReadFile(file, &last, 1, &got, &at) && got == 1 && last != '\n') text.insert(0, 1, '\n');
    ok = ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
  }
  DWORD written = 0;
  ok = ok && ::WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr) && written == text.size();
  if (!ok) {
    const DWORD code = ::GetLastError();
    error = written && written < text.size() ? "only " + std::to_string(written) + " of " +
                                                   std::to_string(text.size()) + " bytes of its line were written"
                                             : win32::SystemMessage(code);
    // A part of a line would glue the next one to it: the file goes back to where it was.
    if (::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) ::SetEndOfFile(file);
  }
  ::UnlockFileEx(file, 0, 1, 0, &lockAt);
  return ok;
#else
  if (!Reopen(error)) return false;
  // Other processes append to the same log: the lock keeps their lines whole too.
  while (::flock(m_fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      error = std::strerror(errno);
      return false;
    }
  }
  struct stat st {};
  bool ok = ::fstat(m_fd, &st) == 0;
  if (!ok) error = std::strerror(errno);
  const off_t start = st.st_size;
  std::string text = line;
  char last = '\n';
  if (ok && start > 0 && ::pread(m_fd, &last, 1, start - 1) == 1 && last != '\n') text.insert(0, 1, '\n');
  ssize_t n = -1;
  if (ok) {
    do n = ::write(m_fd, text.data(), text.size());
    while (n < 0 && errno == EINTR);
    ok = n == ssize_t(text.size());
    if (!ok)
      error = n < 0 ? std::strerror(errno)
                    : "only " + std::to_string(n) + " of " + std::to_string(text.size()) +
                          " bytes of its line were written";
  }
  // A part of a line would glue the next one to it: the file goes back to where it was.
  if (n > 0 && !ok && ::ftruncate(m_fd, start) != 0) error += ", and it could not be cut back";
  ::flock(m_fd, LOCK_UN);
  return ok;
#endif
}

#ifdef _WIN32

bool FlashLog::IsOpen() const { return m_file != nullptr; }

void FlashLog::Close() {
  if (m_file) ::CloseHandle(HANDLE(m_file));
  m_file = nullptr;
}

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

}  // namespace

bool FlashLog::Open(const std::string& path, const std::string& image, std::string& error) {
  Close();
  const std::wstring wide = win32::Widen(path);
  auto refuse = [&](const std::string& why) {
    error = "the flash log " + path + " " + why;
    return false;
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
  m_file = file;
  return true;
}

#else

bool FlashLog::IsOpen() const { return m_fd >= 0; }

void FlashLog::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

namespace {

const char* NodeText(mode_t mode) {
  switch (NodeKindOf(mode)) {
    case NodeKind::kDirectory: return "a directory";
    case NodeKind::kBlockDevice: return "a block device (a disk)";
    case NodeKind::kFifo: return "a FIFO (named pipe)";
    case NodeKind::kSocket: return "a socket";
    case NodeKind::kCharacterDevice: return "a character device";
    default: return "not a regular file";
  }
}

}  // namespace

bool FlashLog::Reopen(std::string& error) {
  struct stat open {}, named {};
  if (::fstat(m_fd, &open) == 0 && ::stat(m_path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
      open.st_ino == named.st_ino)
    return true;
  // Rotated or deleted: lines written on into the old file would reach no one. The file is
  // kept until its successor is open, so that a failed reopen is tried again at the next line.
  const int old = std::exchange(m_fd, -1);
  const std::string path = m_path, image = m_image;
  std::string why;
  if (Open(path, image, why)) {
    ::close(old);
    return true;
  }
  m_fd = old;
  m_path = path;
  m_image = image;
  const std::string said = "the flash log " + path + " ";
  if (why.rfind(said, 0) == 0) why.erase(0, said.size());
  error = "it was moved or deleted, and the new one " + why;
  return false;
}

bool FlashLog::Open(const std::string& path, const std::string& image, std::string& error) {
  Close();
  m_path = path;
  m_image = image;
  auto refuse = [&](const std::string& why) {
    error = "the flash log " + path + " " + why;
    return false;
  };
  auto notAFile = [](mode_t mode) {
    return std::string("is ") + NodeText(mode) + ", not a file: the log must be a file";
  };
  // Only a regular file is opened: a FIFO would block the flash for ever, and opening a
  // serial port acts on whatever is attached to it.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return refuse(notAFile(st.st_mode));
  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) return refuse(std::string("cannot be written: ") + std::strerror(errno));
  struct stat img {};
  std::string why;
  if (::fstat(fd, &st) != 0)
    why = std::string("cannot be written: ") + std::strerror(errno);
  else if (!S_ISREG(st.st_mode))
    why = notAFile(st.st_mode);
  else if (::stat(image.c_str(), &img) == 0 && img.st_dev == st.st_dev && img.st_ino == st.st_ino)
    why = "is the image itself: its lines would be written into the firmware";
  if (!why.empty()) {
    ::close(fd);
    return refuse(why);
  }
  m_fd = fd;
  return true;
}

#endif

std::string UtcNow() {
  using namespace std::chrono;
  const auto now = time_point_cast<milliseconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> time{now - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()), unsigned(date.month()),
                unsigned(date.day()), int(time.hours().count()), int(time.minutes().count()),
                int(time.seconds().count()), int(time.subseconds().count()));
  return text;
}

}  // namespace brenvik::cli
