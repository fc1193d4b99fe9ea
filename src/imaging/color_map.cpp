#include "imaging/color_map.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <new>

#include "imaging/errors.h"
#include "platform/large_pages.h"

namespace jx {

// A photograph's table spans megabytes and is probed at random: large pages spare a missed
// address translation per probe.
void TColorMap::Reserve(size_t count) {
    size_t cap = 16;
    while (cap * 5 < count * 8) cap *= 2;
    if (cap <= capacity_) return;
    auto* fresh = static_cast<Entry*>(MapZeroPages(cap * sizeof(Entry)));
    if (!fresh) throw ImagingError("Out of memory for a colour table of " + std::to_string(count) + " colours");
    Entry* old = table_;
    const size_t oldCap = capacity_;
    table_ = fresh;
    capacity_ = cap;
    mask_ = cap - 1;
    int bits = 0;
    while ((size_t{1} << bits) < cap) ++bits;
    shift_ = 32 - bits;
    size_ = 0;
    for (size_t i = 0; i < oldCap; ++i)
        if (old[i].stored != 0) {
            bool inserted;
            FindOrInsert(old[i].key, old[i].stored - 1, inserted);
        }
    UnmapPages(old, oldCap * sizeof(Entry));
}

TColorMap::~TColorMap() { UnmapPages(table_, capacity_ * sizeof(Entry)); }

void TColorMap::Grow() { Reserve(capacity_ == 0 ? 16 : capacity_); }

void TColorMap::Clear() {
    if (table_) std::memset(table_, 0, capacity_ * sizeof(Entry));
    size_ = 0;
}

}  // namespace jx

namespace jx {

// Large pages spare the address translation a miss per lookup in a table this size.
void* MapZeroPages(size_t n) {
    void* p = ::mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    AdviseLargePages(p, n);
    return p;
}

void UnmapPages(void* p, size_t n) {
    if (p) ::munmap(p, n);
}

}  // namespace jx
