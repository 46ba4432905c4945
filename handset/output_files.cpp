#include "output_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "link/protocol.h"
#include "link/wire.h"

namespace brenvik::handset {
namespace {

namespace fs = std::filesystem;

constexpr const char* kOutputNames[] = {"image.bin", "boot.bin", "records.bin", "summary.json"};
// Left in a folder handset-sim writes into: the files of those names there are its own.
constexpr const char* kMark = ".handset-sim";

std::string Failure(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + ::strerror(errno);
}

bool Marked(const fs::path& dir) {
  struct stat st {};
  return ::lstat((dir / kMark).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

bool OutFile::Open(const std::string& path, std::string& error) {
  Close();
  path_ = path;
  size_ = 0;
  fd_ = file_.Create(path, error) ? file_.Fd() : -1;
  return fd_ >= 0;
}

bool OutFile::Append(const uint8_t* data, size_t size, std::string& error) {
  if (fd_ < 0) return false;
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = Failure("cannot write", path_);
      return false;
    }
    data += n;
    size -= size_t(n);
    size_ += uint64_t(n);
  }
  return true;
}

bool OutFile::PatchLe32(uint64_t offset, uint32_t value, std::string& error) {
  uint8_t word[4];
  PutLe32(word, value);
  if (fd_ >= 0 && ::pwrite(fd_, word, sizeof word, off_t(offset)) == ssize_t(sizeof word)) return true;
  error = Failure("cannot write", path_);
  return false;
}

bool OutFile::Truncate(uint64_t size, std::string& error) {
  if (fd_ >= 0 && ::ftruncate(fd_, off_t(size)) == 0 && ::lseek(fd_, off_t(size), SEEK_SET) >= 0) {
    size_ = size;
    return true;
  }
  error = Failure("cannot truncate", path_);
  return false;
}

void OutFile::Close() {
  std::string ignored;  // a rename that fails leaves no file, and the session's error says why
  if (fd_ >= 0) file_.Commit(ignored);
  fd_ = -1;
}

std::string RefuseOutDir(const std::string& dir, const std::string& expectPath) {
  struct stat expect {};
  const bool haveExpect = !expectPath.empty() && ::stat(expectPath.c_str(), &expect) == 0;
  const bool marked = Marked(dir);
  for (const char* name : kOutputNames) {
    const fs::path path = fs::path(dir) / name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (haveExpect && st.st_dev == expect.st_dev && st.st_ino == expect.st_ino)
      return path.string() + " is the reference image (--expect): choose another --out";
    if (!marked)
      return path.string() + " is there already and handset-sim did not write it: choose another --out";
  }
  return "";
}

bool OutputFiles::Prepare() {
  if (dir_.empty() || !error_.empty()) return false;
  if (prepared_) return true;
  prepared_ = true;
  std::error_code ec;
  fs::create_directories(dir_, ec);
  if (ec) {
    error_ = "cannot create " + dir_ + ": " + ec.message();
    return false;
  }
  error_ = RefuseOutDir(dir_, expectPath_);
  if (!error_.empty()) return false;
  if (!Marked(dir_)) {
    const int fd = ::open((fs::path(dir_) / kMark).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
      error_ = Failure("cannot create", (fs::path(dir_) / kMark).string());
      return false;
    }
    ::close(fd);
  }
  for (const char* name : kOutputNames) ::unlink((fs::path(dir_) / name).c_str());
  return true;
}

void OutputFiles::Note(bool ok) {
  if (!ok && error_.empty()) error_ = scratch_;
}

void OutputFiles::OnProcedure(Transfer p) {
  if (!Prepare()) return;
  if (p == Transfer::kBlocks) Note(image_.Open((fs::path(dir_) / "image.bin").string(), scratch_));
  if (p == Transfer::kRecords) Note(records_.Open((fs::path(dir_) / "records.bin").string(), scratch_));
}

OutFile* OutputFiles::FileFor(UnitKind kind) {
  OutFile* f = kind == UnitKind::kBlock ? &image_ : kind == UnitKind::kBoot ? &boot_ : &records_;
  return f->IsOpen() && error_.empty() ? f : nullptr;
}

void OutputFiles::OnUnitBegin(const DataUnit& unit) {
  if (!Prepare()) return;
  if (unit.kind == UnitKind::kBoot) Note(boot_.Open((fs::path(dir_) / "boot.bin").string(), scratch_));
  if (unit.kind != UnitKind::kRecord || !records_.IsOpen()) return;
  // The sum is known only when the data is in; it is patched in at the end of the record.
  uint8_t header[BIN_RECORD_HEADER_SIZE];
  PutLe32(header, unit.address);
  PutLe32(header + 4, unit.length);
  PutLe32(header + 8, 0);
  recordStart_ = records_.Size();
  recordOpen_ = true;
  Note(records_.Append(header, sizeof header, scratch_));
}

void OutputFiles::OnUnitData(const DataUnit& unit, const uint8_t* data, size_t size) {
  if (OutFile* f = FileFor(unit.kind)) Note(f->Append(data, size, scratch_));
}

void OutputFiles::OnUnitEnd(const DataUnit& unit) {
  if (unit.kind != UnitKind::kRecord || !FileFor(unit.kind)) return;
  Note(records_.PatchLe32(recordStart_ + 8, unit.sum, scratch_));
  recordOpen_ = false;
}

void OutputFiles::Finish() {
  if (FileFor(UnitKind::kRecord)) {
    // records.bin holds whole records only, so it always reads as a stream.
    if (recordOpen_) Note(records_.Truncate(recordStart_, scratch_));
    const uint8_t end[BIN_RECORD_HEADER_SIZE] = {};
    Note(records_.Append(end, sizeof end, scratch_));
  }
  image_.Close();
  boot_.Close();
  records_.Close();
}

}  // namespace brenvik::handset
