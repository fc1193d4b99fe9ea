#pragma once
// What the picture open and save dialogs compute without a window: which of the save dialog's
// option controls a filter shows, and the preview of a picture file, decoded at a capped size and
// composed over the checkerboard at the width of the preview box.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "imaging/pixel.h"
#include "platform/cancel_flag.h"

namespace jx {

// The save dialog's option controls by filter index (1 PNG .. 6 JPEG).
struct TSaveOptionPanels {
    bool ForcedRgb = false;     // "Forced RGB"
    bool Optimization = false;  // "PNG optimization"
    bool Lossy = false;         // "Lossy"
    friend bool operator==(const TSaveOptionPanels&, const TSaveOptionPanels&) = default;
};
TSaveOptionPanels SaveOptionPanels(int32_t filterIndex);

// A preview picture: B, G, R, A rows, top first, no padding.
struct TPreviewImage {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint8_t> Bgra;
    // The picture's size in its file (larger than Width x Height when the decode was capped).
    int32_t FileWidth = 0;
    int32_t FileHeight = 0;
    bool Empty() const { return Width <= 0 || Height <= 0; }
};

struct TPreviewLimits {
    // Decoded pictures hold at most this many pixels a side: larger JPEG, PNG and WebP files
    // are decoded scaled down (libjpeg's scaling, every n-th PNG row and column, dwebp -resize).
    int32_t MaxSide = 1024;
    // Other formats are decoded whole only up to this many pixels; larger ones get no preview.
    int64_t MaxFullDecodePixels = int64_t(2048) * 2048;
    int64_t MaxFileBytes = int64_t(256) << 20;
    // dwebp is ended after this long, so a stuck decoder cannot hold the dialog.
    int ToolTimeLimitMs = 3000;
    std::string SessionFolder;  // exchange files of dwebp; empty: a private folder
    const CancelFlag* Cancel = nullptr;
    std::function<void()> Pump;
};

// The picture size its header gives; false when the file is no picture this reads.
bool ProbePictureSize(const std::string& fileName, int32_t& width, int32_t& height);

// Loads the preview of fileName by its lower-cased extension. ".dib" and unknown extensions give
// an empty picture. A file that cannot be read, or is too large for its format's decoder, raises
// FileIoError. A 32-bit picture whose alpha is 0 everywhere comes back opaque.
TPreviewImage LoadPreview(const std::string& fileName, const TPreviewLimits& limits = {});

// An icon or cursor file's preview, decoded in memory: the frame that, visited in order from a
// start of 0 x 0 x 0, last had a larger width, height or depth than the choice so far. Frames are
// read as the icon dialog reads them, so a file it refuses has no preview. Bitmap frames take
// their alpha from the AND mask (32-bit frames from their own alpha). fileName only names the
// file in messages.
TPreviewImage DecodeIconPreview(std::span<const uint8_t> file, const TPreviewLimits& limits = {},
                                const std::string& fileName = {});

// The size a preview of width x height takes in a box: scaled by width alone, never enlarged.
void PreviewScaledSize(int32_t width, int32_t height, int32_t boxWidth, int32_t& newWidth, int32_t& newHeight);

// The preview scaled to the box width (Lanczos3, alpha resampled apart from the colour) and
// composed over the checkerboard of cellSize pixels: even cells grid[0], odd cells grid[1].
// The result is opaque.
TPreviewImage RenderPreview(const TPreviewImage& preview, int32_t boxWidth, int32_t cellSize, const TPixelRec grid[2]);

}  // namespace jx
