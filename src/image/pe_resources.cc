#include "image/pe_resources.h"

#include <algorithm>
#include <map>

#include "image/bytes.h"
#include "image/pe_image.h"
#include "platform/wtf8.h"

namespace wexlo::image {

namespace {

constexpr std::uint32_t kLanguageEnUs = 0x409;
constexpr std::uint16_t kCodePageUnicode = 1200;
constexpr std::uint32_t kSubdirectoryBit = 0x80000000;
constexpr std::size_t kDirectorySize = 16;
constexpr std::size_t kEntrySize = 8;
constexpr std::size_t kDataEntrySize = 16;
constexpr std::uint32_t kFixedInfoSignature = 0xfeef04bd;
constexpr std::size_t kFixedInfoSize = 52;
// More entries than this in one directory is a damaged table.
constexpr std::size_t kMaxEntries = 4096;

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(Bytes& out, std::uint32_t value) {
  put16(out, static_cast<std::uint16_t>(value));
  put16(out, static_cast<std::uint16_t>(value >> 16));
}

void set16(Bytes& out, std::size_t at, std::uint16_t value) {
  out[at] = static_cast<std::uint8_t>(value);
  out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void padTo(Bytes& out, std::size_t alignment) {
  while (out.size() % alignment != 0) out.push_back(0);
}

void putText(Bytes& out, std::u16string_view text) {
  for (char16_t c : text) put16(out, c);
  put16(out, 0);
}

// One block of the version record: its 16-bit length, the length of its
// value, a type (0 binary, 1 text), a key, the value and nested blocks, each
// part starting on a 4-byte boundary. The value's length counts bytes for
// binary values (type 0), characters for text (type 1).
std::expected<Bytes, std::string> encodeBlock(std::u16string_view key, const Bytes& value,
                                              std::uint16_t valueLength, std::uint16_t type,
                                              const std::vector<Bytes>& children) {
  Bytes out;
  put16(out, 0);
  put16(out, valueLength);
  put16(out, type);
  putText(out, key);
  padTo(out, 4);
  out.insert(out.end(), value.begin(), value.end());
  for (const Bytes& child : children) {
    padTo(out, 4);
    out.insert(out.end(), child.begin(), child.end());
  }
  if (out.size() > 0xffff) {
    return std::unexpected("the version record's " + wtf16ToWtf8(key) + " block needs " +
                           std::to_string(out.size()) + " bytes; at most 65535 fit");
  }
  set16(out, 0, static_cast<std::uint16_t>(out.size()));
  return out;
}

std::expected<std::u16string, std::string> utf16(const std::string& text) {
  auto converted = wtf8ToWtf16(text);
  if (!converted) return std::unexpected("version string '" + text + "' is not UTF-8");
  return *converted;
}

Bytes fixedFileInfo(const std::array<std::uint16_t, 4>& version) {
  const std::uint32_t high = std::uint32_t{version[0]} << 16 | version[1];
  const std::uint32_t low = std::uint32_t{version[2]} << 16 | version[3];
  Bytes out;
  put32(out, kFixedInfoSignature);
  put32(out, 0x00010000);  // structure version 1.0
  put32(out, high);        // file version
  put32(out, low);
  put32(out, high);  // product version
  put32(out, low);
  put32(out, 0x3f);     // every flag is meaningful ...
  put32(out, 0);        // ... and none is set
  put32(out, 0x40004);  // for 32-bit and 64-bit Windows NT
  put32(out, 1);        // an application
  put32(out, 0);        // no subtype
  put32(out, 0);        // no date, so equal inputs give equal bytes
  put32(out, 0);
  return out;
}

std::expected<Bytes, std::string> versionRecord(const ResourceSet& resources) {
  std::vector<Bytes> strings;
  for (const auto& [key, value] : resources.versionStrings) {
    auto key16 = utf16(key);
    auto value16 = utf16(value);
    if (!key16) return std::unexpected(key16.error());
    if (!value16) return std::unexpected(value16.error());
    if (value16->size() >= 0xffff) {
      return std::unexpected("version string " + key + " is too long");
    }
    Bytes text;
    putText(text, *value16);
    auto encoded =
        encodeBlock(*key16, text, static_cast<std::uint16_t>(value16->size() + 1), 1, {});
    if (!encoded) return encoded;
    strings.push_back(std::move(*encoded));
  }
  auto table = encodeBlock(u"040904B0", {}, 0, 1, strings);
  if (!table) return table;
  auto stringInfo = encodeBlock(u"StringFileInfo", {}, 0, 1, {std::move(*table)});
  if (!stringInfo) return stringInfo;

  Bytes languages;
  put16(languages, kLanguageEnUs);
  put16(languages, kCodePageUnicode);
  auto translation = encodeBlock(u"Translation", languages, 4, 0, {});
  auto varInfo = encodeBlock(u"VarFileInfo", {}, 0, 1, {std::move(*translation)});
  if (!varInfo) return varInfo;

  return encodeBlock(u"VS_VERSION_INFO", fixedFileInfo(resources.fileVersion), kFixedInfoSize, 0,
                     {std::move(*stringInfo), std::move(*varInfo)});
}

Bytes iconGroup(const std::vector<IconImage>& icon) {
  Bytes out;
  put16(out, 0);
  put16(out, 1);  // icons, not cursors
  put16(out, static_cast<std::uint16_t>(icon.size()));
  for (std::size_t i = 0; i < icon.size(); ++i) {
    const IconImage& image = icon[i];
    out.insert(out.end(), {image.width, image.height, image.colourCount, 0});
    put16(out, image.planes);
    put16(out, image.bitCount);
    put32(out, static_cast<std::uint32_t>(image.bytes.size()));
    put16(out, static_cast<std::uint16_t>(i + 1));  // the RT_ICON entry's name
  }
  return out;
}

// type -> name -> data; every resource is in one language.
using ResourceTree = std::map<std::uint32_t, std::map<std::uint32_t, Bytes>>;

// The three directory levels (type, name, language), then the data entries,
// then the data, each piece 8-byte aligned.
Bytes layOut(const ResourceTree& tree, std::uint32_t sectionRva) {
  std::size_t leaves = 0;
  std::size_t directories = kDirectorySize + kEntrySize * tree.size();
  for (const auto& [type, names] : tree) {
    directories += kDirectorySize + kEntrySize * names.size();
    directories += (kDirectorySize + kEntrySize) * names.size();
    leaves += names.size();
  }
  const std::size_t dataEntries = directories;
  std::size_t dataAt = (dataEntries + kDataEntrySize * leaves + 7) & ~std::size_t{7};

  Bytes out;
  auto directoryHeader = [&](std::size_t ids) {
    put32(out, 0);  // characteristics
    put32(out, 0);  // no time stamp, so equal inputs give equal bytes
    put32(out, 0);  // version
    put16(out, 0);  // named entries
    put16(out, static_cast<std::uint16_t>(ids));
  };
  // Root, then each type's directory, then each name's language directory.
  directoryHeader(tree.size());
  std::size_t next = kDirectorySize + kEntrySize * tree.size();
  for (const auto& [type, names] : tree) {
    put32(out, type);
    put32(out, static_cast<std::uint32_t>(next) | kSubdirectoryBit);
    next += kDirectorySize + kEntrySize * names.size();
  }
  for (const auto& [type, names] : tree) {
    directoryHeader(names.size());
    for (const auto& entry : names) {
      put32(out, entry.first);
      put32(out, static_cast<std::uint32_t>(next) | kSubdirectoryBit);
      next += kDirectorySize + kEntrySize;
    }
  }
  std::size_t leaf = 0;
  for (const auto& [type, names] : tree) {
    for (std::size_t i = 0; i < names.size(); ++i, ++leaf) {
      directoryHeader(1);
      put32(out, kLanguageEnUs);
      put32(out, static_cast<std::uint32_t>(dataEntries + kDataEntrySize * leaf));
    }
  }
  for (const auto& [type, names] : tree) {
    for (const auto& [name, data] : names) {
      put32(out, sectionRva + static_cast<std::uint32_t>(dataAt));
      put32(out, static_cast<std::uint32_t>(data.size()));
      put32(out, 0);  // code page
      put32(out, 0);
      dataAt = (dataAt + data.size() + 7) & ~std::size_t{7};
    }
  }
  for (const auto& [type, names] : tree) {
    for (const auto& [name, data] : names) {
      padTo(out, 8);
      out.insert(out.end(), data.begin(), data.end());
    }
  }
  padTo(out, 8);
  return out;
}

bool isBitmapHeader(std::span<const std::uint8_t> bytes) {
  const auto size = readLittle<std::uint32_t>(bytes, 0);
  return size && (*size == 40 || *size == 108 || *size == 124);
}

bool isPng(std::span<const std::uint8_t> bytes) {
  constexpr std::array<std::uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  return bytes.size() >= kSignature.size() &&
         std::equal(kSignature.begin(), kSignature.end(), bytes.begin());
}

// --- Reading -------------------------------------------------------------

struct DirectoryEntry {
  std::uint32_t id = 0;
  std::uint32_t offset = 0;  // from the section's start
  bool subdirectory = false;
};

std::vector<DirectoryEntry> readDirectory(std::span<const std::uint8_t> rsrc, std::size_t at) {
  const auto named = readLittle<std::uint16_t>(rsrc, at + 12);
  const auto ids = readLittle<std::uint16_t>(rsrc, at + 14);
  if (!named || !ids || std::size_t{*named} + *ids > kMaxEntries) return {};
  std::vector<DirectoryEntry> entries;
  for (std::size_t i = 0; i < std::size_t{*named} + *ids; ++i) {
    const auto id = readLittle<std::uint32_t>(rsrc, at + kDirectorySize + kEntrySize * i);
    const auto offset = readLittle<std::uint32_t>(rsrc, at + kDirectorySize + kEntrySize * i + 4);
    if (!id || !offset) return {};
    entries.push_back({*id, *offset & ~kSubdirectoryBit, (*offset & kSubdirectoryBit) != 0});
  }
  return entries;
}

struct ResourceView {
  PeImage image;
  std::span<const std::uint8_t> rsrc;
};

std::optional<ResourceView> resourceView(std::span<const std::uint8_t> file) {
  auto image = readPeImage(file);
  if (!image) return std::nullopt;
  const PeDataDirectory directory = image->directory(kPeDirectoryResource);
  const auto at = image->fileOffsetOf(directory.address);
  if (directory.size == 0 || !at || *at > file.size()) return std::nullopt;
  return ResourceView{*image,
                      file.subspan(*at, std::min<std::size_t>(directory.size, file.size() - *at))};
}

// The data of the first resource of `type`, in any name and language.
std::optional<std::span<const std::uint8_t>> firstResource(std::span<const std::uint8_t> file,
                                                           std::uint32_t type) {
  const auto view = resourceView(file);
  if (!view) return std::nullopt;
  std::optional<DirectoryEntry> entry;
  for (const DirectoryEntry& e : readDirectory(view->rsrc, 0)) {
    if (e.id == type && e.subdirectory) entry = e;
  }
  // Type, then name, then language: each a subdirectory's first entry.
  for (int level = 0; level < 2 && entry; ++level) {
    const auto entries = readDirectory(view->rsrc, entry->offset);
    entry = entries.empty() || (level == 0) != entries[0].subdirectory ? std::nullopt
                                                                       : std::optional(entries[0]);
  }
  if (!entry) return std::nullopt;
  const auto rva = readLittle<std::uint32_t>(view->rsrc, entry->offset);
  const auto size = readLittle<std::uint32_t>(view->rsrc, entry->offset + 4);
  if (!rva || !size) return std::nullopt;
  const auto at = view->image.fileOffsetOf(*rva);
  if (!at || *at > file.size() || file.size() - *at < *size) return std::nullopt;
  return file.subspan(*at, *size);
}

struct ParsedBlock {
  std::u16string key;
  std::span<const std::uint8_t> value;
  std::vector<std::span<const std::uint8_t>> children;
};

std::optional<ParsedBlock> parseBlock(std::span<const std::uint8_t> bytes) {
  const auto length = readLittle<std::uint16_t>(bytes, 0);
  const auto valueLength = readLittle<std::uint16_t>(bytes, 2);
  const auto type = readLittle<std::uint16_t>(bytes, 4);
  if (!length || !valueLength || !type || *length < 6 || *length > bytes.size()) {
    return std::nullopt;
  }
  bytes = bytes.first(*length);
  ParsedBlock block;
  std::size_t at = 6;
  for (;; at += 2) {
    const auto c = readLittle<std::uint16_t>(bytes, at);
    if (!c) return std::nullopt;
    if (*c == 0) break;
    block.key.push_back(static_cast<char16_t>(*c));
  }
  at = (at + 2 + 3) & ~std::size_t{3};
  const std::size_t valueBytes = *type == 1 ? std::size_t{*valueLength} * 2 : *valueLength;
  if (at > bytes.size()) return block;
  block.value = bytes.subspan(at, std::min(valueBytes, bytes.size() - at));
  at = (at + block.value.size() + 3) & ~std::size_t{3};
  while (at + 6 <= bytes.size()) {
    const auto childLength = readLittle<std::uint16_t>(bytes, at);
    if (*childLength < 6 || *childLength > bytes.size() - at) break;
    block.children.push_back(bytes.subspan(at, *childLength));
    at = (at + *childLength + 3) & ~std::size_t{3};
  }
  return block;
}

std::string textValue(std::span<const std::uint8_t> value) {
  std::u16string text;
  for (std::size_t at = 0; at + 1 < value.size(); at += 2) {
    const auto c = *readLittle<std::uint16_t>(value, at);
    if (c == 0) break;
    text.push_back(static_cast<char16_t>(c));
  }
  return wtf16ToWtf8(text);
}

}  // namespace

std::expected<std::vector<IconImage>, std::string> readIconFile(
    std::span<const std::uint8_t> file) {
  const auto reserved = readLittle<std::uint16_t>(file, 0);
  const auto type = readLittle<std::uint16_t>(file, 2);
  const auto count = readLittle<std::uint16_t>(file, 4);
  if (!reserved || !type || !count || *reserved != 0 || *type != 1) {
    return std::unexpected("not an .ico file (no icon directory at its start)");
  }
  if (*count == 0) return std::unexpected("the icon holds no images");
  std::vector<IconImage> images;
  for (std::size_t i = 0; i < *count; ++i) {
    const std::size_t entry = 6 + 16 * i;
    const auto planes = readLittle<std::uint16_t>(file, entry + 4);
    const auto bitCount = readLittle<std::uint16_t>(file, entry + 6);
    const auto size = readLittle<std::uint32_t>(file, entry + 8);
    const auto offset = readLittle<std::uint32_t>(file, entry + 12);
    const std::string which = "icon image " + std::to_string(i + 1);
    if (!planes || !bitCount || !size || !offset) {
      return std::unexpected("the icon's directory is cut short at " + which);
    }
    if (*offset > file.size() || file.size() - *offset < *size || *size == 0) {
      return std::unexpected(which + " lies outside the file");
    }
    const auto bytes = file.subspan(*offset, *size);
    if (!isPng(bytes) && !isBitmapHeader(bytes)) {
      return std::unexpected(which + " is neither PNG nor a bitmap");
    }
    images.push_back({file[entry], file[entry + 1], file[entry + 2], *planes, *bitCount, bytes});
  }
  return images;
}

std::expected<std::vector<std::uint8_t>, std::string> buildResourceSection(
    const ResourceSet& resources, std::uint32_t sectionRva) {
  ResourceTree tree;
  auto version = versionRecord(resources);
  if (!version) return std::unexpected(version.error());
  tree[kResourceVersion][1] = std::move(*version);
  if (!resources.manifest.empty()) {
    // Name 1: the manifest the loader reads for the program itself.
    tree[kResourceManifest][1] = Bytes(resources.manifest.begin(), resources.manifest.end());
  }
  if (!resources.icon.empty()) {
    if (resources.icon.size() > 0xffff) return std::unexpected("the icon holds too many images");
    for (std::size_t i = 0; i < resources.icon.size(); ++i) {
      const auto bytes = resources.icon[i].bytes;
      tree[kResourceIcon][static_cast<std::uint32_t>(i + 1)] = Bytes(bytes.begin(), bytes.end());
    }
    tree[kResourceGroupIcon][1] = iconGroup(resources.icon);
  }
  return layOut(tree, sectionRva);
}

std::optional<VersionRecord> readVersionRecord(std::span<const std::uint8_t> file) {
  const auto data = firstResource(file, kResourceVersion);
  if (!data) return std::nullopt;
  const auto root = parseBlock(*data);
  if (!root || root->key != u"VS_VERSION_INFO" || root->value.size() < kFixedInfoSize ||
      readLittle<std::uint32_t>(root->value, 0) != kFixedInfoSignature) {
    return std::nullopt;
  }
  VersionRecord record;
  const std::uint32_t high = *readLittle<std::uint32_t>(root->value, 8);
  const std::uint32_t low = *readLittle<std::uint32_t>(root->value, 12);
  record.fileVersion = {static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high),
                        static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low)};
  for (const auto child : root->children) {
    const auto info = parseBlock(child);
    if (!info || info->key != u"StringFileInfo" || info->children.empty()) continue;
    const auto table = parseBlock(info->children[0]);
    if (!table) continue;
    for (const auto text : table->children) {
      if (const auto string = parseBlock(text)) {
        record.strings.emplace_back(wtf16ToWtf8(string->key), textValue(string->value));
      }
    }
  }
  return record;
}

std::vector<std::uint32_t> resourceTypes(std::span<const std::uint8_t> file) {
  std::vector<std::uint32_t> types;
  if (const auto view = resourceView(file)) {
    for (const DirectoryEntry& entry : readDirectory(view->rsrc, 0)) types.push_back(entry.id);
  }
  std::sort(types.begin(), types.end());
  return types;
}

}  // namespace wexlo::image
