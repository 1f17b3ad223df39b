#include "pack/target.h"

#include <algorithm>

namespace wexlo {

const Target* findTarget(std::string_view name) {
  const auto found = std::ranges::find(kTargets, name, &Target::name);
  return found == kTargets.end() ? nullptr : &*found;
}

std::string targetNames() {
  std::string names;
  for (std::size_t i = 0; i < kTargets.size(); ++i) {
    if (i > 0) names += i + 1 == kTargets.size() ? " or " : ", ";
    names += kTargets[i].name;
  }
  return names;
}

}  // namespace wexlo
