#pragma once
// Stand-in decoder until the file readers land: decodes what Qt's image plugins read (PNG, BMP,
// GIF, JPEG) into pixel records. OpenImage is the only caller; replace this file, not its caller.
#include <QString>

#include "imaging/engine_state.h"

namespace jx {

struct TDecodedImage {
    TPixelImage Pixels;  // R, G, B, A; c1..c3 filled later by the colour-space pass
    bool HasAlpha = false;
};

// Throws ImagingError with the reason when the file cannot be decoded.
TDecodedImage DecodeWithQt(const QString& fileName);

}  // namespace jx
