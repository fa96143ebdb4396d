#pragma once
// Comparing names and options the way Windows does for ASCII letters.
#include <string_view>

namespace ramclean {

[[nodiscard]] constexpr char ascii_upper(char c) noexcept {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The whole of both texts, letters A-Z equal to a-z; every other byte must be equal.
[[nodiscard]] bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) noexcept;

}  // namespace ramclean
