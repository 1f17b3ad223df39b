// Measures the launcher's unpacking of a packed launcher's release, decoded
// and written as it streams, with several decoding threads against one, in
// the same run. Builds for Linux and
// for Windows (run under Wine there), where the file system layer differs.
//
//   unpack_bench LAUNCHER [RUNS] [THREADS...]
//
// Each thread count in turn (default 1, 2,
// 4 and 8, interleaved run by run) unpacks it RUNS times (default 5), each
// time into a new directory below `unpack_bench.tmp` in the current
// directory. They are deleted only at the end: a file system may reuse the
// inodes of files deleted a moment ago only after a slow search (ext4
// without a journal does), which no user's first run meets. Prints the
// median wall time of each and its ratio to one thread.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "format/footer.h"
#include "format/payload_stream.h"
#include "install/unpack.h"
#include "platform/file_system.h"

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> values) {
  std::ranges::sort(values);
  return values[(values.size() - 1) / 2];
}

int usage() {
  std::fprintf(stderr, "usage: unpack_bench LAUNCHER [RUNS] [THREADS...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  std::vector<unsigned> counts;
  for (int i = 3; i < argc; ++i) counts.push_back(static_cast<unsigned>(std::atoi(argv[i])));
  if (counts.empty()) counts = {1, 2, 4, 8};
  if (runs < 1 || std::ranges::count(counts, 0u) != 0) return usage();

  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(in), {}};
  auto build = wexlo::locateEmbeddedBuild(image);
  if (!build) {
    std::fprintf(stderr, "unpack_bench: %s carries no build\n", argv[1]);
    return 1;
  }

  wexlo::FileSystem& fs = wexlo::realFileSystem();
  const std::string top = "unpack_bench.tmp";
  if (!fs.deleteTree(top) || !fs.makeDirectory(top)) {
    std::fprintf(stderr, "unpack_bench: cannot make %s\n", top.c_str());
    return 1;
  }
  std::map<unsigned, std::vector<double>> seconds;
  for (int run = 0; run < runs; ++run) {
    for (unsigned threads : counts) {
      const std::string target = top + "/" + std::to_string(run) + "-" + std::to_string(threads);
      if (!fs.makeDirectory(target)) {
        std::fprintf(stderr, "unpack_bench: cannot make %s\n", target.c_str());
        return 1;
      }
      const auto start = Clock::now();
      auto stream = wexlo::PayloadStream::open(
          build->payload, build->decompressedLength,
          {.threads = threads, .memoryBudget = wexlo::kDecodeMemoryBudget, .done = {}});
      auto unpacked =
          stream ? wexlo::unpackStream(fs, **stream, build->decompressedLength, target)
                 : std::expected<void, wexlo::DecodeFailure>(std::unexpected(stream.error()));
      seconds[threads].push_back(std::chrono::duration<double>(Clock::now() - start).count());
      if (!unpacked) {
        std::fprintf(stderr, "unpack_bench: unpacking failed: %s\n",
                     std::string(wexlo::failureName(unpacked.error().failure)).c_str());
        return 1;
      }
    }
  }
  (void)fs.deleteTree(top);

  const double one = median(seconds[counts.front()]);
  std::printf("%llu bytes unpacked, %u cores, medians of %d runs\n",
              static_cast<unsigned long long>(build->decompressedLength),
              std::thread::hardware_concurrency(), runs);
  for (unsigned threads : counts) {
    const double m = median(seconds[threads]);
    std::printf("%2u threads: %8.1f ms  %.2fx the time of %u\n", threads, m * 1000, m / one,
                counts.front());
  }
  return 0;
}
