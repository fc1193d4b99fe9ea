#pragma once
// The trial search's view of the PNG encoder: one pure, thread-safe call per trial.
#include <cstdint>
#include <functional>
#include <vector>

#include "pngopt/output.h"
#include "pngenc/png_image.h"

namespace jx::quillox {

struct EncodeSettings {
    uint8_t filterSet = 0x1F;  // bit 0 None .. bit 4 Paeth
    int level = 9;
    int memLevel = 9;
    int strategy = 0;
    int windowBits = 15;
    int heuristic = 2;
    bool fingerprintOnly = false;
    int32_t maxIdatSize = 0xFFFFF;
};

struct EncodedPng {
    std::vector<uint8_t> bytes;  // the whole file
    uint32_t idatSize = 0;       // data length of the first IDAT chunk
    uint32_t fingerprint = 0;    // equal fingerprints mean equal row-filter choices
};

using PngEncodeFn = std::function<EncodedPng(const OutputImage&, const EncodeSettings&)>;

// The project's row-filter encoder (pngenc) with all its settings.
EncodedPng EncodePngJx(const OutputImage& image, const EncodeSettings& settings);
// The encoder the program uses.
PngEncodeFn DefaultPngEncoder();
// Whether encode is EncodePngJx, whose trials the search may then run in its own faster way.
bool IsPngEncoderJx(const PngEncodeFn& encode);

// The encoder's image object for an output image, with the trial's settings.
PngImage MakeEncoderImage(const OutputImage& image, const EncodeSettings& settings);

}  // namespace jx::quillox
