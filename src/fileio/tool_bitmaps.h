#pragma once
// WebP and JPEG pictures whose files the outside tools read and write: dwebp and cwebp for WebP,
// cjpeg for writing JPEG (reading goes through libjpeg). Saving reloads the encoded file, so the
// bitmap then shows the lossy result.
#include <cstdint>
#include <functional>
#include <string>

#include "fileio/bitmap.h"
#include "fileio/format_graphic.h"
#include "platform/cancel_flag.h"

namespace jx {

class EWEBPError : public EInvalidGraphic {
public:
    explicit EWEBPError(const std::string& message) : EInvalidGraphic(message) {}
};

class EJPEGError : public EInvalidGraphic {
public:
    explicit EJPEGError(const std::string& message) : EInvalidGraphic(message) {}
};

// What both classes share: the folder of their exchange files and how a tool run is watched.
class TToolBitmap : public TBitmap {
public:
    // Exchange files go to `sessionFolder`, or to a private folder of their own when it is empty
    // (the tools are then found on PATH, else they are sessionFolder + name).
    explicit TToolBitmap(std::string sessionFolder);

    const CancelFlag* Cancel = nullptr;  // a set flag makes the tool runs fail
    std::function<void()> Pump;          // the caller's event processing while a tool runs
    int32_t EncodedSize = 0;             // bytes of the file the last save wrote
    // A decoder still running after this long is ended, so a hung tool cannot hang the program.
    int DecodeTimeLimitMs = 60000;

protected:
    const std::string& Folder() const { return folder_; }
    std::string ToolPath(const std::string& name) const;
    // Runs the tool (ended after timeLimitMs unless 0); false when it did not run to a clean end.
    // `problem` then says which tool failed and how.
    bool RunTool(const std::vector<std::string>& argv, std::string& problem, int timeLimitMs = 0) const;

private:
    std::string folder_;
};

class TWEBPBitmap : public TToolBitmap {
public:
    explicit TWEBPBitmap(std::string sessionFolder = {});

    std::string Encoder;
    std::string Decoder;
    std::string Preset = "default";
    uint8_t Quality = 75;
    uint8_t AlphaQuality = 100;
    uint8_t FilterStrength = 0;
    uint8_t SpatialNoiseShaping = 80;
    uint8_t AutoFilter = 0;
    uint8_t Lossless = 0;
    uint8_t AlphaFilter = 1;  // 0 none, 1 fast, 2 best
    uint8_t AlphaCleanup = 1;
    uint8_t Method = 4;

    // 32 bits per pixel (B, G, R, A) when the decoded PNG is RGB + alpha, else 24 bits.
    void LoadFromStream(std::istream& stream) override;
    void SaveToStream(std::ostream& stream) override;
};

class TJPEGBitmap : public TToolBitmap {
public:
    explicit TJPEGBitmap(std::string sessionFolder = {});

    std::string Encoder;
    uint8_t Quality = 75;
    uint8_t ChromaQuality = 75;
    uint8_t Subsampling = 2;  // 0 "1x1", 1 "2x1", 2 "2x2"
    uint8_t Optimize = 1;
    uint8_t Progressive = 1;
    uint8_t QuantTable = 3;
    uint8_t RGB = 0;
    uint8_t Smooth = 0;
    uint8_t Arithmetic = 0;
    uint8_t Trellis = 1;
    uint8_t Grayscale = 0;

    // Always 24 bits per pixel. Data that is damaged or cut short but still decodes leaves its
    // description in Warning ("" for a whole file).
    void LoadFromStream(std::istream& stream) override;
    std::string Warning;
    void SaveToStream(std::ostream& stream) override;
};

// The registry entries: "webp" "WEBP Image" and "jpg" "JPEG Image" (registered last, so it wins).
extern const TGraphicClass kWebpGraphicClass;
extern const TGraphicClass kJpegGraphicClass;
void RegisterToolFormats(TPictureRegistry& registry);
void UnregisterToolFormats(TPictureRegistry& registry);

}  // namespace jx
