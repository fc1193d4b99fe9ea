#pragma once
// Open-addressing hash map from 32-bit colour keys to non-negative int32 values: the per-colour
// tables of the hot loops (colour list, conversion cache, nearest-colour cache), one probe run
// per lookup instead of a walk through tree nodes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace jx {

class TColorMap {
public:
    explicit TColorMap(size_t expected = 0) { Reserve(expected); }
    ~TColorMap();
    TColorMap(const TColorMap&) = delete;
    TColorMap& operator=(const TColorMap&) = delete;

    // Room for count keys without growing.
    void Reserve(size_t count);
    void Clear();
    size_t Size() const { return size_; }

    // Starts fetching key's home slot: a lookup a few keys later finds it in the cache.
    void Prefetch(uint32_t key) const {
        if (table_) __builtin_prefetch(&table_[Home(key)]);
    }

    // The value of key, inserted as value (>= 0) when missing; inserted tells which.
    int32_t FindOrInsert(uint32_t key, int32_t value, bool& inserted) {
        if ((size_ + 1) * 8 > capacity_ * 5) Grow();
        size_t i = Home(key);
        for (;;) {
            Entry& e = table_[i];
            if (e.stored == 0) {
                e = {key, value + 1};
                ++size_;
                inserted = true;
                return value;
            }
            if (e.key == key) {
                inserted = false;
                return e.stored - 1;
            }
            i = (i + 1) & mask_;
        }
    }

private:
    struct Entry {
        uint32_t key;
        int32_t stored;  // value + 1; 0: empty, so that fresh zero pages are an empty table
    };
    size_t Home(uint32_t key) const { return (static_cast<uint32_t>(key * 0x9E3779B1u) >> shift_) & mask_; }
    void Grow();

    Entry* table_ = nullptr;
    size_t capacity_ = 0;
    size_t mask_ = 0;
    int shift_ = 32;
    size_t size_ = 0;
};

}  // namespace jx

namespace jx {

// A small direct-mapped cache of values per 32-bit key: a colour seen lately is answered from
// it, any other is computed again. It stays in the processor caches where a table of every
// colour of a large image would not, and a dithered or photographic image repeats its colours
// mostly close together.
template <int Bits>
class TRecentColors {
public:
    TRecentColors() : slots_(size_t{1} << Bits, Slot{0, -1}) {}
    // The cached value of key, or -1.
    int32_t Find(uint32_t key) const {
        const Slot& s = slots_[Index(key)];
        return s.key == key ? s.value : -1;
    }
    void Store(uint32_t key, int32_t value) { slots_[Index(key)] = {key, value}; }

private:
    struct Slot {
        uint32_t key;
        int32_t value;
    };
    static size_t Index(uint32_t key) { return static_cast<uint32_t>(key * 0x9E3779B1u) >> (32 - Bits); }
    std::vector<Slot> slots_;
};

}  // namespace jx

namespace jx {

// Morton order of (x, y, z): colours close together get indices close together.
inline constexpr std::array<uint32_t, 256> kMortonSpread = [] {
    std::array<uint32_t, 256> v{};
    for (uint32_t i = 0; i < 256; ++i)
        for (int b = 0; b < 8; ++b) v[i] |= ((i >> b) & 1u) << (3 * b);
    return v;
}();
inline uint32_t MortonIndex(uint8_t x, uint8_t y, uint8_t z) {
    return kMortonSpread[x] << 2 | kMortonSpread[y] << 1 | kMortonSpread[z];
}

// Fresh zero pages for n bytes (large pages where the system grants them), or nullptr.
void* MapZeroPages(size_t n);
void UnmapPages(void* p, size_t n);

// A value per opaque colour, for every one of the 2^24 (x, y, z): nothing is evicted, so each
// colour is looked up once per table. The colours are laid out in Morton order, so that the
// colours of one area of an image, which lie close together, share cache lines and pages, and
// pages no colour reaches are never touched. Every slot starts at 0.
template <typename T>
class TOpaqueColorTable {
public:
    TOpaqueColorTable() : table_(static_cast<T*>(MapZeroPages(kBytes))) {}
    ~TOpaqueColorTable() { UnmapPages(table_, kBytes); }
    TOpaqueColorTable(const TOpaqueColorTable&) = delete;
    TOpaqueColorTable& operator=(const TOpaqueColorTable&) = delete;

    // False when the system had no room for it: the caller does without.
    bool Usable() const { return table_ != nullptr; }
    T& Slot(uint8_t x, uint8_t y, uint8_t z) { return table_[MortonIndex(x, y, z)]; }
    void Prefetch(uint8_t x, uint8_t y, uint8_t z) const { __builtin_prefetch(&table_[MortonIndex(x, y, z)]); }

private:
    static constexpr size_t kBytes = (size_t{1} << 24) * sizeof(T);
    T* table_;
};

}  // namespace jx
