#include "imaging/settings.h"

#include <charconv>
#include <cstring>

#include "imaging/errors.h"

namespace jx {

int32_t ParseColorCount(const std::string& text) {
    size_t b = text.find_first_not_of(" \t");
    size_t e = text.find_last_not_of(" \t");
    const std::string t = b == std::string::npos ? std::string() : text.substr(b, e - b + 1);
    if (strcasecmp(t.c_str(), "TrueColor") == 0) return -1;
    const char* first = t.c_str();
    const char* last = first + t.size();
    if (first != last && *first == '+') ++first;
    int64_t value = 0;
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (t.empty() || ptr != last || (ec != std::errc() && ec != std::errc::result_out_of_range))
        throw ImagingError("\"" + text + "\" is not a valid number of colors");
    if (ec == std::errc::result_out_of_range) {
        if (*first == '-') return -1;
        throw ImagingError("The number of colors must not exceed " + std::to_string(kMaxColorCount));
    }
    if (value <= 0) return -1;
    if (value > kMaxColorCount)
        throw ImagingError("The number of colors must not exceed " + std::to_string(kMaxColorCount));
    return static_cast<int32_t>(value);
}

}  // namespace jx
