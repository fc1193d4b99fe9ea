#pragma once
// Plain two-dimensional arrays for images, masks and maps, rows first.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace jx {

// Largest pixel count the engine takes (16384 x 16384): every per-pixel array, the colour list
// included, stays addressable with int32 indices and within reasonable memory.
inline constexpr int64_t kMaxImagePixels = int64_t{1} << 28;

// Checks a width and height that come from a file or a user, in 64 bits; raises ImagingError
// with a clear message when negative or too large.
void CheckImageSize(int64_t width, int64_t height);

// Resizes a vector, turning an allocation failure into ImagingError.
template <class T>
void ResizeChecked(std::vector<T>& v, int64_t count, const T& fill = T{});
// Grows (never shrinks) a vector to count, keeping its contents; new elements are fill.
template <class T>
void GrowChecked(std::vector<T>& v, int64_t count, const T& fill = T{});
// push_back, turning an allocation failure into ImagingError.
template <class T>
void AppendChecked(std::vector<T>& v, const T& value);

template <class T>
class TGrid {
public:
    TGrid() = default;
    TGrid(int64_t width, int64_t height, const T& fill = T{}) { Resize(width, height, fill); }

    // Every element becomes fill; raises ImagingError for a bad or too large size.
    void Resize(int64_t width, int64_t height, const T& fill = T{});
    void Clear() {
        data_.clear();
        data_.shrink_to_fit();
        width_ = height_ = 0;
    }

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    int64_t Count() const { return int64_t{width_} * height_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }
    bool SameShape(const TGrid& o) const { return width_ == o.width_ && height_ == o.height_; }

    // grid[y][x]
    T* operator[](int32_t y) { return data_.data() + static_cast<size_t>(y) * static_cast<size_t>(width_); }
    const T* operator[](int32_t y) const {
        return data_.data() + static_cast<size_t>(y) * static_cast<size_t>(width_);
    }
    T* Data() { return data_.data(); }
    const T* Data() const { return data_.data(); }
    std::vector<T>& Vector() { return data_; }
    const std::vector<T>& Vector() const { return data_; }

    bool operator==(const TGrid& o) const = default;

private:
    int32_t width_ = 0;
    int32_t height_ = 0;
    std::vector<T> data_;
};

}  // namespace jx

#include "imaging/image_impl.h"
