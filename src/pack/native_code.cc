#include "pack/native_code.h"

#include <algorithm>
#include <memory>

#include "pack/files.h"
#include "pack/target.h"
#include "platform/file_system.h"

namespace wexlo {

namespace {

// Foreign files named in the error line; the rest are counted.
constexpr std::size_t kNamedForeignFiles = 3;

struct Foreign {
  const NativeFile* file;
  std::string builtFor;
};

// What to do about a runtime built for `machine`: the target that fits it,
// if there is one.
std::string runtimeAdvice(std::uint16_t machine, std::string_view target) {
  for (const Target& other : kTargets) {
    if (other.elfMachine != 0 && other.elfMachine == machine) {
      return "pack it with --target " + std::string(other.name);
    }
  }
  return "build the release for " + std::string(target);
}

bool isRuntimeProgram(std::string_view path, std::string_view ertsBin) {
  return path == std::string(ertsBin) + "erlexec" || path == std::string(ertsBin) + "beam.smp";
}

PackResult<void> checkWindowsRuntime(const NativeCode& code, const NativeCheck& check) {
  const std::string path = "erts-" + check.ertsVersion + "/bin/erl.exe";
  if (std::ranges::find(check.allowed, path) != check.allowed.end()) return {};
  const auto found = std::ranges::find(code.files, path, &NativeFile::path);
  std::string is = "not a program";
  if (found != code.files.end()) {
    const image::Executable& erl = found->executable;
    if (runsOn(erl, check.target) && !erl.peDll() &&
        erl.pe->subsystem == image::kPeSubsystemConsole) {
      return {};
    }
    is = "a " + erl.description();
  }
  return packError("release's runtime " + quoted(check.releaseDirectory / path) + " is " + is +
                   ", not a Windows x86-64 console program (point include_erts: at the "
                   "runtime of an OTP built for " +
                   std::string(check.target) + ")");
}

std::string foreignError(const std::vector<Foreign>& foreign, std::string_view target) {
  std::string text = "release carries " + std::to_string(foreign.size()) +
                     (foreign.size() == 1 ? " file" : " files") +
                     " built for another target than " + std::string(target) + ": ";
  for (std::size_t i = 0; i < foreign.size() && i < kNamedForeignFiles; ++i) {
    if (i > 0) text += ", ";
    text += wexlo::quoted(foreign[i].file->path) + " (" + foreign[i].builtFor + ")";
  }
  if (foreign.size() > kNamedForeignFiles) {
    text += " and " + std::to_string(foreign.size() - kNamedForeignFiles) + " more";
  }
  return text + " (point include_erts: at the runtime built for " + std::string(target) +
         ", build NIFs for " + std::string(target) +
         ", or let a file the release never loads through with --allow-foreign PATH)";
}

}  // namespace

PackResult<NativeCode> findNativeCode(const Release& release) {
  NativeCode code;
  for (const ReleaseFile& file : release.files) {
    code.paths.push_back(file.path);
    std::unique_ptr<MappedFile> mapped;
    std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(file.content.data()),
                                        file.content.size());
    if (!file.source.empty()) {
      auto opened = realFileSystem().mapReadOnly(file.source.string());
      if (!opened) {
        return packError("cannot read release file " + quoted(file.source) + ": " +
                         std::string(failureName(opened.error())));
      }
      mapped = std::move(*opened);
      bytes = mapped->bytes();
    }
    if (!image::mayBeExecutable(bytes)) continue;
    if (auto executable = image::identifyExecutable(bytes)) {
      code.files.push_back({file.path, std::move(*executable)});
    }
  }
  std::ranges::sort(code.paths);
  return code;
}

bool runsOn(const image::Executable& file, std::string_view target) {
  const Target* wanted = findTarget(target);
  if (!wanted) return false;
  if (file.elf) {
    return wanted->elfMachine != 0 && file.linuxElf() && file.elf->is64 && !file.elf->bigEndian &&
           file.elf->machine == wanted->elfMachine;
  }
  if (file.pe) {
    return wanted->peMachine != 0 && file.pe->pe32Plus && file.pe->machine == wanted->peMachine;
  }
  return false;
}

PackResult<void> checkNativeCode(const NativeCode& code, const NativeCheck& check) {
  for (const std::string& path : check.allowed) {
    if (!std::ranges::binary_search(code.paths, path)) {
      return packError("--allow-foreign " + wexlo::quoted(path) +
                       ": no such file in the release (give its path inside the release, "
                       "e.g. lib/<app>-<vsn>/priv/<file>)");
    }
  }
  const std::string ertsBin = "erts-" + check.ertsVersion + "/bin/";
  std::vector<Foreign> foreign;
  for (const NativeFile& file : code.files) {
    if (runsOn(file.executable, check.target) ||
        std::ranges::find(check.allowed, file.path) != check.allowed.end()) {
      continue;
    }
    // A runtime for another CPU is one mistake, whatever else it brings.
    const auto& elf = file.executable.elf;
    const Target* wanted = findTarget(check.target);
    const std::uint16_t machine = wanted ? wanted->elfMachine : 0;
    if (elf && machine != 0 && elf->machine != machine && isRuntimeProgram(file.path, ertsBin)) {
      return packError("release's runtime is built for " + image::elfMachineName(elf->machine) +
                       ", not for " + std::string(check.target) + ": " +
                       quoted(check.releaseDirectory / file.path) + " (" +
                       runtimeAdvice(elf->machine, check.target) + ")");
    }
    foreign.push_back({&file, file.executable.description()});
  }
  if (check.target == kWindowsTarget) {
    if (auto runtime = checkWindowsRuntime(code, check); !runtime) return runtime;
  }
  if (!foreign.empty()) return packError(foreignError(foreign, check.target));
  return {};
}

}  // namespace wexlo
