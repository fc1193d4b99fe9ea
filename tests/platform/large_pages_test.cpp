#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <limits>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "platform/large_pages.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kOwnOperatorNew = false;
#else
constexpr bool kOwnOperatorNew = true;
#endif

bool OnLargePage(const void* p) { return reinterpret_cast<uintptr_t>(p) % jx::kLargePageBytes == 0; }

// The "VmFlags" line of the mapping that holds p ("hg": huge pages asked for), or "".
std::string VmFlagsAt(const void* p) {
    std::ifstream smaps("/proc/self/smaps");
    const uintptr_t at = reinterpret_cast<uintptr_t>(p);
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        uintptr_t lo = 0, hi = 0;
        char dash = 0;
        std::istringstream head(line);
        if (head >> std::hex >> lo >> dash >> hi && dash == '-') {
            inside = lo <= at && at < hi;
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            return line;
        }
    }
    return "";
}

}  // namespace

// If the replacement operator new is not linked in, or stops marking blocks, large buffers
// quietly fall back to small pages and the open path loses its speed.
TEST(LargePages, LargeBlocksStartOnAMarkedLargePage) {
    if (!kOwnOperatorNew) GTEST_SKIP() << "the sanitizers keep their own allocator";
    for (size_t bytes : {jx::kLargeBlockBytes, size_t{3} << 20, jx::kWholePagesBelow + 12345, size_t{40} << 20}) {
        std::vector<uint8_t> block(bytes, 1);
        EXPECT_TRUE(OnLargePage(block.data())) << bytes;
        EXPECT_EQ(block.back(), 1);
        std::ifstream thp("/sys/kernel/mm/transparent_hugepage/enabled");
        if (thp) {
            EXPECT_NE(VmFlagsAt(block.data()).find(" hg"), std::string::npos) << bytes;
        }
    }
}

TEST(LargePages, ImpossibleSizesThrowBadAlloc) {
    if (!kOwnOperatorNew) GTEST_SKIP() << "the sanitizers report such sizes themselves";
    // Rounding up to whole large pages must not wrap around to a small block.
    for (size_t bytes : {std::numeric_limits<size_t>::max() - 100, std::numeric_limits<size_t>::max() / 2}) {
        EXPECT_THROW(
            {
                void* p = ::operator new(bytes);
                ::operator delete(p);
            },
            std::bad_alloc)
            << bytes;
    }
}
