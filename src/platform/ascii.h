#pragma once
// Text that the program compares without regard to case: extensions, option words, settings keys.
#include <string>

namespace jx {

// Only A-Z change, whatever the locale: names are compared byte for byte otherwise.
inline std::string AsciiLower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace jx
