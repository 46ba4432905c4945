#include "pipe_io.h"

#include <fcntl.h>
#include <io.h>

namespace brenvik::cli::pipe_io {

bool OpenPipe(int fds[2]) { return ::_pipe(fds, 65536, _O_BINARY | _O_NOINHERIT) == 0; }
long ReadSome(int fd, char* buffer, size_t size) { return ::_read(fd, buffer, unsigned(size)); }
long WriteSome(int fd, const char* data, size_t size) { return ::_write(fd, data, unsigned(size)); }
std::FILE* OpenFile(int fd) { return ::_fdopen(fd, "wb"); }
void CloseFd(int fd) { ::_close(fd); }

}  // namespace brenvik::cli::pipe_io
