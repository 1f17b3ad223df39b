// Writes the seeded pseudo-random files of the first-run benchmark's corpus:
//
//   bench_seeded_files SEED COUNT TOTAL_BYTES DIRECTORY
//
// COUNT files, asset-0000.bin upwards, whose sizes add up to TOTAL_BYTES.
// Sizes and bytes follow from SEED alone, so the same arguments give the
// same files on every machine. The data does not compress, like the images
// and archives a real release carries in priv/.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// splitmix64: small, fast, and fully defined by its seed.
class SeededBytes {
 public:
  explicit SeededBytes(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }

  // Little-endian byte by byte, so the output does not depend on the host.
  void fill(std::string& out) {
    for (std::size_t i = 0; i < out.size(); i += 8) {
      const std::uint64_t word = next();
      for (std::size_t b = 0; b < 8 && i + b < out.size(); ++b) {
        out[i + b] = static_cast<char>(word >> (8 * b));
      }
    }
  }

 private:
  std::uint64_t state_;
};

// Sizes from 1/16 to 2x of the mean, the rounding left over goes to the last.
std::vector<std::uint64_t> fileSizes(SeededBytes& random, std::uint64_t count,
                                     std::uint64_t total) {
  std::vector<std::uint64_t> weights(count);
  std::uint64_t weightSum = 0;
  for (auto& weight : weights) weightSum += weight = 64 + random.next() % 1984;
  std::vector<std::uint64_t> sizes(count);
  std::uint64_t assigned = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    sizes[i] =
        static_cast<std::uint64_t>(static_cast<unsigned __int128>(total) * weights[i] / weightSum);
    assigned += sizes[i];
  }
  sizes.back() += total - assigned;
  return sizes;
}

bool parse(const char* text, std::uint64_t& value) {
  try {
    std::size_t used = 0;
    value = std::stoull(text, &used, 10);
    return text[0] != '-' && text[used] == '\0';
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t seed = 0, count = 0, total = 0;
  if (argc != 5 || !parse(argv[1], seed) || !parse(argv[2], count) || !parse(argv[3], total) ||
      count == 0 || count > 9999) {
    std::fprintf(stderr, "usage: bench_seeded_files SEED COUNT(1-9999) TOTAL_BYTES DIRECTORY\n");
    return 2;
  }
  const std::filesystem::path directory = argv[4];
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) {
    std::fprintf(stderr, "cannot create %s: %s\n", argv[4], error.message().c_str());
    return 1;
  }

  SeededBytes random(seed);
  std::string content;
  const auto sizes = fileSizes(random, count, total);
  for (std::uint64_t i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "asset-%04u.bin", static_cast<unsigned>(i));
    content.resize(sizes[i]);
    random.fill(content);
    std::ofstream out(directory / name, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", (directory / name).c_str());
      return 1;
    }
  }
  return 0;
}
