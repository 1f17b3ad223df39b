#include "platform/environment.h"

#include <algorithm>

namespace wexlo {

bool exactNameEquals(std::string_view a, std::string_view b) { return a == b; }

bool asciiCaseInsensitiveEquals(std::string_view a, std::string_view b) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
  return std::ranges::equal(a, b, [&](char x, char y) { return upper(x) == upper(y); });
}

Environment Environment::fromEntries(const std::vector<EnvironmentVariable>& entries,
                                     NameEquals equals) {
  Environment environment(equals);
  for (const auto& entry : entries) {
    auto existing = environment.find(entry.name);
    if (existing == environment.entries_.end()) {
      environment.entries_.push_back(entry);
    } else {
      *existing = entry;
    }
  }
  return environment;
}

std::vector<EnvironmentVariable>::iterator Environment::find(std::string_view name) {
  return std::ranges::find_if(entries_, [&](const auto& e) { return equals_(e.name, name); });
}

std::optional<std::string_view> Environment::get(std::string_view name) const {
  for (const auto& entry : entries_) {
    if (equals_(entry.name, name)) return entry.value;
  }
  return std::nullopt;
}

void Environment::set(std::string_view name, std::string_view value) {
  auto existing = find(name);
  if (existing == entries_.end()) {
    entries_.push_back({std::string(name), std::string(value)});
  } else {
    existing->value = value;
  }
}

}  // namespace wexlo
