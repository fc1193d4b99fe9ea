#include "imaging/color_map.h"

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
