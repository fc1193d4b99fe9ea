#pragma once
// Text that the program compares without regard to case: extensions, option words, settings keys.
#include <string>

namespace jx {

// Only A-Z change, whatever the locale: names are compared byte for byte otherwise.
inline char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
inline std::string AsciiLower(std::string s) {
    for (char& c : s) c = AsciiLower(c);
    return s;
}

}  // namespace jx
