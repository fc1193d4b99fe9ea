// GIF files through giflib: every frame painted in order onto the logical screen.
#include <gif_lib.h>

#include <memory>

#include "fileio/errors.h"
#include "fileio/open_decoders.h"

namespace jx {

namespace {

std::string GifMessage(int code) {
    const char* text = GifErrorString(code);
    // giflib leaves the code at 0 when the data itself ended or made no sense.
    if (code == 0 || !text) return "the file is damaged or cut short";
    return text;
}

struct TGifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

}  // namespace

TDecodedImage DecodeGifFile(const std::string& fileName) {
    int error = 0;
    std::unique_ptr<GifFileType, TGifCloser> gif(DGifOpenFileName(fileName.c_str(), &error));
    if (!gif) throw FileIoError("GIF: " + GifMessage(error));
    if (DGifSlurp(gif.get()) != GIF_OK) throw FileIoError("GIF: " + GifMessage(gif->Error));
    const int64_t sw = gif->SWidth, sh = gif->SHeight;
    if (sw <= 0 || sh <= 0) throw FileIoError("GIF: bad screen size");

    TDecodedImage out;
    try {
        out.Pixels.Resize(sw, sh);  // all 0: nothing painted yet
    } catch (const ImagingError& e) {
        throw FileIoError(std::string("GIF: ") + e.what());
    }
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& frame = gif->SavedImages[i];
        const GifImageDesc& d = frame.ImageDesc;
        const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
        const int colors = map ? map->ColorCount : 0;
        int transparent = NO_TRANSPARENT_COLOR;
        GraphicsControlBlock gcb;
        if (DGifSavedExtensionToGCB(gif.get(), i, &gcb) == GIF_OK && gcb.TransparentColor != NO_TRANSPARENT_COLOR) {
            transparent = gcb.TransparentColor;
            out.HasAlpha = true;
        }
        if (!frame.RasterBits || d.Width <= 0 || d.Height <= 0) continue;
        // Frames may lie partly or wholly outside the screen: only the part inside is painted.
        for (int64_t fy = 0; fy < d.Height; ++fy) {
            const int64_t y = int64_t{d.Top} + fy;
            if (y < 0 || y >= sh) continue;
            const GifByteType* src = frame.RasterBits + fy * d.Width;
            TPixelRec* row = out.Pixels[static_cast<int32_t>(y)];
            for (int64_t fx = 0; fx < d.Width; ++fx) {
                const int64_t x = int64_t{d.Left} + fx;
                if (x < 0 || x >= sw) continue;
                const int idx = src[fx];
                if (idx == transparent) continue;
                TPixelRec& p = row[x];
                // An index past the colour map paints black.
                if (idx < colors) {
                    p.R = map->Colors[idx].Red;
                    p.G = map->Colors[idx].Green;
                    p.B = map->Colors[idx].Blue;
                } else {
                    p.R = p.G = p.B = 0;
                }
                p.A = 255;
            }
        }
    }
    if (!out.HasAlpha)
        for (TPixelRec& p : out.Pixels.Vector()) p.A = 255;
    out.SourceBits = 8;
    return out;
}

}  // namespace jx
