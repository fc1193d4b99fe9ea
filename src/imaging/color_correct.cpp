#include "imaging/color_correct.h"

#include <string>

#include "imaging/errors.h"

namespace jx {

TPixelImage ColorCorrected(const TPixelImage& source, const TChannelThresholds& t) {
    for (size_t c = 0; c < 4; ++c) {
        if (t.Lo[c] < 0 || t.Lo[c] > 127 || t.Hi[c] < 128 || t.Hi[c] > 255)
            throw ImagingError("Color correction thresholds out of range: " + std::to_string(t.Lo[c]) + ".." +
                               std::to_string(t.Hi[c]));
    }
    TPixelImage out = source;
    TPixelRec* px = out.Data();
    for (int64_t i = 0, n = out.Count(); i < n; ++i) {
        uint8_t* ch[4] = {&px[i].R, &px[i].G, &px[i].B, &px[i].A};
        for (size_t c = 0; c < 4; ++c)
            if (*ch[c] < t.Lo[c]) *ch[c] = 0;
        for (size_t c = 0; c < 4; ++c)
            if (*ch[c] > t.Hi[c]) *ch[c] = 255;
    }
    return out;
}

}  // namespace jx
