// The raw channel: a file's bytes written in 4096-byte pieces into a raw pty, drained on the
// other side by a second process. Prints the bytes per second; the baseline of the flash.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  int file = ::open(argv[1], O_RDONLY);
  struct stat st {};
  if (file < 0 || ::fstat(file, &st) != 0) return 2;
  auto* data = static_cast<const char*>(::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_SHARED, file, 0));

  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ::grantpt(master);
  ::unlockpt(master);
  int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  termios tio{};
  ::tcgetattr(slave, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(slave, TCSANOW, &tio);

  const size_t total = size_t(st.st_size);
  pid_t reader = ::fork();
  if (reader == 0) {
    static char buf[65536];
    size_t got = 0;
    while (got < total) {
      ssize_t n = ::read(master, buf, sizeof buf);
      if (n <= 0) _exit(1);
      got += size_t(n);
    }
    _exit(0);
  }
  auto start = std::chrono::steady_clock::now();
  for (size_t at = 0; at < total;) {
    size_t piece = total - at < 4096 ? total - at : 4096;
    ssize_t n = ::write(slave, data + at, piece);
    if (n <= 0) return 1;
    at += size_t(n);
  }
  int status = 0;
  ::waitpid(reader, &status, 0);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.0f\n", double(total) / seconds);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
