#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "batch/transfer.h"

namespace zavoket {

// The error state as the 16-bit number a state change carries.
inline constexpr std::int16_t kStateError = static_cast<std::int16_t>(ConnectionState::Error);

// The status-bar sentence for a transfer state, or nothing for a value outside 0..12.
[[nodiscard]] std::optional<std::string_view> stateMessage(std::int16_t state);

}  // namespace zavoket
