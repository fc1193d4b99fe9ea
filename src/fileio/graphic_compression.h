#pragma once
// Run-length codecs of the image readers. They only move bytes: pixel values,
// byte order and colour are the callers' business.
#include <cstddef>
#include <cstdint>

namespace jx {

class TDecoder {
public:
    virtual ~TDecoder() = default;
    // Expands packed data. Source may be advanced (see each codec); neither
    // codec reads more than packed_size bytes nor writes past the output.
    virtual void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packed_size,
                        int32_t unpacked_size) = 0;
    virtual void Encode(const uint8_t* source, uint8_t* dest, uint32_t count,
                        uint32_t& bytes_stored) = 0;
};

// Targa packets for pixels of 8, 15, 16, 24 and 32 bits. Decode counts the
// output in pixels and advances Source past every packet read. A packet that
// holds more pixels than the call still needs is consumed whole and its
// surplus dropped; packets are read only while whole ones lie within
// packed_size bytes.
class TTargaRLEDecoder : public TDecoder {
public:
    explicit TTargaRLEDecoder(uint32_t color_depth);
    void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packed_size,
                int32_t unpacked_size) override;
    // Packs count pixels; dest must hold count * pixel size + (count + 127) / 128 bytes.
    void Encode(const uint8_t* source, uint8_t* dest, uint32_t count,
                uint32_t& bytes_stored) override;

    // Bytes per pixel, 0 for an unsupported depth.
    int PixelSize() const { return pixel_size_; }
    // Pixels the last Decode wrote (less than asked when the packets ran out).
    int32_t DecodedCount() const { return decoded_count_; }

private:
    uint32_t color_depth_;
    int pixel_size_;
    int32_t decoded_count_ = 0;
};

// PackBits: counts in bytes; neither Source nor Dest is changed.
class TPackbitsRLEDecoder : public TDecoder {
public:
    void Decode(const uint8_t*& source, uint8_t*& dest, int32_t packed_size,
                int32_t unpacked_size) override;
    void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}

    // The bytes the last Decode's packed data stands for: what it wrote, plus what packets left
    // over after the output was full would have added (counted, not written).
    int64_t PackedLength() const { return packed_length_; }

private:
    int64_t packed_length_ = 0;
};

}  // namespace jx
