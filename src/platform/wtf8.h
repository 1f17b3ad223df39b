// WTF-8: UTF-8 that also carries unpaired UTF-16 surrogates, so that every
// UTF-16 string (a Windows command line, an environment block, a path)
// converts to bytes and back without loss.
#pragma once

#include <string>
#include <string_view>

#include "platform/failure.h"

namespace wexlo {

// Never fails: a surrogate pair becomes one four-byte sequence, an unpaired
// surrogate its own three-byte sequence.
std::string wtf16ToWtf8(std::u16string_view text);

// Fails with InvalidWtf8 for anything wtf16ToWtf8 cannot produce: bad or
// truncated sequences, overlong forms, code points above U+10FFFF, and a lead
// surrogate directly followed by a trail surrogate (that pair has exactly one
// encoding, the four-byte one, so two spellings of one string never exist).
Result<std::u16string> wtf8ToWtf16(std::string_view text);

// For text that arrives in pieces cut anywhere, such as a message written to
// a console a few bytes at a time: converts `pending` (what an earlier piece
// left) followed by `piece`, each byte that starts no valid sequence becoming
// U+FFFD, and leaves in `pending` a sequence cut short at the end.
std::u16string wtf8PieceToWtf16(std::string& pending, std::string_view piece);

}  // namespace wexlo
