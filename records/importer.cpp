#include "importer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace brenvik::records {
namespace {

constexpr size_t kRowsPerBatch = 20000;

struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

void ImportLog(Store& store, const std::string& path, ImportCounts& counts,
               const std::function<void(size_t lines)>& progress) {
  // Only a regular file is read: a FIFO or a device could block or act on something.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) throw LogError("the log " + path + " cannot be read: " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw LogError("the log " + path + " is not a file");
  }
  std::unique_ptr<std::FILE, FileClose> file(::fdopen(fd, "rb"));
  if (!file) {
    ::close(fd);
    throw LogError("the log " + path + " cannot be read: " + std::strerror(errno));
  }
  std::vector<Row> batch;
  batch.reserve(kRowsPerBatch);
  auto flush = [&] {
    if (batch.empty()) return;
    const size_t added = store.Insert(batch);
    counts.added += added;
    counts.already += batch.size() - added;
    batch.clear();
  };
  char* buffer = nullptr;
  size_t capacity = 0;
  size_t number = 0;
  ssize_t n;
  std::string why;
  try {
    while ((n = ::getline(&buffer, &capacity, file.get())) >= 0) {
      ++number;
      std::string_view line(buffer, size_t(n));
      if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
      if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
      if (auto row = ParseLogLine(line, why)) {
        batch.push_back(std::move(*row));
        if (batch.size() == kRowsPerBatch) {
          flush();
          if (progress) progress(number);
        }
      } else {
        ++counts.malformed;
        counts.bad.push_back({path, number, why});
      }
    }
    const bool failed = std::ferror(file.get());
    std::free(buffer);
    buffer = nullptr;
    if (failed) throw StoreError("the log " + path + " could not be read to its end");
    flush();
  } catch (...) {
    std::free(buffer);
    throw;
  }
}

}  // namespace brenvik::records
