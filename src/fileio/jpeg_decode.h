#pragma once
// The one libjpeg decompressor set-up of the readers: the file in memory, libjpeg's errors as a
// message, a header that cannot be real refused before libjpeg sizes its buffers, CMYK files
// turned into colour. The caller decides the scale and where the rows go.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace jx {

// One decoded row: pixel x as blue, green, red.
struct TJpegLine {
    const uint8_t* Samples;
    unsigned Components;  // 3 (RGB) or 4 (CMYK)
    bool Cmyk;

    void Bgr(size_t x, uint8_t* out) const {
        const uint8_t* p = Samples + x * Components;
        if (Cmyk) {
            // Adobe files store CMYK inverted, so each channel times K is the colour.
            out[0] = static_cast<uint8_t>(p[2] * p[3] / 255);
            out[1] = static_cast<uint8_t>(p[1] * p[3] / 255);
            out[2] = static_cast<uint8_t>(p[0] * p[3] / 255);
        } else {
            out[0] = p[2];
            out[1] = p[1];
            out[2] = p[0];
        }
    }
};

// Where a decode goes. A refusal sets error and returns 0 or false; an exception counts as a
// refusal with its message. None of them may call libjpeg.
class TJpegSink {
public:
    virtual ~TJpegSink() = default;
    // The frame's size from the header; fitsData is false when the header claims more blocks than
    // the file's bytes could code (a bomb, or a cut file). Returns libjpeg's scale denominator
    // (1, 2, 4 or 8), or 0 to refuse.
    virtual unsigned Header(uint32_t width, uint32_t height, bool fitsData, std::string& error) = 0;
    // The decoded size at that scale, before the first row.
    virtual bool Start(uint32_t width, uint32_t height, std::string& error) = 0;
    // Every row of the decoded size, top first.
    virtual void Row(uint32_t y, const TJpegLine& line) = 0;
};

// False with error set (libjpeg's message, or the sink's) when the file cannot be decoded. A file
// that decoded past damage sets *warning ("the file is cut short; ..."), else empties it.
bool DecodeJpeg(std::span<const uint8_t> file, TJpegSink& sink, std::string& error, std::string* warning = nullptr);

}  // namespace jx
