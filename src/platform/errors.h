#pragma once
#include <stdexcept>
#include <string>

namespace jx {

// Every failure of this library carries its message text to whoever shows it.
class PlatformError : public std::runtime_error {
public:
    explicit PlatformError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace jx
