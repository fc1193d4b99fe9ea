#pragma once
// Runs a piece of a test in a forked child whose address space may grow only a little past what
// the test process already uses, so a reader that allocates before it checks fails the test.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>

namespace jx::test {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kCanLimitMemory = false;  // the sanitizer's shadow memory needs the space
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kCanLimitMemory = false;
#else
inline constexpr bool kCanLimitMemory = true;
#endif
#else
inline constexpr bool kCanLimitMemory = true;
#endif

inline uint64_t AddressSpaceInUse() {
    std::ifstream status("/proc/self/status");
    std::string key;
    uint64_t kb = 0;
    while (status >> key) {
        if (key == "VmSize:" && status >> kb) return kb * 1024;
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

// The child's exit status: body's result (0..255), 254 when it threw, 255 when it died.
inline int RunWithMemoryLimit(uint64_t extraBytes, const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        const rlim_t limit = AddressSpaceInUse() + extraBytes;
        rlimit r{limit, limit};
        setrlimit(RLIMIT_AS, &r);
        int code = 254;
        try {
            code = body();
        } catch (...) {
        }
        _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

}  // namespace jx::test
