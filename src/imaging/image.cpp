#include "imaging/image.h"

#include <string>

#include "imaging/errors.h"

namespace jx {

void CheckImageSize(int64_t width, int64_t height) {
    if (width < 0 || height < 0)
        throw ImagingError("Invalid image size: " + std::to_string(width) + " x " + std::to_string(height));
    // Each side alone first, so the product cannot overflow.
    if (width > kMaxImagePixels || height > kMaxImagePixels || width * height > kMaxImagePixels)
        throw ImagingError("Image too large: " + std::to_string(width) + " x " + std::to_string(height) +
                           " pixels (at most " + std::to_string(kMaxImagePixels) + " pixels)");
}

}  // namespace jx
