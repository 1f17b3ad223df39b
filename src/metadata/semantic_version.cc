#include "metadata/semantic_version.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace wexlo {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isIdentifierChar(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
}

bool isNumeric(std::string_view identifier) {
  return !identifier.empty() && std::ranges::all_of(identifier, isDigit);
}

// Digits only, no leading zero except "0" itself, within 64 bits.
Result<std::uint64_t> parseNumber(std::string_view digits) {
  if (!isNumeric(digits)) return fail(Failure::InvalidVersion);
  if (digits.size() > 1 && digits[0] == '0') return fail(Failure::InvalidVersion);
  std::uint64_t value = 0;
  for (char c : digits) {
    auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
      return fail(Failure::Overflow);
    }
    value = value * 10 + digit;
  }
  return value;
}

std::vector<std::string_view> splitAtDots(std::string_view text) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (;;) {
    std::size_t dot = text.find('.', start);
    pieces.push_back(text.substr(start, dot == std::string_view::npos ? dot : dot - start));
    if (dot == std::string_view::npos) return pieces;
    start = dot + 1;
  }
}

Result<std::vector<std::string>> parseIdentifiers(std::string_view part, bool preRelease) {
  std::vector<std::string> identifiers;
  for (std::string_view identifier : splitAtDots(part)) {
    if (identifier.empty() || !std::ranges::all_of(identifier, isIdentifierChar)) {
      return fail(Failure::InvalidVersion);
    }
    if (preRelease && isNumeric(identifier)) {
      if (auto number = parseNumber(identifier); !number) return fail(number.error());
    }
    identifiers.emplace_back(identifier);
  }
  return identifiers;
}

// Numeric identifiers carry no leading zeros, so the longer one is larger.
std::strong_ordering compareNumeric(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return a.size() <=> b.size();
  return a.compare(b) <=> 0;
}

std::strong_ordering compareIdentifier(std::string_view a, std::string_view b) {
  bool aNumeric = isNumeric(a);
  bool bNumeric = isNumeric(b);
  if (aNumeric && bNumeric) return compareNumeric(a, b);
  if (aNumeric != bNumeric)
    return aNumeric ? std::strong_ordering::less : std::strong_ordering::greater;
  return a.compare(b) <=> 0;
}

}  // namespace

Result<SemanticVersion> parseSemanticVersion(std::string_view text) {
  std::size_t coreEnd = text.find_first_of("-+");
  std::string_view core = text.substr(0, coreEnd);
  std::vector<std::string_view> numbers = splitAtDots(core);
  if (numbers.size() != 3) return fail(Failure::InvalidVersion);

  SemanticVersion version;
  std::uint64_t* fields[] = {&version.major, &version.minor, &version.patch};
  for (std::size_t i = 0; i < 3; ++i) {
    auto number = parseNumber(numbers[i]);
    if (!number) return fail(number.error());
    *fields[i] = *number;
  }
  if (coreEnd == std::string_view::npos) return version;

  std::string_view rest = text.substr(coreEnd + 1);
  std::optional<std::string_view> build;
  if (text[coreEnd] == '-') {
    std::size_t plus = rest.find('+');
    auto preRelease = parseIdentifiers(rest.substr(0, plus), true);
    if (!preRelease) return fail(preRelease.error());
    version.preRelease = std::move(*preRelease);
    if (plus != std::string_view::npos) build = rest.substr(plus + 1);
  } else {
    build = rest;
  }
  if (build) {
    auto identifiers = parseIdentifiers(*build, false);
    if (!identifiers) return fail(identifiers.error());
    version.build = std::move(*identifiers);
  }
  return version;
}

std::strong_ordering comparePrecedence(const SemanticVersion& a, const SemanticVersion& b) {
  if (auto order = a.major <=> b.major; order != 0) return order;
  if (auto order = a.minor <=> b.minor; order != 0) return order;
  if (auto order = a.patch <=> b.patch; order != 0) return order;
  // A release ranks above any of its pre-releases.
  if (a.preRelease.empty() || b.preRelease.empty()) {
    return a.preRelease.empty() <=> b.preRelease.empty();
  }
  std::size_t common = std::min(a.preRelease.size(), b.preRelease.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (auto order = compareIdentifier(a.preRelease[i], b.preRelease[i]); order != 0) return order;
  }
  return a.preRelease.size() <=> b.preRelease.size();
}

}  // namespace wexlo
