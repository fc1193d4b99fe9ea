#pragma once
// Turns rows of pixel samples as an image file stores them into bitmap rows,
// and makes the bitmap's pixel format and palettes from the same description.
#include <array>
#include <cstdint>
#include <string>

#include "fileio/bitmap.h"
#include "fileio/errors.h"

namespace jx {

class EColorConversionError : public FileIoError {
public:
    explicit EColorConversionError(const std::string& message) : FileIoError(message) {}
};

// The numbers matter: converter choice tests ranges of them.
enum TSampleScheme : uint8_t {
    ssUnknown = 0,
    ssIndexed = 1,
    ssGray = 2,
    ssGrayAlpha = 3,
    ssRGB = 4,
    ssRGBA = 5,
    ssBGR = 6,
    ssBGRA = 7,
    ssReserved = 8,
    ssCMYK = 9,
    ssLab = 10,
    ssYCbCr = 11,
    ssPhotoYCC = 12,
};

// A set of conversion flags, one bit each.
enum TConvertFlag : uint8_t {
    cfAlpha = 1 << 0,
    cfGamma = 1 << 1,
    cfSwapBytes = 1 << 2,
    cfLightnessByte = 1 << 3,
    cfChromaBias = 1 << 4,
};
using TConvertFlags = uint8_t;

class TColorManager {
public:
    TColorManager();

    // Source and target descriptions. The bits setters accept 1..16, the
    // count setters 1..4; anything else raises and stores nothing.
    void SetSourceSampleBits(uint8_t bits);
    void SetTargetSampleBits(uint8_t bits);
    void SetSourceSampleCount(uint8_t count);
    void SetTargetSampleCount(uint8_t count);
    void SetSourceScheme(TSampleScheme scheme);
    void SetTargetScheme(TSampleScheme scheme);

    uint8_t SourceSampleBits() const { return source_bits_; }
    uint8_t TargetSampleCount() const { return target_count_; }
    bool Changed() const { return changed_; }

    // Written directly by the readers; writing them does not mark a change.
    TConvertFlags SourceFlags = 0;
    TConvertFlags TargetFlags = 0;

    // Gamma of the image data and of the display; the table follows them.
    void SetGamma(float image_gamma, float display_gamma);

    // Side 0 = source, 1 = target.
    TPixelFormat PixelFormatFor(int side) const;

    // Converts Count pixels. Source holds one pointer (interleaved samples)
    // or one per sample (planes), as many as `planes` says. Mask selects
    // pixel i by bit 7 - (i mod 8); unselected pixels leave the target alone
    // and take nothing from the source.
    void ConvertPixelRow(const uint8_t* const* source, int planes, uint8_t* target,
                         uint32_t count, uint8_t mask);

    // Palette from a table of colours (see the formats in the .cpp).
    TPalette MakeColorPalette(const uint8_t* const* data, int data_format, int color_count,
                              bool bgr_order) const;
    TPalette MakeGrayPalette(bool minimum_is_white) const;

    // YCbCr lookup tables, built when a YCbCr or PhotoYCC converter is chosen.
    std::array<float, 3> LumaWeights{0.299f, 0.587f, 0.114f};

private:
    using TRowConverter = void (TColorManager::*)(const uint8_t* const* source, int planes,
                                                  uint8_t* target, uint32_t count, uint8_t mask);

    void SelectRowConverter();
    void BuildGammaTable();
    void BuildYCbCrTables(bool photo_ycc);

    void RowRGBToRGB(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t);
    void RowRGBToBGR(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t);
    void RowBGRToRGB(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t);
    void RowBGRToBGR(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t);
    void RowCMYKToRGB(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t);
    void RowCMYKToBGR(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t);
    void RowLabToRGB(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t);
    void RowLabToBGR(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t);
    void RowYCbCrToRGB(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t);
    void RowYCbCrToBGR(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t);
    void RowPhotoYCCToRGB(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t);
    void RowPhotoYCCToBGR(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t);
    void RowGray(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t);
    void RowIndexedPacked(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t);
    void RowIndexed16To16(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t);
    void RowIndexed16ToPacked(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t);
    void RowIndexedPackedTo16(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t);

    // Shared bodies of the three-channel converters.
    void RowRGBLike(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t, bool source_bgr,
                    bool target_bgr);
    void RowCMYK(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t, bool target_bgr);
    void RowLab(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t, bool target_bgr);
    void RowYCC(const uint8_t* const*, int, uint8_t*, uint32_t, uint8_t, bool target_bgr);

    bool changed_ = true;
    uint8_t source_bits_ = 8;
    uint8_t target_bits_ = 8;
    uint8_t source_count_ = 3;
    uint8_t target_count_ = 3;
    float image_gamma_ = 1.0f;
    float display_gamma_ = 2.2f;
    std::array<uint8_t, 256> gamma_table_{};
    std::array<int32_t, 256> cr_to_red_{};
    std::array<int32_t, 256> cb_to_blue_{};
    std::array<int32_t, 256> cr_to_green_{};
    std::array<int32_t, 256> cb_to_green_{};
    TSampleScheme source_scheme_ = ssRGB;
    TSampleScheme target_scheme_ = ssBGR;
    TRowConverter row_converter_ = nullptr;
};

}  // namespace jx
