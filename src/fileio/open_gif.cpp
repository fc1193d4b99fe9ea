// GIF files through giflib: every frame painted in order onto the logical screen.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "fileio/errors.h"
#include "fileio/open_decoders.h"
#include "platform/read_file.h"

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

// Reads the records up to the terminator. An extension goes to onExtension (its code and first
// block), its other blocks passed over; at an image descriptor onImage reads the descriptor and
// the frame's data itself.
template <class OnExtension, class OnImage>
void ForEachGifRecord(GifFileType* gif, OnExtension&& onExtension, OnImage&& onImage) {
    for (GifRecordType record = UNDEFINED_RECORD_TYPE; record != TERMINATE_RECORD_TYPE;) {
        if (DGifGetRecordType(gif, &record) != GIF_OK) Fail(gif);
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) != GIF_OK) Fail(gif);
            onExtension(code, block);
            SkipExtensionBlocks(gif, block);
        } else if (record == IMAGE_DESC_RECORD_TYPE) {
            onImage();
        }
    }
}

}  // namespace

int CountGifFrames(const std::string& fileName) {
    int error = 0;
    std::unique_ptr<GifFileType, TGifCloser> gif(DGifOpenFileName(fileName.c_str(), &error));
    if (!gif) throw FileIoError("GIF: " + GifMessage(error));
    int frames = 0;
    ForEachGifRecord(gif.get(), [](int, GifByteType*) {}, [&] {
        if (DGifGetImageDesc(gif.get()) != GIF_OK) Fail(gif.get());
        ++frames;
        SkipImageData(gif.get());
    });
    return frames;
}

namespace {

// The file in memory, so that the reader knows where each frame's data begins and ends.
struct TGifMemory {
    std::vector<uint8_t> Bytes;
    size_t Pos = 0;
};

int ReadGifMemory(GifFileType* gif, GifByteType* out, int count) {
    auto* m = static_cast<TGifMemory*>(gif->UserData);
    const size_t n = std::min(size_t(std::max(count, 0)), m->Bytes.size() - m->Pos);
    if (n > 0) std::memcpy(out, m->Bytes.data() + m->Pos, n);
    m->Pos += n;
    return int(n);
}

// Where the data blocks that begin at pos end, past their terminator (or the file's end).
size_t EndOfDataBlocks(const std::vector<uint8_t>& bytes, size_t pos) {
    while (pos < bytes.size()) {
        const size_t length = bytes[pos];
        pos += 1 + length;
        if (length == 0) break;
    }
    return std::min(pos, bytes.size());
}

std::string SizeText(int64_t w, int64_t h) { return std::to_string(w) + "x" + std::to_string(h); }

// Paints the frames in order onto the screen `out` holds. Frames are read one at a time, a row at
// a time, and only their part inside the screen is kept; the first graphic control block since
// the last frame applies to the next one.
class TGifFrameReader {
public:
    TGifFrameReader(TGifMemory& memory, GifFileType* gif, TDecodedImage& out)
        : memory_(memory), gif_(gif), out_(out), fileSize_(memory.Bytes.size()), sw_(out.Pixels.Width()),
          sh_(out.Pixels.Height()) {}

    void Extension(int code, const GifByteType* block) {
        if (code != GRAPHICS_EXT_FUNC_CODE || !block || haveControl_) return;
        GraphicsControlBlock gcb;
        if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK) {
            haveControl_ = true;
            transparent_ = gcb.TransparentColor;
        }
    }

    void Frame() {
        ++frame_;
        // The descriptor as stored. The decoder is told of one row more than it has, so that the
        // data's going on past the frame shows on the one pass that paints it.
        const size_t descriptor = memory_.Pos;
        const bool described = fileSize_ - descriptor >= 9;
        const uint16_t storedHeight =
            described ? uint16_t(memory_.Bytes[descriptor + 6] | memory_.Bytes[descriptor + 7] << 8) : 0;
        const bool probeRow = described && storedHeight > 0 && storedHeight < 0xFFFF;
        if (probeRow) StoreHeight(descriptor, uint16_t(storedHeight + 1));
        const int describedOk = DGifGetImageDesc(gif_);
        if (probeRow) StoreHeight(descriptor, storedHeight);
        if (describedOk != GIF_OK) Fail(gif_);
        const size_t dataStart = memory_.Pos;
        const GifImageDesc& d = gif_->Image;
        const int64_t left = d.Left, top = d.Top, fw = d.Width;
        const int64_t fh = probeRow ? storedHeight : d.Height;
        if (transparent_ != NO_TRANSPARENT_COLOR) out_.HasAlpha = true;
        const int key = transparent_;
        transparent_ = NO_TRANSPARENT_COLOR;
        haveControl_ = false;
        const uint64_t framePixels = uint64_t(std::max<int64_t>(fw, 0)) * uint64_t(std::max<int64_t>(fh, 0));
        if (framePixels > fileSize_ * kMaxLzwPixelsPerByte + kLzwSlackPixels)
            throw FileIoError("GIF: file is truncated (a frame is larger than the file can hold)");
        const std::string name = "frame " + std::to_string(frame_) + " (" + SizeText(fw, fh) + " at " +
                                 std::to_string(left) + "," + std::to_string(top) + ")";
        if (fw <= 0 || fh <= 0)
            out_.Warnings.push_back(name + " has no area (its width or height may be damaged)");
        else if (left + fw > sw_ || top + fh > sh_)
            out_.Warnings.push_back(name + " lies outside the " + SizeText(sw_, sh_) +
                                    " screen (the frame's or the screen's size may be damaged)");
        // A frame of which nothing shows has its data passed over undecoded.
        if (fw > 0 && fh > 0 && left < sw_ && top < sh_) {
            line_.resize(size_t(fw));
            const bool wholeFrame = PaintRows(d, fh, key);
            // A whole row decoded past the frame: the data holds more pixels than its size.
            // Whatever the decoder made of that row, the frame's blocks end where their
            // terminator says.
            if (probeRow && wholeFrame && DGifGetLine(gif_, line_.data(), int(fw)) == GIF_OK)
                out_.Warnings.push_back(name + ": its image data holds more pixels than its size (the width or "
                                               "height may be damaged)");
        }
        memory_.Pos = EndOfDataBlocks(memory_.Bytes, dataStart);
    }

private:
    void StoreHeight(size_t descriptor, uint16_t height) {
        memory_.Bytes[descriptor + 6] = uint8_t(height & 0xFF);
        memory_.Bytes[descriptor + 7] = uint8_t(height >> 8);
    }

    // The frame's rows of height fh onto the screen; false when its rest lay below the screen and
    // was not read.
    bool PaintRows(const GifImageDesc& d, int64_t fh, int key) {
        const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif_->SColorMap;
        const int colors = map ? map->ColorCount : 0;
        const int64_t left = d.Left, top = d.Top, fw = d.Width;
        // Interlaced frames store their rows in four passes.
        static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
        const int passes = d.Interlace ? 4 : 1;
        for (int pass = 0; pass < passes; ++pass) {
            for (int64_t fy = d.Interlace ? kStart[pass] : 0; fy < fh; fy += d.Interlace ? kStep[pass] : 1) {
                const int64_t y = top + fy;
                if (y >= sh_ && !d.Interlace) return false;  // the rest lies below the screen
                if (DGifGetLine(gif_, line_.data(), int(fw)) != GIF_OK) Fail(gif_);
                if (y >= sh_) continue;
                TPixelRec* row = out_.Pixels[static_cast<int32_t>(y)];
                for (int64_t fx = 0; fx < fw; ++fx) {
                    const int64_t x = left + fx;
                    if (x < 0 || x >= sw_) continue;
                    const int idx = line_[size_t(fx)];
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
        return true;
    }

    TGifMemory& memory_;
    GifFileType* gif_;
    TDecodedImage& out_;
    const uint64_t fileSize_;
    const int64_t sw_, sh_;
    std::vector<GifByteType> line_;
    int transparent_ = NO_TRANSPARENT_COLOR;
    bool haveControl_ = false;
    int frame_ = 0;
};

}  // namespace

TDecodedImage DecodeGifFile(const std::string& fileName) {
    TGifMemory memory;
    const FileReadFailure failure = ReadWholeFile(fileName, UINT64_MAX, memory.Bytes);
    if (failure != FileReadFailure::None) throw FileIoError("GIF: " + GifMessage(D_GIF_ERR_OPEN_FAILED));
    const uint64_t fileSize = memory.Bytes.size();
    int error = 0;
    std::unique_ptr<GifFileType, TGifCloser> gif(DGifOpen(&memory, ReadGifMemory, &error));
    // Read from memory, a header cut short is told as a missing screen descriptor.
    if (!gif && error == D_GIF_ERR_NO_SCRN_DSCR && fileSize < 13) error = D_GIF_ERR_READ_FAILED;
    if (!gif) throw FileIoError("GIF: " + GifMessage(error));
    const int64_t sw = gif->SWidth, sh = gif->SHeight;
    if (sw <= 0 || sh <= 0) throw FileIoError("GIF: bad screen size");
    if (uint64_t(sw) * uint64_t(sh) > fileSize * kMaxLzwPixelsPerByte + kLzwSlackPixels)
        throw FileIoError("GIF: file is truncated (the screen is larger than the file can paint)");

    TDecodedImage out;
    try {
        out.Pixels.Resize(sw, sh);  // all 0: nothing painted yet
    } catch (const ImagingError& e) {
        throw FileIoError(std::string("GIF: ") + e.what());
    }
    TGifFrameReader reader(memory, gif.get(), out);
    ForEachGifRecord(gif.get(), [&](int code, GifByteType* block) { reader.Extension(code, block); },
                     [&] { reader.Frame(); });
    if (!out.HasAlpha)
        for (TPixelRec& p : out.Pixels.Vector()) p.A = 255;
    out.SourceBits = 8;
    return out;
}

}  // namespace jx
