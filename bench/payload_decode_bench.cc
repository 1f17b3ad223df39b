// Measures the launcher's payload decode against named baselines in the same
// run: itself on one thread, liblzma's one-call buffer decoder, liblzma's
// threaded stream decoder on as many threads, and a plain memcpy of the
// output size.
//
//   payload_decode_bench [--input FILE | --tree DIR] [--block-size MIB] [--preset N]
//                        [--threads N] [--sweep MIB,MIB,...] [--compare-threads] [--runs N]
//
// Without --input the input is an archive of the regular files under --tree
// (default /usr/lib/erlang) laid out like a payload: length-prefixed path,
// length-prefixed content, mode. Each measurement runs in a forked child so
// that its peak resident memory is its own.
#include <lzma.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "format/payload_decoder.h"
#include "pack/xz_encoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
constexpr double kMiB = 1024.0 * 1024.0;

// CPU seconds of this process so far, all threads: steadier than wall time
// on a machine that other jobs share.
double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Measurement {
  double wall = 0;                // elapsed seconds: what a user waits
  double seconds = 0;             // CPU seconds, all threads: the work done
  long long peakExtraBytes = -1;  // -1: the platform cannot tell
};

long long statusKib(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stoll(line.substr(std::strlen(field)));
  }
  return -1;
}

// Runs `operation` in a child process: its time, and how far its resident
// memory rose above where it started.
Measurement measureOnce(const std::function<void()>& operation) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    // Memory the parent freed but kept would otherwise serve the operation
    // without showing up as growth.
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";  // resets the peak to the current size
    const long long before = statusKib("VmRSS:");
    const auto wallStart = Clock::now();
    const double start = cpuSeconds();
    operation();
    Measurement m{std::chrono::duration<double>(Clock::now() - wallStart).count(),
                  cpuSeconds() - start, -1};
    const long long peak = statusKib("VmHWM:");
    if (before >= 0 && peak >= 0) m.peakExtraBytes = (peak - before) * 1024;
    if (write(fds[1], &m, sizeof m) != sizeof m) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  Measurement m{-1, -1, -1};
  if (read(fds[0], &m, sizeof m) != sizeof m) m.seconds = m.wall = -1;
  close(fds[0]);
  waitpid(child, nullptr, 0);
  return m;
}

// Each measurement is the best of this many runs: on a shared machine the
// fastest run is the one least disturbed by other work.
int runs = 3;

Measurement measure(const std::function<void()>& operation) {
  Measurement best{1e300, 1e300, -1};
  for (int i = 0; i < runs; ++i) {
    const Measurement m = measureOnce(operation);
    best.wall = std::min(best.wall, m.wall);
    best.seconds = std::min(best.seconds, m.seconds);
    best.peakExtraBytes = std::max(best.peakExtraBytes, m.peakExtraBytes);
  }
  return best;
}

void appendU64(Bytes& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

Bytes archiveOfTree(const std::filesystem::path& root) {
  std::map<std::string, std::filesystem::path> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && !entry.is_symlink()) {
      files.emplace(entry.path().lexically_relative(root).string(), entry.path());
    }
  }
  Bytes out{'Z', 'E', 'L', 'P', 'A'};
  for (const auto& [name, path] : files) {
    std::ifstream in(path, std::ios::binary);
    const Bytes content{std::istreambuf_iterator<char>(in), {}};
    struct stat info {};
    stat(path.c_str(), &info);
    appendU64(out, name.size());
    out.insert(out.end(), name.begin(), name.end());
    appendU64(out, content.size());
    out.insert(out.end(), content.begin(), content.end());
    appendU64(out, info.st_mode);
  }
  out.insert(out.end(), {'Z', 'E', 'L', 'P', 'A'});
  return out;
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes{std::istreambuf_iterator<char>(in), {}};
}

struct EncodeTime {
  double wall = 0;
  double cpu = 0;
};

Bytes compress(const Bytes& input, const wexlo::XzOptions& options, EncodeTime* time) {
  const auto start = Clock::now();
  const double cpuStart = cpuSeconds();
  auto stream = wexlo::compressPayload(input, options);
  time->wall = std::chrono::duration<double>(Clock::now() - start).count();
  time->cpu = cpuSeconds() - cpuStart;
  if (!stream) {
    std::fprintf(stderr, "compressPayload failed: %s\n",
                 std::string(wexlo::failureName(stream.error())).c_str());
    std::exit(1);
  }
  return std::move(*stream);
}

volatile std::uint8_t sink;

Measurement measureDecodePayload(const Bytes& stream, std::size_t size, unsigned threads) {
  return measure([&] {
    auto decoded = wexlo::decodePayload(stream, size, threads);
    if (!decoded) _exit(2);
    sink = decoded->bytes().back();
  });
}

Measurement measureBufferDecode(const Bytes& stream, std::size_t size) {
  return measure([&] {
    std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[size]);
    std::uint64_t memlimit = UINT64_MAX;
    std::size_t inPos = 0;
    std::size_t outPos = 0;
    if (lzma_stream_buffer_decode(&memlimit, 0, nullptr, stream.data(), &inPos, stream.size(),
                                  out.get(), &outPos, size) != LZMA_OK) {
      _exit(2);
    }
    sink = out[size - 1];
  });
}

// liblzma's own threaded decoder, the other way to use every core: its
// workers decode into buffers of their own that it then copies out. It is
// given the output 1 MiB at a time: handed all of it at once, liblzma 5.4
// decodes on one thread only (measured).
Measurement measureThreadedDecoder(const Bytes& stream, std::size_t size, unsigned threads) {
  return measure([&] {
    std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[size]);
    lzma_mt mt{};
    mt.threads = threads;
    mt.memlimit_threading = UINT64_MAX;
    mt.memlimit_stop = UINT64_MAX;
    lzma_stream decoder = LZMA_STREAM_INIT;
    if (lzma_stream_decoder_mt(&decoder, &mt) != LZMA_OK) _exit(2);
    decoder.next_in = stream.data();
    decoder.avail_in = stream.size();
    std::size_t given = 0;
    lzma_ret ret = LZMA_OK;
    while (ret == LZMA_OK) {
      if (decoder.avail_out == 0 && given < size) {
        decoder.next_out = out.get() + given;
        decoder.avail_out = std::min<std::size_t>(std::size_t{1} << 20, size - given);
        given += decoder.avail_out;
      }
      ret = lzma_code(&decoder, LZMA_FINISH);
    }
    if (ret != LZMA_STREAM_END) _exit(2);
    lzma_end(&decoder);
    sink = out[size - 1];
  });
}

Measurement measureMemcpy(const Bytes& input) {
  return measure([&] {
    std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[input.size()]);
    std::memcpy(out.get(), input.data(), input.size());
    sink = out[input.size() - 1];
  });
}

std::string mib(long long bytes) {
  return bytes < 0 ? "n/a" : std::to_string(static_cast<long long>(bytes / kMiB + 0.5)) + " MiB";
}

void printMeasurement(const char* name, const Measurement& m) {
  std::printf("%-38s %.3f s wall, %.3f s CPU, peak extra %s\n", name, m.wall, m.seconds,
              mib(m.peakExtraBytes).c_str());
}

void printRatio(const char* name, const Measurement& ours, const Measurement& base) {
  std::printf("decodePayload vs %s: %.2fx wall time, %.2fx CPU time", name, ours.wall / base.wall,
              ours.seconds / base.seconds);
  if (ours.peakExtraBytes > 0 && base.peakExtraBytes > 0) {
    std::printf(", %.2fx peak extra memory",
                static_cast<double>(ours.peakExtraBytes) / base.peakExtraBytes);
  }
  std::printf("\n");
}

void compareWithBaselines(const Bytes& input, const wexlo::XzOptions& options) {
  EncodeTime encode;
  const Bytes stream = compress(input, options, &encode);
  const auto info = wexlo::describeXzStream(stream);
  std::printf("compressed: %zu bytes (%.1f%%), %llu blocks, encode %.1f s wall, %.1f s CPU\n",
              stream.size(), 100.0 * stream.size() / input.size(),
              static_cast<unsigned long long>(info ? info->blockCount : 0), encode.wall,
              encode.cpu);
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const Measurement ours = measureDecodePayload(stream, input.size(), 0);
  const Measurement single = measureDecodePayload(stream, input.size(), 1);
  const Measurement buffer = measureBufferDecode(stream, input.size());
  const Measurement threaded = measureThreadedDecoder(stream, input.size(), cores);
  const Measurement copy = measureMemcpy(input);
  const std::string oursName = "decodePayload, " + std::to_string(cores) + " threads:";
  const std::string threadedName = "lzma_stream_decoder_mt, " + std::to_string(cores) + " threads:";
  printMeasurement(oursName.c_str(), ours);
  printMeasurement("decodePayload, 1 thread:", single);
  printMeasurement("lzma_stream_buffer_decode:", buffer);
  printMeasurement(threadedName.c_str(), threaded);
  printMeasurement("memcpy of the output:", copy);
  printRatio("itself on 1 thread", ours, single);
  printRatio("lzma_stream_buffer_decode", ours, buffer);
  printRatio("lzma_stream_decoder_mt", ours, threaded);
  printRatio("memcpy", ours, copy);
}

void sweepBlockSizes(const Bytes& input, wexlo::XzOptions options, const std::string& list) {
  std::printf(
      "| block size | blocks | compressed bytes | ratio | encode wall s (%u threads) | "
      "encode CPU s | decode CPU s | decode peak extra |\n|---|---|---|---|---|---|---|---|\n",
      options.threads);
  for (std::size_t at = 0; at < list.size();) {
    const std::size_t comma = std::min(list.find(',', at), list.size());
    options.blockSize = static_cast<std::uint64_t>(std::stod(list.substr(at, comma - at)) * kMiB);
    at = comma + 1;
    EncodeTime encode;
    const Bytes stream = compress(input, options, &encode);
    const auto info = wexlo::describeXzStream(stream);
    const Measurement decode = measureDecodePayload(stream, input.size(), 0);
    std::printf("| %s | %llu | %zu | %.2f%% | %.1f | %.1f | %.3f | %s |\n",
                mib(options.blockSize).c_str(),
                static_cast<unsigned long long>(info ? info->blockCount : 0), stream.size(),
                100.0 * stream.size() / input.size(), encode.wall, encode.cpu, decode.seconds,
                mib(decode.peakExtraBytes - static_cast<long long>(input.size())).c_str());
    std::fflush(stdout);
  }
  std::printf("(decode peak extra: resident memory beyond the output buffer itself)\n");
}

void compareThreads(const Bytes& input, wexlo::XzOptions options) {
  EncodeTime one;
  EncodeTime two;
  options.threads = 1;
  const Bytes oneBytes = compress(input, options, &one);
  options.threads = 2;
  const Bytes twoBytes = compress(input, options, &two);
  std::printf(
      "encode, 1 thread: %.1f s wall (%.1f s CPU); 2 threads: %.1f s wall (%.1f s CPU); "
      "wall speed-up %.2fx; same bytes: %s\n",
      one.wall, one.cpu, two.wall, two.cpu, one.wall / two.wall,
      oneBytes == twoBytes ? "yes" : "NO");
}

}  // namespace

int main(int argc, char** argv) {
  // A fixed threshold keeps every large buffer in its own fresh mapping, so
  // the growth measured for an operation is what it really touches.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  std::string inputFile;
  std::string tree = "/usr/lib/erlang";
  std::string sweep;
  bool threadsComparison = false;
  wexlo::XzOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--input" && hasValue) {
      inputFile = argv[++i];
    } else if (arg == "--tree" && hasValue) {
      tree = argv[++i];
    } else if (arg == "--block-size" && hasValue) {
      options.blockSize = static_cast<std::uint64_t>(std::stod(argv[++i]) * kMiB);
    } else if (arg == "--preset" && hasValue) {
      options.preset = static_cast<std::uint32_t>(std::stoul(argv[++i]));
    } else if (arg == "--threads" && hasValue) {
      options.threads = static_cast<std::uint32_t>(std::stoul(argv[++i]));
    } else if (arg == "--sweep" && hasValue) {
      sweep = argv[++i];
    } else if (arg == "--runs" && hasValue) {
      runs = std::max(1, std::stoi(argv[++i]));
    } else if (arg == "--compare-threads") {
      threadsComparison = true;
    } else {
      std::fprintf(stderr, "unknown or incomplete option: %s\n", arg.c_str());
      return 2;
    }
  }
  const Bytes input = inputFile.empty() ? archiveOfTree(tree) : readFile(inputFile);
  if (input.empty()) {
    std::fprintf(stderr, "empty input\n");
    return 1;
  }
  std::printf("input: %s, %zu bytes; preset %u, block size %s\n",
              inputFile.empty() ? tree.c_str() : inputFile.c_str(), input.size(), options.preset,
              mib(options.blockSize ? options.blockSize : wexlo::kDefaultXzBlockSize).c_str());
  if (threadsComparison) {
    compareThreads(input, options);
  } else if (!sweep.empty()) {
    sweepBlockSizes(input, options, sweep);
  } else {
    compareWithBaselines(input, options);
  }
  return 0;
}
