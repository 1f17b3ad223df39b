#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "image/elf_dynamic.h"
#include "image/executable_kind.h"
#include "image/pe_imports.h"
#include "support/native_images.h"

namespace wexlo::image {
namespace {

using namespace wexlo::testing;

std::span<const std::uint8_t> bytesOf(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

template <typename T>
std::string with(std::string file, std::size_t at, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) file[at + i] = static_cast<char>(value >> (8 * i));
  return file;
}

template <typename T>
T readAt(const std::string& file, std::size_t at) {
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i)
    value |= static_cast<T>(static_cast<std::uint8_t>(file[at + i])) << (8 * i);
  return value;
}

constexpr std::uint32_t kMachOX86_64 = 0x01000007;
constexpr std::uint32_t kMachOArm64 = 0x0100000c;

TEST(ExecutableKind, TellsWhatEachFileIsBuiltForAndWhatItNeeds) {
  struct Case {
    const char* name;
    std::string file;
    std::string description;  // empty: not a program or library
    std::vector<std::string> needed = {};
  };
  const std::string elf = elfImage({.needed = {"libc.so.6", "libtinfo.so.6"}, .interpreter = true});
  const std::string pe = peFile({.imports = {"KERNEL32.dll", "vcruntime140.dll"}});
  const std::string fat = fatMachOImage({kMachOX86_64, kMachOArm64});
  const std::string library = elfImage({.needed = {"libc.so.6"}});
  const std::size_t dynamic = readAt<std::uint64_t>(library, 64 + 56 + 8);  // PT_DYNAMIC's offset
  const std::vector<Case> cases = {
      {"ELF program", elf, "Linux x86-64 program", {"libc.so.6", "libtinfo.so.6"}},
      {"ELF library", elfImage({.machine = kElfAarch64}), "Linux aarch64 shared library"},
      {"FreeBSD ELF", elfImage({.osAbi = 9}), "FreeBSD x86-64 shared library"},
      {"PE program", pe, "Windows x86-64 console program", {"KERNEL32.dll", "vcruntime140.dll"}},
      {"32-bit DLL", peFile({.machine = kPeI386, .pe32Plus = false, .dll = true}),
       "Windows x86 (32-bit) DLL"},
      {"GUI program", peFile({.subsystem = 2}), "Windows x86-64 GUI program"},
      {"thin Mach-O", machOImage(kMachOArm64, 6), "macOS arm64 library"},
      {"fat Mach-O", fat, "macOS x86-64 + arm64 program"},
      // What only looks like one.
      {"empty", "", ""},
      {"text", "#!/bin/sh\nexec erlexec \"$@\"\n", ""},
      {"MZ alone", "MZ", ""},
      {"MZ and no PE header", "MZ" + std::string(0x80, '\0'), ""},
      {"PE header past the end", with<std::uint32_t>(pe, 0x3c, 0xfffffff0), ""},
      {"PE section table cut short", pe.substr(0, 0x150), ""},
      {"PE object file", with<std::uint16_t>(pe, 0x56, 0), ""},
      {"Java class file", std::string("\xca\xfe\xba\xbe\x00\x00\x00\x34", 8) + std::string(64, 'j'),
       ""},
      {"fat slice past the end", fat.substr(0, 0x1010), ""},
      {"fat slice of another CPU", with<std::uint8_t>(fat, 0x1004, 12), ""},
      {"Mach-O commands past the end", machOImage(kMachOArm64).substr(0, 40), ""},
      {"Mach-O object file", machOImage(kMachOArm64, 1), ""},
      {"ELF cut short", elf.substr(0, 40), ""},
      {"ELF relocatable object", with<std::uint16_t>(elf, 16, 1), ""},
      // A sound header with damage further on still tells what it is built for.
      {"ELF needed name past the end", with<std::uint64_t>(library, dynamic + 8, 1 << 30),
       "Linux x86-64 shared library"},
      {"PE imports outside any section", with<std::uint32_t>(pe, 0x40 + 24 + 112 + 8, 0x9000),
       "Windows x86-64 console program"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto found = identifyExecutable(bytesOf(c.file));
    EXPECT_EQ(found ? found->description() : "", c.description);
    if (found) {
      EXPECT_EQ(found->needed, c.needed);
      EXPECT_TRUE(mayBeExecutable(bytesOf(c.file.substr(0, kExecutableMagicSize))));
    }
  }
}

}  // namespace
}  // namespace wexlo::image
