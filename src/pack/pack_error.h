// The packer reports each bad input as one line naming what is wrong, so its
// failures carry a message rather than only a failure name.
#pragma once

#include <expected>
#include <string>

namespace wexlo {

struct PackError {
  std::string message;  // without the "wexlo: error: " prefix
};

template <typename T>
using PackResult = std::expected<T, PackError>;

inline std::unexpected<PackError> packError(std::string message) {
  return std::unexpected(PackError{std::move(message)});
}

}  // namespace wexlo
