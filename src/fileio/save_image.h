#pragma once
// Saving the quantized image by the save dialog's filter: PNG through the optimisation chain,
// GIF as stacked frames of at most 255 colours, BMP, TGA, WebP lossless; lossy WebP and JPEG are
// handed to the quality dialog.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fileio/bitmap.h"
#include "fileio/png_chain.h"
#include "imaging/engine_state.h"

namespace jx {

enum TSaveFilter : int32_t { sfPng = 1, sfGif = 2, sfBmp = 3, sfTga = 4, sfWebp = 5, sfJpg = 6 };

// What the save dialog and the options leave for one save.
struct TSaveRequest {
    std::string fileName;     // as chosen; its extension is forced to the filter's
    int32_t filterIndex = sfPng;
    bool webpLossy = false;   // SaveWebpLossy
    PngChainJob png;          // session folder, PNG options, cancel flag, event pump
    std::function<void()> pump;  // pending events, run during GIF building
};

struct TSaveResult {
    std::string path;          // folder + name with the forced extension
    std::string status;        // status panel 4: "Write (gif): N bytes", ...
    std::string infoLine;      // quantizer settings info box: "gif: N bytes", ...
    bool qualityDialog = false;  // JPEG or lossy WebP: the caller shows the quality dialog for `path`
    bool qualityDialogWebp = false;
    PngChainResult png;        // the PNG chain's own report (status and info line copied above)
};

// The file name with the filter's extension in place of its own (or appended).
std::string ForcedSaveName(const std::string& fileName, int32_t filterIndex);

// Largest width and height each format takes; a larger image is refused before anything runs.
int32_t MaxSaveSide(int32_t filterIndex);

// Writes WorkingImage by the request. Nothing happens without an image. Every writer fills a
// temporary name and renames it over the destination; failures raise FileIoError and leave an
// old destination as it was. The palette is sorted back into the view's order afterwards.
TSaveResult SaveImage(EngineState& state, const TSaveRequest& request);

// The working image as a bitmap: 4 or 8 bits with the palette (sorted by sortType) when it has
// 1..16 or 17..256 entries and at most one is translucent, else 24 bits (32 with alpha).
void BufferToBitmap(EngineState& state, TBitmap& bitmap, int32_t sortType);

// The bitmap as a BMP file (4, 8, 24 or 32 bits, bottom-up rows).
std::vector<uint8_t> EncodeBmp(const TBitmap& bitmap);

// One GIF frame as the writer builds it.
struct TGifFrame {
    int32_t left = 0, top = 0, width = 0, height = 0;
    std::vector<uint8_t> colors;   // R, G, B per entry; entries a power of two, 2..256
    std::vector<uint8_t> pixels;   // width * height indices
    bool hasControl = false;       // graphic control extension
    int32_t transparent = -1;      // index, or -1
    int32_t disposal = 0;
    int32_t delay = 0;             // hundredths of a second
};

// The frames of the GIF stack for the working image (the palette sorted by colour; true colour
// uses the whole colour list), handed to `emit` one at a time so that a long colour list never
// holds all its frames at once. Frames that would show nothing are left out.
void BuildGifFrames(EngineState& state, const std::function<void(const TGifFrame&)>& emit,
                    const std::function<void()>& pump = {});
std::vector<TGifFrame> BuildGifFrames(EngineState& state);

// Writes frames as a GIF file of the given screen size through the GIF library.
class TGifWriter {
public:
    // shownName: the name messages give (the destination, while path is its temporary).
    TGifWriter(const std::string& path, int32_t width, int32_t height, const std::string& shownName = {});
    ~TGifWriter();
    TGifWriter(const TGifWriter&) = delete;
    TGifWriter& operator=(const TGifWriter&) = delete;
    void Add(const TGifFrame& frame);
    void Close();

private:
    [[noreturn]] void Fail(const std::string& what);
    std::string path_;
    int32_t width_, height_;
    void* gif_ = nullptr;
};

}  // namespace jx
