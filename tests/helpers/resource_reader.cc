// Reads a program's resources the way Windows itself does, for the tests that
// check what the packer writes into a Windows launcher (run under Wine).
//
//   resource_reader.exe PROGRAM KEY...
//
// Prints, in UTF-8, one line per KEY: "KEY=value" from the version record's
// string table (GetFileVersionInfoW, VerQueryValueW) or "KEY missing"; then
// "file version=a.b.c.d" from its fixed part, "icons=N" (ExtractIconExW) and
// "manifest=" followed by the words asInvoker, supportedOS and longPathAware
// that the manifest (FindResourceW) holds. Like fake_erl, this program uses
// none of the project's own code.
#include <windows.h>
// After windows.h, which it builds on.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  return out;
}

std::string manifestWords(const wchar_t* program) {
  HMODULE module =
      LoadLibraryExW(program, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) return "(cannot load)";
  std::string words;
  if (HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
    HGLOBAL loaded = LoadResource(module, found);
    const char* text = static_cast<const char*>(LockResource(loaded));
    const std::string manifest(text, SizeofResource(module, found));
    for (const char* word : {"asInvoker", "supportedOS", "longPathAware"}) {
      if (manifest.find(word) != std::string::npos) words += std::string(" ") + word;
    }
  }
  FreeLibrary(module);
  return words;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  _setmode(_fileno(stdout), _O_BINARY);  // "\n", not "\r\n"
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(argv[1], &ignored);
  std::vector<unsigned char> record(size);
  const bool haveRecord = size != 0 && GetFileVersionInfoW(argv[1], 0, size, record.data());
  for (int i = 2; i < argc; ++i) {
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + argv[i];
    wchar_t* value = nullptr;
    UINT length = 0;
    if (haveRecord &&
        VerQueryValueW(record.data(), path.c_str(), reinterpret_cast<void**>(&value), &length)) {
      std::printf("%s=%s\n", utf8(argv[i]).c_str(), utf8(value).c_str());
    } else {
      std::printf("%s missing\n", utf8(argv[i]).c_str());
    }
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (haveRecord &&
      VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) {
    std::printf("file version=%lu.%lu.%lu.%lu\n", fixed->dwFileVersionMS >> 16,
                fixed->dwFileVersionMS & 0xffff, fixed->dwFileVersionLS >> 16,
                fixed->dwFileVersionLS & 0xffff);
  }
  std::printf("icons=%u\n", ExtractIconExW(argv[1], -1, nullptr, nullptr, 0));
  std::printf("manifest=%s\n", manifestWords(argv[1]).c_str());
  return 0;
}
