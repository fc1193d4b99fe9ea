#pragma once
// Large blocks on transparent huge pages. Each new 4 KB page costs a fault, and on a virtual
// machine a fault can take 10 us: the half-gigabyte of fresh buffers that opening a
// 16-megapixel photograph needs would spend about a second in faults. Marking a block as
// huge-page memory before its first touch cuts the faults 512-fold where the system allows
// it, and changes nothing where it does not. Every program's operator new does this for
// blocks of kLargeBlockBytes and more (large_pages_new.cpp); the sanitizer builds keep their
// own allocator.
#include <cstddef>

namespace jx {

inline constexpr size_t kLargePageBytes = size_t{2} << 20;
inline constexpr size_t kLargeBlockBytes = size_t{1} << 20;
// Blocks below this size are rounded up to whole large pages.
inline constexpr size_t kWholePagesBelow = size_t{8} << 20;

// Asks for huge pages over the whole 2 MB pages inside [p, p + n); a hint, never an error.
void AdviseLargePages(void* p, size_t n);

}  // namespace jx
