#include "platform/failure.h"

#include <array>

namespace wexlo {

namespace {
constexpr std::array<std::string_view, kFailureCount> kNames = {
#define WEXLO_FAILURE_NAME(name) #name,
    WEXLO_FAILURES(WEXLO_FAILURE_NAME)
#undef WEXLO_FAILURE_NAME
};
}  // namespace

std::string_view failureName(Failure failure) {
  auto index = static_cast<std::size_t>(failure);
  return index < kNames.size() ? kNames[index] : std::string_view("Unexpected");
}

}  // namespace wexlo
