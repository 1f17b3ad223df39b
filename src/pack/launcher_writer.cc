#include "pack/launcher_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

#include "format/footer.h"

namespace wexlo {

namespace {

bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    if (written == 0) {
      errno = EIO;
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

std::span<const std::uint8_t> asBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

PackResult<void> writeLauncher(const std::filesystem::path& output, const LauncherParts& parts) {
  constexpr auto kMaxLength = std::numeric_limits<std::uint32_t>::max();
  if (parts.metadataText.size() > kMaxLength || parts.appName.size() > kMaxLength) {
    return packError("metadata or application name too long");
  }
  const Footer footer{
      .payloadOffset = parts.stub.size(),
      .payloadLength = parts.payload.size(),
      .decompressedLength = parts.decompressedLength,
      .metadataOffset = parts.stub.size() + parts.payload.size(),
      .metadataLength = static_cast<std::uint32_t>(parts.metadataText.size()),
      .appNameLength = static_cast<std::uint32_t>(parts.appName.size()),
  };
  const auto footerBytes = encodeFooter(footer);

  const std::string target = output.string();
  std::filesystem::path directory = output.parent_path();
  if (directory.empty()) directory = ".";
  std::string temporary =
      (directory / ("." + output.filename().string() + ".wexlo-XXXXXX")).string();
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return packError("cannot write '" + target + "': " + std::strerror(errno));

  std::string problem;
  for (auto piece : {parts.stub, parts.payload, asBytes(parts.metadataText), asBytes(parts.appName),
                     std::span<const std::uint8_t>(footerBytes)}) {
    if (problem.empty() && !writeAll(fd, piece)) problem = std::strerror(errno);
  }
  if (problem.empty() && ::fchmod(fd, 0755) != 0) problem = std::strerror(errno);
  if (problem.empty() && ::fsync(fd) != 0) problem = std::strerror(errno);
  if (::close(fd) != 0 && problem.empty()) problem = std::strerror(errno);
  if (problem.empty() && ::rename(temporary.c_str(), target.c_str()) != 0) {
    problem = std::strerror(errno);
  }
  if (!problem.empty()) {
    ::unlink(temporary.c_str());
    return packError("cannot write '" + target + "': " + problem);
  }
  return {};
}

}  // namespace wexlo
