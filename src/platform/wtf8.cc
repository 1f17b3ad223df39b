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

namespace {

enum class Sequence { Whole, Bad, CutShort };

// Reads the sequence starting at text[i] into `cp` and `length`.
Sequence decodeAt(std::string_view text, std::size_t i, std::uint32_t& cp, std::size_t& length) {
  auto byte = static_cast<std::uint8_t>(text[i]);
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
    return Sequence::Bad;
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (i + k == text.size()) return Sequence::CutShort;
    auto next = static_cast<std::uint8_t>(text[i + k]);
    if ((next & 0xC0) != 0x80) return Sequence::Bad;
    cp = (cp << 6) | (next & 0x3F);
  }
  return cp < minimum || cp > 0x10FFFF ? Sequence::Bad : Sequence::Whole;
}

}  // namespace

Result<std::u16string> wtf8ToWtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  bool previousWasLead = false;
  for (std::size_t i = 0; i < text.size();) {
    std::uint32_t cp;
    std::size_t length;
    if (decodeAt(text, i, cp, length) != Sequence::Whole) return fail(Failure::InvalidWtf8);
    if (previousWasLead && isTrailSurrogate(cp)) return fail(Failure::InvalidWtf8);
    previousWasLead = isLeadSurrogate(cp);
    appendUtf16(out, cp);
    i += length;
  }
  return out;
}

std::u16string wtf8PieceToWtf16(std::string& pending, std::string_view piece) {
  pending.append(piece);
  const std::string_view text = pending;
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    std::uint32_t cp;
    std::size_t length;
    auto sequence = decodeAt(text, i, cp, length);
    if (sequence == Sequence::CutShort) break;
    if (sequence == Sequence::Bad) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    appendUtf16(out, cp);
    i += length;
  }
  pending.erase(0, i);
  return out;
}

}  // namespace wexlo
