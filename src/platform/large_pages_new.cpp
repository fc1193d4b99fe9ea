// The global operator new, putting large blocks on huge pages (see large_pages.h). Linked
// into every program as an object file: in an archive the linker might never pull it in.
#include <malloc.h>
#include <stdlib.h>

#include <cstddef>
#include <new>

#include "platform/large_pages.h"

namespace {

// A large block starts on a large page. One of up to kWholePagesBelow bytes fills whole large
// pages (most of it would otherwise stay on small ones); a larger one ends on small pages, so
// that it never holds more memory than it asked for. The library's operator delete frees
// either with free().
void* Allocate(std::size_t n) {
    if (n < jx::kLargeBlockBytes) return std::malloc(n);
    const std::size_t page = jx::kLargePageBytes;
    const std::size_t whole = (n + page - 1) & ~(page - 1);
    if (whole < n) return nullptr;  // wrapped around: no such block
    const std::size_t size = n < jx::kWholePagesBelow ? whole : n;
    void* p = nullptr;
    if (::posix_memalign(&p, page, size) != 0) return nullptr;
    jx::AdviseLargePages(p, size);
    return p;
}

// A freed large block goes back to the system at once. Left to itself the C library raises its
// threshold for that after the first large free, and blocks of up to 32 MB then stay with the
// process after use: tens of megabytes held through an open.
const bool kFixedThreshold = ::mallopt(M_MMAP_THRESHOLD, static_cast<int>(jx::kLargeBlockBytes)) != 0;

}  // namespace

void* operator new(std::size_t n) {
    if (n == 0) n = 1;
    for (;;) {
        if (void* p = Allocate(n)) return p;
        const std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}
