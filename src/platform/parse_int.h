#pragma once
// Whole numbers typed by people or stored in text files.
#include <charconv>
#include <cstdint>
#include <string_view>

namespace jx {

// The whole text, decimal, an optional sign ('+' too): nothing before or after it.
inline bool ParseInt(std::string_view text, int64_t& value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && p == end;
}

}  // namespace jx
