#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zavoket {

// Connection states a transfer reports, 0 to 12.
inline constexpr std::int16_t kStateError = 11;

// The status-bar sentence for a transfer state, or nothing for a value outside 0..12.
[[nodiscard]] std::optional<std::string_view> stateMessage(std::int16_t state);

}  // namespace zavoket
