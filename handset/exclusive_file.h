// Files that appear under their final name whole: written first to a temporary beside it,
// created exclusively under a name no one can guess, so that nothing planted is followed.
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace brenvik::handset {

class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() { Discard(); }

  // Creates "<dir>/.<name>.XXXXXX" for `finalPath`.
  bool Create(const std::string& finalPath, std::string& error);
  int Fd() const { return fd_; }
  // Closes the file and renames it to its final name, replacing a file (or a link itself,
  // never what it points to) there.
  bool Commit(std::string& error);
  // Closes and removes an uncommitted temporary.
  void Discard();

 private:
  std::string final_, temp_;
  int fd_ = -1;
};

// Writes a file whole through `write`, or leaves no trace of it.
bool WriteWhole(const std::string& path, const std::function<void(std::ostream&)>& write, std::string& error);

}  // namespace brenvik::handset
