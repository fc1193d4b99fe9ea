#pragma once
// The program's picture registry: every picture the program loads by file name (the background
// picture) finds its class here by extension, and the open dialog starts from its filter.
#include <string>

#include "fileio/format_graphic.h"

namespace jx {

// Built on first use, in the start-up order: the bitmap, PNG, GIF and JPEG-library readers, the
// format library's list (TGA, PSD, PPM/PGM/PBM), then the outside tools' WebP and JPEG.
const TPictureRegistry& PictureFormats();

// "All (*.a;*.b)|*.a;*.b|" then one "Description (*.x)|*.x" pair per registered extension, in
// registration order; an extension registered twice is listed once.
std::string GraphicFilter(const TPictureRegistry& registry);

}  // namespace jx
