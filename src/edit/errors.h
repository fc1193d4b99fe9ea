#pragma once
#include <stdexcept>
#include <string>

namespace jx {

// Every failure of the editing layer carries its message text to whoever shows it.
class EditError : public std::runtime_error {
public:
    explicit EditError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace jx
