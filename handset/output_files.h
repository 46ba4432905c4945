// Where one session's payload lands, written as it arrives so that memory stays flat:
// image.bin (blocks), boot.bin (boot area) and records.bin (a BIN record stream).
#pragma once

#include <cstdint>
#include <string>

#include "exclusive_file.h"
#include "session.h"

namespace brenvik::handset {

// A file written front to back, with the odd word patched behind. It is written under a
// temporary name and takes its own name when closed.
class OutFile {
 public:
  OutFile() = default;
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;
  ~OutFile() { Close(); }

  bool Open(const std::string& path, std::string& error);
  bool IsOpen() const { return fd_ >= 0; }
  bool Append(const uint8_t* data, size_t size, std::string& error);
  bool PatchLe32(uint64_t offset, uint32_t value, std::string& error);
  bool Truncate(uint64_t size, std::string& error);
  uint64_t Size() const { return size_; }
  void Close();

 private:
  std::string path_;
  TempFile file_;
  int fd_ = -1;
  uint64_t size_ = 0;
};

// Why handset-sim may not write its files into `dir`: one of them is there already and is
// the reference image, or was not made by handset-sim (no mark of it in the folder); empty
// when it may. A folder handset-sim wrote into before is its own to write again.
std::string RefuseOutDir(const std::string& dir, const std::string& expectPath);

class OutputFiles {
 public:
  // An empty directory writes nothing.
  explicit OutputFiles(std::string dir, std::string expectPath = "")
      : dir_(std::move(dir)), expectPath_(std::move(expectPath)) {}

  // Creates the directory, marks it as handset-sim's and removes the files an earlier run
  // left there, so nothing stale passes for this session's; done once, when the session has
  // something to write. Refuses a folder of files it did not make.
  bool Prepare();

  void OnProcedure(Transfer p);
  void OnUnitBegin(const DataUnit& unit);
  void OnUnitData(const DataUnit& unit, const uint8_t* data, size_t size);
  void OnUnitEnd(const DataUnit& unit);
  // Cuts off a record that was cut short, ends records.bin with the end record, closes all.
  void Finish();

  const std::string& Dir() const { return dir_; }
  const std::string& Error() const { return error_; }  // the first failure, or empty

 private:
  OutFile* FileFor(UnitKind kind);
  void Note(bool ok);

  std::string dir_;
  std::string expectPath_;
  std::string error_;
  std::string scratch_;
  OutFile image_, boot_, records_;
  bool prepared_ = false;
  uint64_t recordStart_ = 0;
  bool recordOpen_ = false;
};

}  // namespace brenvik::handset
