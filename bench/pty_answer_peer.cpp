// The least a handset can do: answers the PC over a raw pty and checks nothing but where
// the packets end. A flash into it shows what the link's round trips cost on their own,
// without handset-sim's checks. Usage: pty_answer_peer PATH_FILE (the pty's path goes there).
// Prints how long it waited, over the whole download, between sending a ready packet and
// the next block header: the pipe stands empty then, which a one-way stream never pays.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "link/packets.h"
#include "link/protocol.h"
#include "link/wire.h"

namespace {

using namespace brenvik;

int g_master = -1;
uint8_t g_buf[65536];
size_t g_at = 0, g_end = 0;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "pty_answer_peer: %s\n", what);
  std::exit(1);
}

void Fill() {
  const ssize_t n = ::read(g_master, g_buf, sizeof g_buf);
  if (n <= 0) Fail("the link ended early");
  g_at = 0;
  g_end = size_t(n);
}

// The next `size` bytes (at most 16) as one packet.
const uint8_t* Packet(size_t size) {
  static uint8_t packet[16];
  for (size_t have = 0; have < size;) {
    if (g_at == g_end) Fill();
    packet[have++] = g_buf[g_at++];
  }
  return packet;
}

void Skip(uint64_t size) {
  while (size > 0) {
    if (g_at == g_end) Fill();
    const size_t n = g_end - g_at < size ? g_end - g_at : size_t(size);
    g_at += n;
    size -= n;
  }
}

void Answer(uint8_t fill) {
  const InPacket p = MakeInPacket(fill);
  if (::write(g_master, p.data(), p.size()) != ssize_t(p.size())) Fail("cannot answer");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PATH_FILE\n", argv[0]);
    return 2;
  }
  g_master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (g_master < 0 || ::grantpt(g_master) != 0 || ::unlockpt(g_master) != 0) Fail("no pty");
  // Held open, so that the PC's open and close never hang the line up.
  const int slave = ::open(::ptsname(g_master), O_RDWR | O_NOCTTY);
  termios tio{};
  if (slave < 0 || ::tcgetattr(slave, &tio) != 0) Fail("cannot open the slave");
  ::cfmakeraw(&tio);
  ::tcsetattr(slave, TCSANOW, &tio);
  if (FILE* f = std::fopen(argv[1], "w")) {
    std::fprintf(f, "%s\n", ::ptsname(g_master));
    std::fclose(f);
  }

  std::chrono::steady_clock::duration readyWait{};
  uint32_t blocks = 0;
  Answer(UPGRADE_ACK_BYTE);
  const int32_t kind = int32_t(GetLe32(Packet(KIND_PACKET_SIZE) + 4));
  if (kind == KIND_IMG || kind == KIND_LARGE_BIN || kind == KIND_RAW) {
    // Transfers until the download-end command, then its repeat.
    for (;;) {
      const uint8_t* p = Packet(DATA_HEADER_SIZE);
      if (GetLe32(p) == COMMAND_MAGIC && GetLe32(p + 4) == CMD_DOWNLOAD_END) break;
      Skip(GetLe32(p + 12));
      Packet(COMMAND_PACKET_SIZE);
    }
    Packet(COMMAND_PACKET_SIZE);
  } else {
    for (;;) {
      const auto asked = std::chrono::steady_clock::now();
      Answer(READY_BYTE);
      const uint8_t* h = Packet(BLOCK_HEADER_SIZE);
      readyWait += std::chrono::steady_clock::now() - asked;
      ++blocks;
      const uint32_t following = GetLe32(h);
      Skip(GetLe32(h + 4));
      if (following == 0) break;
    }
  }
  std::printf("%u %.6f\n", blocks, std::chrono::duration<double>(readyWait).count());
  std::fflush(stdout);
  // As handset-sim does: the line is held a moment, so that the PC sees no hang-up.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  return 0;
}
