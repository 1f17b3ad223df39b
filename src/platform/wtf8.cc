#include "platform/wtf8.h"

#include <cstdint>

namespace wexlo {

namespace {

bool isLeadSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isTrailSurrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void appendCodePoint(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void appendUtf16(std::u16string& out, std::uint32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 | (cp >> 10));
    out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
  }
}

}  // namespace

std::string wtf16ToWtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t unit = text[i];
    if (isLeadSurrogate(unit) && i + 1 < text.size() && isTrailSurrogate(text[i + 1])) {
      std::uint32_t trail = text[++i];
      appendCodePoint(out, 0x10000 + ((unit - 0xD800) << 10) + (trail - 0xDC00));
    } else {
      appendCodePoint(out, unit);
    }
  }
  return out;
}

Result<std::u16string> wtf8ToWtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  bool previousWasLead = false;
  for (std::size_t i = 0; i < text.size();) {
    auto byte = static_cast<std::uint8_t>(text[i]);
    std::size_t length;
    std::uint32_t cp;
    std::uint32_t minimum;
    if (byte < 0x80) {
      length = 1, cp = byte, minimum = 0;
    } else if (byte >= 0xC2 && byte <= 0xDF) {
      length = 2, cp = byte & 0x1F, minimum = 0x80;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
      length = 3, cp = byte & 0x0F, minimum = 0x800;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
      length = 4, cp = byte & 0x07, minimum = 0x10000;
    } else {
      return fail(Failure::InvalidWtf8);
    }
    if (text.size() - i < length) return fail(Failure::InvalidWtf8);
    for (std::size_t k = 1; k < length; ++k) {
      auto next = static_cast<std::uint8_t>(text[i + k]);
      if ((next & 0xC0) != 0x80) return fail(Failure::InvalidWtf8);
      cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF) return fail(Failure::InvalidWtf8);
    if (previousWasLead && isTrailSurrogate(cp)) return fail(Failure::InvalidWtf8);
    previousWasLead = isLeadSurrogate(cp);
    appendUtf16(out, cp);
    i += length;
  }
  return out;
}

}  // namespace wexlo
