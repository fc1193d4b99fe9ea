#pragma once
// Template bodies of image.h.
#include <new>
#include <string>

#include "imaging/errors.h"
#include "imaging/image.h"

namespace jx {

template <class T>
void ResizeChecked(std::vector<T>& v, int64_t count, const T& fill) {
    if (count < 0 || static_cast<uint64_t>(count) > v.max_size())
        throw ImagingError("Array size out of range: " + std::to_string(count));
    try {
        v.assign(static_cast<size_t>(count), fill);
    } catch (const std::bad_alloc&) {
        throw ImagingError("Out of memory for " + std::to_string(count) + " entries");
    }
}

template <class T>
void GrowChecked(std::vector<T>& v, int64_t count, const T& fill) {
    if (count < 0 || static_cast<uint64_t>(count) > v.max_size())
        throw ImagingError("Array size out of range: " + std::to_string(count));
    if (static_cast<size_t>(count) <= v.size()) return;
    try {
        v.resize(static_cast<size_t>(count), fill);
    } catch (const std::bad_alloc&) {
        throw ImagingError("Out of memory for " + std::to_string(count) + " entries");
    }
}

template <class T>
void AppendChecked(std::vector<T>& v, const T& value) {
    try {
        v.push_back(value);
    } catch (const std::bad_alloc&) {
        throw ImagingError("Out of memory for " + std::to_string(v.size() + 1) + " entries");
    }
}

template <class T>
void TGrid<T>::Resize(int64_t width, int64_t height, const T& fill) {
    CheckImageSize(width, height);
    try {
        data_.assign(static_cast<size_t>(width * height), fill);
    } catch (const std::bad_alloc&) {
        throw ImagingError("Out of memory for an image of " + std::to_string(width) + " x " +
                           std::to_string(height) + " pixels");
    }
    width_ = static_cast<int32_t>(width);
    height_ = static_cast<int32_t>(height);
}

}  // namespace jx
