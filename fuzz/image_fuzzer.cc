// Executable headers as the packer meets them in a release: any bytes are
// either a program or library it can describe, or nothing; every read stays
// inside the input, and what is found hangs together.
#include <algorithm>
#include <span>
#include <string>

#include "fuzz_check.h"
#include "image/elf_dynamic.h"
#include "image/executable_kind.h"
#include "image/pe_image.h"
#include "image/pe_imports.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  const auto found = wexlo::image::identifyExecutable(file);
  if (found) {
    FUZZ_CHECK(found->elf.has_value() + found->pe.has_value() + found->machO.has_value() == 1);
    FUZZ_CHECK(wexlo::image::mayBeExecutable(file.first(std::min<std::size_t>(size, 4))));
    FUZZ_CHECK(!found->description().empty());
    if (found->machO) FUZZ_CHECK(!found->machO->slices.empty());
  }
  if (const auto dynamic = wexlo::image::readElfDynamic(file)) {
    for (const std::string& name : dynamic->needed) FUZZ_CHECK(name.size() < size);
  }
  if (const auto imports = wexlo::image::readPeImports(file)) {
    for (const std::string& name : *imports) FUZZ_CHECK(!name.empty() && name.size() < size);
  }
  if (const auto table = wexlo::image::certificateTableOffset(file)) FUZZ_CHECK(*table <= size);
  return 0;
}
