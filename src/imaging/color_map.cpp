#include "imaging/color_map.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

#include "imaging/errors.h"

namespace jx {

void TColorMap::Reserve(size_t count) {
    size_t cap = 16;
    while (cap * 5 < count * 8) cap *= 2;
    if (cap <= table_.size()) return;
    std::vector<Entry> old;
    old.swap(table_);
    try {
        table_.assign(cap, Entry{0, -1});
    } catch (const std::bad_alloc&) {
        throw ImagingError("Out of memory for a colour table of " + std::to_string(count) + " colours");
    }
    mask_ = cap - 1;
    int bits = 0;
    while ((size_t{1} << bits) < cap) ++bits;
    shift_ = 32 - bits;
    size_ = 0;
    for (const Entry& e : old)
        if (e.value >= 0) {
            bool inserted;
            FindOrInsert(e.key, e.value, inserted);
        }
}

void TColorMap::Grow() { Reserve(table_.empty() ? 16 : table_.size()); }

void TColorMap::Clear() {
    for (Entry& e : table_) e.value = -1;
    size_ = 0;
}

}  // namespace jx

namespace jx {

// Large pages spare the address translation a miss per lookup in a table this size.
void* MapZeroPages(size_t n) {
    void* p = ::mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    ::madvise(p, n, MADV_HUGEPAGE);
    return p;
}

void UnmapPages(void* p, size_t n) {
    if (p) ::munmap(p, n);
}

}  // namespace jx
