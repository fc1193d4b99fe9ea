#include "platform/large_pages.h"

#include <sys/mman.h>

#include <cstdint>

namespace jx {

void AdviseLargePages(void* p, size_t n) {
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kLargePageBytes - 1) & ~(kLargePageBytes - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + n) & ~(kLargePageBytes - 1);
    // Only whole large pages inside the block: its first and last pages may hold other blocks.
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace jx
