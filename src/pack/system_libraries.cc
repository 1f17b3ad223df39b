#include "pack/system_libraries.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "pack/target.h"

namespace wexlo {

namespace {

// DLLs in Windows' own directory on every version from Windows 10 on that
// native programs, NIFs and OTP's runtime are known to import.
constexpr std::string_view kWindowsSystemDlls[] = {
    "advapi32.dll", "bcrypt.dll",   "comctl32.dll",   "comdlg32.dll", "crypt32.dll",
    "dbghelp.dll",  "dnsapi.dll",   "gdi32.dll",      "gdiplus.dll",  "imm32.dll",
    "iphlpapi.dll", "kernel32.dll", "kernelbase.dll", "msvcrt.dll",   "mswsock.dll",
    "ncrypt.dll",   "netapi32.dll", "ntdll.dll",      "ole32.dll",    "oleaut32.dll",
    "opengl32.dll", "psapi.dll",    "rpcrt4.dll",     "secur32.dll",  "setupapi.dll",
    "shell32.dll",  "shlwapi.dll",  "ucrtbase.dll",   "user32.dll",   "userenv.dll",
    "uxtheme.dll",  "version.dll",  "winhttp.dll",    "wininet.dll",  "winmm.dll",
    "winspool.drv", "ws2_32.dll",   "wsock32.dll",    "wtsapi32.dll", "glu32.dll",
    "normaliz.dll", "dwmapi.dll",
};

std::string lowered(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

std::string_view fileName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool isWindowsSystemDll(std::string_view name) {
  const std::string lower = lowered(name);
  if (lower.starts_with("api-ms-win-") || lower.starts_with("ext-ms-win-")) return true;
  return std::ranges::find(kWindowsSystemDlls, lower) != std::end(kWindowsSystemDlls);
}

std::vector<SystemLibrary> systemLibraries(const NativeCode& code, std::string_view target) {
  const bool windows = target == kWindowsTarget;
  std::set<std::string> carried;
  for (const std::string& path : code.paths) {
    carried.insert(windows ? lowered(fileName(path)) : std::string(fileName(path)));
  }
  std::map<std::string, SystemLibrary> needed;
  for (const NativeFile& file : code.files) {
    if (!runsOn(file.executable, target)) continue;
    for (const std::string& name : file.executable.needed) {
      const std::string key = windows ? lowered(name) : name;
      if (carried.contains(key) || (windows && isWindowsSystemDll(key))) continue;
      ++needed.try_emplace(key, SystemLibrary{name, file.path, 0}).first->second.users;
    }
  }
  std::vector<SystemLibrary> libraries;
  for (auto& [key, library] : needed) libraries.push_back(std::move(library));
  return libraries;
}

}  // namespace wexlo
