// An ordered copy of a process environment with the platform's rule for
// comparing variable names.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wexlo {

struct EnvironmentVariable {
  std::string name;
  std::string value;
};

using NameEquals = bool (*)(std::string_view, std::string_view);

bool exactNameEquals(std::string_view a, std::string_view b);
bool asciiCaseInsensitiveEquals(std::string_view a, std::string_view b);

class Environment {
 public:
  explicit Environment(NameEquals equals = exactNameEquals) : equals_(equals) {}

  // Builds the map from a block's entries in order; a repeated name replaces
  // the earlier entry (name and value) in the earlier entry's place.
  static Environment fromEntries(const std::vector<EnvironmentVariable>& entries,
                                 NameEquals equals);

  std::optional<std::string_view> get(std::string_view name) const;

  // Replaces the value of a present name, keeping the stored name and its
  // place; a new name is appended.
  void set(std::string_view name, std::string_view value);

  const std::vector<EnvironmentVariable>& entries() const { return entries_; }
  NameEquals nameEquals() const { return equals_; }

 private:
  std::vector<EnvironmentVariable>::iterator find(std::string_view name);
  std::vector<EnvironmentVariable> entries_;
  NameEquals equals_;
};

}  // namespace wexlo
