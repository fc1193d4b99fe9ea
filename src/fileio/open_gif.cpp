// GIF files through giflib: every frame painted in order onto the logical screen.
#include <gif_lib.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

#include "fileio/errors.h"
#include "fileio/open_decoders.h"

namespace jx {

namespace {

std::string GifMessage(int code) {
    // The file was open and readable, so a read that fails has run into its end.
    if (code == D_GIF_ERR_READ_FAILED) return "the file is cut short";
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

// LZW writes at most one 4096-pixel string for every 12-bit code, so a frame or a screen larger
// than the rest of the file could paint is a damaged header, refused before it is allocated.
constexpr uint64_t kMaxLzwPixelsPerByte = 2731;
constexpr uint64_t kLzwSlackPixels = 1 << 16;

[[noreturn]] void Fail(const GifFileType* gif) { throw FileIoError("GIF: " + GifMessage(gif->Error)); }

// Passes over the rest of the current frame's data blocks without decoding them.
void SkipImageData(GifFileType* gif) {
    GifByteType* block = nullptr;
    int codeSize = 0;
    if (DGifGetCode(gif, &codeSize, &block) != GIF_OK) Fail(gif);
    while (block)
        if (DGifGetCodeNext(gif, &block) != GIF_OK) Fail(gif);
}

// Passes over the rest of an extension's data blocks, from the one in hand.
void SkipExtensionBlocks(GifFileType* gif, GifByteType* block) {
    while (block)
        if (DGifGetExtensionNext(gif, &block) != GIF_OK) Fail(gif);
}

}  // namespace

int CountGifFrames(const std::string& fileName) {
    int error = 0;
    std::unique_ptr<GifFileType, TGifCloser> gif(DGifOpenFileName(fileName.c_str(), &error));
    if (!gif) throw FileIoError("GIF: " + GifMessage(error));
    int frames = 0;
    for (GifRecordType record = UNDEFINED_RECORD_TYPE; record != TERMINATE_RECORD_TYPE;) {
        if (DGifGetRecordType(gif.get(), &record) != GIF_OK) Fail(gif.get());
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) != GIF_OK) Fail(gif.get());
            SkipExtensionBlocks(gif.get(), block);
        } else if (record == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(gif.get()) != GIF_OK) Fail(gif.get());
            ++frames;
            SkipImageData(gif.get());
        }
    }
    return frames;
}

TDecodedImage DecodeGifFile(const std::string& fileName) {
    std::error_code ec;
    const uint64_t fileSize = std::filesystem::file_size(fileName, ec);
    int error = 0;
    std::unique_ptr<GifFileType, TGifCloser> gif(DGifOpenFileName(fileName.c_str(), &error));
    if (!gif) throw FileIoError("GIF: " + GifMessage(error));
    const int64_t sw = gif->SWidth, sh = gif->SHeight;
    if (sw <= 0 || sh <= 0) throw FileIoError("GIF: bad screen size");
    if (!ec && uint64_t(sw) * uint64_t(sh) > fileSize * kMaxLzwPixelsPerByte + kLzwSlackPixels)
        throw FileIoError("GIF: file is truncated (the screen is larger than the file can paint)");

    TDecodedImage out;
    try {
        out.Pixels.Resize(sw, sh);  // all 0: nothing painted yet
    } catch (const ImagingError& e) {
        throw FileIoError(std::string("GIF: ") + e.what());
    }
    // Frames are read one at a time, a row at a time, and only their part inside the screen is
    // kept; the first graphic control block since the last frame applies to the next one.
    std::vector<GifByteType> line;
    int transparent = NO_TRANSPARENT_COLOR;
    bool haveControl = false;
    for (GifRecordType record = UNDEFINED_RECORD_TYPE; record != TERMINATE_RECORD_TYPE;) {
        if (DGifGetRecordType(gif.get(), &record) != GIF_OK) Fail(gif.get());
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) != GIF_OK) Fail(gif.get());
            if (code == GRAPHICS_EXT_FUNC_CODE && block && !haveControl) {
                GraphicsControlBlock gcb;
                if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK) {
                    haveControl = true;
                    transparent = gcb.TransparentColor;
                }
            }
            SkipExtensionBlocks(gif.get(), block);
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(gif.get()) != GIF_OK) Fail(gif.get());
        const GifImageDesc& d = gif->Image;
        const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
        const int colors = map ? map->ColorCount : 0;
        if (transparent != NO_TRANSPARENT_COLOR) out.HasAlpha = true;
        const int key = transparent;
        transparent = NO_TRANSPARENT_COLOR;
        haveControl = false;
        const uint64_t framePixels = uint64_t(std::max(d.Width, 0)) * uint64_t(std::max(d.Height, 0));
        if (!ec && framePixels > fileSize * kMaxLzwPixelsPerByte + kLzwSlackPixels)
            throw FileIoError("GIF: file is truncated (a frame is larger than the file can hold)");
        const bool inside = d.Width > 0 && d.Height > 0 && d.Left < sw && d.Top < sh;
        if (!inside) {
            // Nothing of it shows: its data is passed over undecoded.
            SkipImageData(gif.get());
            continue;
        }
        line.resize(size_t(d.Width));
        // Interlaced frames store their rows in four passes.
        static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
        const int passes = d.Interlace ? 4 : 1;
        for (int pass = 0; pass < passes; ++pass) {
            for (int64_t fy = d.Interlace ? kStart[pass] : 0; fy < d.Height; fy += d.Interlace ? kStep[pass] : 1) {
                const int64_t y = int64_t{d.Top} + fy;
                if (y >= sh && !d.Interlace) {
                    // The rest lies below the screen.
                    SkipImageData(gif.get());
                    break;
                }
                if (DGifGetLine(gif.get(), line.data(), d.Width) != GIF_OK) Fail(gif.get());
                if (y >= sh) continue;
                TPixelRec* row = out.Pixels[static_cast<int32_t>(y)];
                for (int64_t fx = 0; fx < d.Width; ++fx) {
                    const int64_t x = int64_t{d.Left} + fx;
                    if (x < 0 || x >= sw) continue;
                    const int idx = line[size_t(fx)];
                    if (idx == key) continue;
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
    }
    if (!out.HasAlpha)
        for (TPixelRec& p : out.Pixels.Vector()) p.A = 255;
    out.SourceBits = 8;
    return out;
}

}  // namespace jx
