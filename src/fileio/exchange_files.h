#pragma once
// The files an outside tool reads and writes for one call.
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

namespace jx {

// Deletes the exchange files of one call however it ends, so a failed or cancelled call leaves
// nothing behind in the session folder.
class ExchangeFilesGuard {
public:
    explicit ExchangeFilesGuard(std::vector<std::string> files) : files_(std::move(files)) {}
    ~ExchangeFilesGuard() {
        for (const auto& f : files_) ::unlink(f.c_str());
    }
    ExchangeFilesGuard(const ExchangeFilesGuard&) = delete;
    ExchangeFilesGuard& operator=(const ExchangeFilesGuard&) = delete;

private:
    std::vector<std::string> files_;
};

}  // namespace jx
