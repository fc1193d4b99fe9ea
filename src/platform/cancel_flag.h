#pragma once
#include <atomic>

namespace jx {

// The user's request to stop a running tool or chain. The window that takes Esc or "Stop" owns one
// and hands it by reference to whatever it starts; atomic so a signal handler or test thread may set it.
class CancelFlag {
public:
    void Request() noexcept { requested_.store(true, std::memory_order_relaxed); }
    void Clear() noexcept { requested_.store(false, std::memory_order_relaxed); }
    bool IsRequested() const noexcept { return requested_.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> requested_{false};
};

}  // namespace jx
