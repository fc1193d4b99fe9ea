#pragma once
#include <stdexcept>
#include <string>

namespace jx {

// Every failure of this library carries its message text to whoever shows it.
class PngError : public std::runtime_error {
public:
    explicit PngError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace jx
