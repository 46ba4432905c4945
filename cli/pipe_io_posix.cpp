#include "pipe_io.h"

#include <fcntl.h>
#include <unistd.h>

namespace brenvik::cli::pipe_io {

bool OpenPipe(int fds[2]) { return ::pipe2(fds, O_CLOEXEC) == 0; }
long ReadSome(int fd, char* buffer, size_t size) { return ::read(fd, buffer, size); }
long WriteSome(int fd, const char* data, size_t size) { return ::write(fd, data, size); }
std::FILE* OpenFile(int fd) { return ::fdopen(fd, "w"); }
void CloseFd(int fd) { ::close(fd); }

}  // namespace brenvik::cli::pipe_io
