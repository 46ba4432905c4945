#include "log_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/node_kind_posix.h"

namespace brenvik::cli {
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

// The descriptor of the log at `path`, or -1 with `error`.
int OpenLogFd(const std::string& path, const std::string& image, std::string& error) {
  auto refuse = [&](const std::string& why) {
    error = "the flash log " + path + " " + why;
    return -1;
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
  return fd;
}

class PosixLogFile final : public LogFile {
 public:
  PosixLogFile(int fd, const std::string& path, const std::string& image) : m_fd(fd), m_path(path), m_image(image) {}
  ~PosixLogFile() override { ::close(m_fd); }
  PosixLogFile(const PosixLogFile&) = delete;
  PosixLogFile& operator=(const PosixLogFile&) = delete;

  bool AppendLine(const std::string& line, std::string& error) override {
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
  }

 private:
  // A log that was moved away or deleted (logrotate) is opened again at its path, as it was
  // opened at first.
  bool Reopen(std::string& error) {
    struct stat open {}, named {};
    if (::fstat(m_fd, &open) == 0 && ::stat(m_path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
        open.st_ino == named.st_ino)
      return true;
    // Rotated or deleted: lines written on into the old file would reach no one. The file is
    // kept until its successor is open, so that a failed reopen is tried again at the next line.
    std::string why;
    const int fd = OpenLogFd(m_path, m_image, why);
    if (fd >= 0) {
      ::close(m_fd);
      m_fd = fd;
      return true;
    }
    const std::string said = "the flash log " + m_path + " ";
    if (why.rfind(said, 0) == 0) why.erase(0, said.size());
    error = "it was moved or deleted, and the new one " + why;
    return false;
  }

  int m_fd;
  const std::string m_path, m_image;
};

}  // namespace

std::unique_ptr<LogFile> OpenLogFile(const std::string& path, const std::string& image, std::string& error) {
  const int fd = OpenLogFd(path, image, error);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixLogFile>(fd, path, image);
}

}  // namespace brenvik::cli
