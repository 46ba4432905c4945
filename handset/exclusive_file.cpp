#include "exclusive_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <string.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <streambuf>
#include <vector>

namespace brenvik::handset {
namespace {

// An output stream onto a descriptor; a failed write sets its badbit.
class FdBuf : public std::streambuf {
 public:
  explicit FdBuf(int fd) : fd_(fd), buf_(64 * 1024) { setp(buf_.data(), buf_.data() + buf_.size()); }

 protected:
  int_type overflow(int_type c) override {
    if (!Flush()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return Flush() ? 0 : -1; }

 private:
  bool Flush() {
    const char* p = pbase();
    while (p < pptr()) {
      const ssize_t n = ::write(fd_, p, size_t(pptr() - p));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
    }
    setp(buf_.data(), buf_.data() + buf_.size());
    return true;
  }

  int fd_;
  std::vector<char> buf_;
};

}  // namespace

bool TempFile::Create(const std::string& finalPath, std::string& error) {
  Discard();
  namespace fs = std::filesystem;
  const fs::path path(finalPath);
  final_ = finalPath;
  std::string name = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
  fd_ = ::mkostemp(name.data(), O_CLOEXEC);  // O_CREAT | O_EXCL: never an existing file or link
  if (fd_ < 0) {
    error = "cannot create " + finalPath + ": " + ::strerror(errno);
    return false;
  }
  ::fchmod(fd_, 0644);
  temp_ = name;
  return true;
}

bool TempFile::Commit(std::string& error) {
  if (fd_ < 0) return false;
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  if (closed && ::rename(temp_.c_str(), final_.c_str()) == 0) {
    temp_.clear();
    return true;
  }
  error = "cannot write " + final_ + ": " + ::strerror(errno);
  Discard();
  return false;
}

void TempFile::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

bool WriteWhole(const std::string& path, const std::function<void(std::ostream&)>& write, std::string& error) {
  TempFile file;
  if (!file.Create(path, error)) return false;
  FdBuf buf(file.Fd());
  std::ostream out(&buf);
  write(out);
  if (!out.flush()) {
    error = "cannot write " + path + ": " + ::strerror(errno);
    return false;
  }
  return file.Commit(error);
}

}  // namespace brenvik::handset
