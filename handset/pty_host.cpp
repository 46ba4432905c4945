#include "pty_host.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace brenvik::handset {
namespace {

std::string Failure(const char* what) { return std::string(what) + ": " + ::strerror(errno); }

}  // namespace

bool StartOwnSession() { return ::setsid() >= 0; }

PtyHost::~PtyHost() { Close(); }

bool PtyHost::Open(std::string& error) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    error = Failure("posix_openpt");
    return false;
  }
  char name[PATH_MAX];
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
    error = Failure("cannot set up the pty");
    Close();
    return false;
  }
  slavePath_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    error = Failure(("cannot open " + slavePath_).c_str());
    Close();
    return false;
  }
  // Binary-clean both ways: no echo, no line editing, no signals, no CR/LF translation.
  termios tio{};
  if (::tcgetattr(slave_, &tio) != 0 || (::cfmakeraw(&tio), ::tcsetattr(slave_, TCSANOW, &tio)) != 0) {
    error = Failure("cannot put the pty in raw mode");
    Close();
    return false;
  }
  if (::ioctl(slave_, TIOCSCTTY, 0) != 0) {
    error = Failure("cannot make the pty the controlling terminal");
    Close();
    return false;
  }
  // The serving loop waits with poll(); reads and writes must never block it.
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  return true;
}

bool PtyHost::AddLink(const std::string& path, std::string& error) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = path + " exists and is not a symlink; not replacing it";
      return false;
    }
    ::unlink(path.c_str());
  }
  if (::symlink(slavePath_.c_str(), path.c_str()) != 0) {
    error = Failure(("cannot create the symlink " + path).c_str());
    return false;
  }
  link_ = path;
  return true;
}

void PtyHost::Close() {
  if (!link_.empty()) {
    // Only our own link: someone may have pointed it elsewhere meanwhile.
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link_.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, size_t(n)) == slavePath_) ::unlink(link_.c_str());
    link_.clear();
  }
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
  slave_ = master_ = -1;
}

}  // namespace brenvik::handset
