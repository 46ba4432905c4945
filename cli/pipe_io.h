// The descriptor calls the output queue makes: a pipe, reads and writes on it, a stream over
// a descriptor. pipe_io_posix.cpp and pipe_io_win32.cpp (the C runtime's _pipe, _read, ...).
#pragma once

#include <cstddef>
#include <cstdio>

namespace brenvik::cli::pipe_io {

// A pipe whose ends no child process inherits; binary on Windows.
bool OpenPipe(int fds[2]);
long ReadSome(int fd, char* buffer, size_t size);
long WriteSome(int fd, const char* data, size_t size);
// A stream that writes into `fd`, byte for byte.
std::FILE* OpenFile(int fd);
void CloseFd(int fd);

}  // namespace brenvik::cli::pipe_io
