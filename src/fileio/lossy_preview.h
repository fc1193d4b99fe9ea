#pragma once
// The lossy quality preview without its window: the settings of its JPEG and WebP pages, one
// render (encode the source image into the test file, show the decoded result in WorkingImage)
// and the save that copies the test file to its destination.
#include <cstdint>
#include <functional>
#include <string>

#include "imaging/engine_state.h"
#include "platform/cancel_flag.h"

namespace jx {

struct TLossySettings {
    // JPEG page
    int32_t JpegQuality = 75;
    int32_t ChromaQuality = 37;  // the chroma bar, 1..JpegQuality
    int32_t Space = 1;           // "RGB", "YUV"
    int32_t Chroma = 1;          // "Frequency", "Spatial"
    int32_t Subsampling = 2;     // "4:4:4", "4:2:2", "4:2:0"
    bool Progressive = true;
    int32_t QuantTable = 3;
    // WebP page
    std::string Preset = "default";
    int32_t WebpQuality = 75;
    int32_t AlphaQuality = 100;
};

// The chroma bar follows the quality bar: maximum the quality, position half of it.
void FollowJpegQuality(TLossySettings& s, int32_t quality);

// One channel over the matte: round(src * a / 255 + (1 - a / 255) * matte), half to even.
uint8_t MatteBlend(uint8_t src, uint8_t alpha, uint8_t matte);

struct TLossyJob {
    bool Webp = false;           // the page: JPEG or WebP
    std::string SessionFolder;   // the test file and the exchange files live here
    std::string TestFile;        // SessionFolder + "test.jpg" or "test.webp"
    const CancelFlag* Cancel = nullptr;
    std::function<void()> Pump;
};

// The test file's name for the page.
std::string LossyTestFile(const std::string& sessionFolder, bool webp);

// Encodes SourceImage by the settings (JPEG: blended over BackgroundColor, grey images as grey)
// into job.TestFile and puts the decoded pixels into WorkingImage (JPEG: opaque; WebP: the decoded
// alpha when the image has alpha). Returns the encoded size. Failures raise FileIoError and leave
// no test file.
int32_t RenderLossy(EngineState& state, const TLossySettings& settings, const TLossyJob& job);

// Copies the test file over destination through the file-replace routine. A missing test file
// raises FileIoError and writes nothing.
void SaveLossyTestFile(const std::string& testFile, const std::string& destination);

}  // namespace jx
