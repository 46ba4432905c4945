// Throughput of the core alone: a whole download run (plain blocks, or an img of 4 KiB
// records) into an in-memory handset that copies every byte it is given, as a driver would.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "run/download_run.h"
#include "link/wire.h"

namespace {

using namespace brenvik;

class InMemoryHandset : public DeviceFile {
 public:
  IoResult Read(uint8_t* data, size_t size, std::chrono::milliseconds) override {
    // The acknowledgement once, ready packets after it.
    std::memset(data, acked_ ? READY_BYTE : UPGRADE_ACK_BYTE, size);
    acked_ = true;
    return {IoStatus::kOk, size};
  }
  IoResult Write(const uint8_t* data, size_t size, std::chrono::milliseconds) override {
    std::memcpy(sink_, data, size);
    benchmark::DoNotOptimize(sink_);
    return {IoStatus::kOk, size};
  }
  void Close() override {}

 private:
  bool acked_ = false;
  alignas(64) uint8_t sink_[4096];
};

class Quiet : public MessageSink, public ProgressReporter {
 public:
  void ShowMessage(const std::string&, MessageCaption) override {}
  void SetRange(uint32_t) override {}
  void SetPosition(uint32_t) override {}
  void SetStatus(const std::string&) override {}
};

constexpr size_t kImageSize = size_t(256) << 20;

std::string MakeImage(const char* name, bool records) {
  auto path = std::filesystem::temp_directory_path() / name;
  if (std::filesystem::exists(path) && std::filesystem::file_size(path) >= kImageSize) return path;
  std::ofstream f(path, std::ios::binary);
  std::vector<uint8_t> chunk(4096);
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = uint8_t(i * 31 + 7);
  size_t written = 0;
  auto put = [&](const void* p, size_t n) {
    f.write(static_cast<const char*>(p), std::streamsize(n));
    written += n;
  };
  if (!records) {
    while (written < kImageSize) put(chunk.data(), chunk.size());
    return path;
  }
  std::vector<uint8_t> boot(BOOT_AREA_SIZE, 0x5A);
  put(boot.data(), boot.size());
  put("B000FF\n\0\0\0\0\0\0\0\0", 15);
  uint32_t address = 0x80000000;
  uint8_t header[12];
  while (written + 12 + chunk.size() + 12 <= kImageSize) {
    PutLe32(header, address);
    PutLe32(header + 4, uint32_t(chunk.size()));
    PutLe32(header + 8, 0x12345);
    put(header, 12);
    put(chunk.data(), chunk.size());
    address += uint32_t(chunk.size());
  }
  std::memset(header, 0, sizeof header);
  put(header, 12);
  return path;
}

void Flash(benchmark::State& state, const char* name, bool records) {
  const std::string path = MakeImage(name, records);
  Quiet quiet;
  for (auto _ : state) {
    DownloadRun run(quiet, quiet);
    FlashOptions options;
    options.deviceFactory = [] { return std::make_unique<InMemoryHandset>(); };
    if (run.Prepare(path, options) != PrepareResult::kReady || !run.Download().Ok()) {
      state.SkipWithError("the run failed");
      break;
    }
    state.SetBytesProcessed(state.bytes_processed() + run.Entry().size);
  }
}

void BM_PlainBlocks(benchmark::State& s) { Flash(s, "brenvik-bench-plain.dio", false); }
void BM_ImgRecords4K(benchmark::State& s) { Flash(s, "brenvik-bench-records.img", true); }
BENCHMARK(BM_PlainBlocks)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ImgRecords4K)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
