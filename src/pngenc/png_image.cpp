#include "pngenc/png_image.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"

namespace jx {

namespace {

bool ValidDepth(uint8_t colorType, uint8_t depth) {
    switch (colorType) {
        case kPngGrey: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        case kPngPalette: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
        case kPngRgb:
        case kPngGreyAlpha:
        case kPngRgba: return depth == 8 || depth == 16;
        default: return false;
    }
}

unsigned ChannelsOf(uint8_t colorType) {
    switch (colorType) {
        case kPngGreyAlpha: return 2;
        case kPngRgb: return 3;
        case kPngRgba: return 4;
        default: return 1;
    }
}

bool ValidChunkName(const std::string& name) {
    if (name.size() != 4) return false;
    for (char ch : name) {
        if (!((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'))) return false;
    }
    return true;
}

bool ManagedChunk(const std::string& name) {
    return name == "IHDR" || name == "PLTE" || name == "tRNS" || name == "IDAT" || name == "IEND";
}

}  // namespace

PngImage::PngImage(uint32_t width, uint32_t height, uint8_t colorType, uint8_t bitDepth) {
    SetHeader(width, height, colorType, bitDepth);
}

size_t PngImage::CheckHeader(uint32_t width, uint32_t height, uint8_t colorType, uint8_t bitDepth, bool limitStorage) {
    if (!ValidDepth(colorType, bitDepth)) {
        throw PngError("PNG: colour type " + std::to_string(colorType) + " with bit depth " +
                       std::to_string(bitDepth) + " is not allowed");
    }
    if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) {
        throw PngError("PNG: image size " + std::to_string(width) + "x" + std::to_string(height) +
                       " is out of range");
    }
    uint64_t rowBits = uint64_t(width) * ChannelsOf(colorType) * bitDepth;
    uint64_t rowBytes = (rowBits + 7) / 8;
    if (limitStorage && rowBytes * height > kPngMaxImageBytes) {
        throw PngError("PNG: image of " + std::to_string(width) + "x" + std::to_string(height) +
                       " pixels is too large");
    }
    return size_t(rowBytes);
}

void PngImage::SetHeader(uint32_t width, uint32_t height, uint8_t colorType, uint8_t bitDepth) {
    const size_t rowBytes = CheckHeader(width, height, colorType, bitDepth);
    width_ = width;
    height_ = height;
    colorType_ = colorType;
    bitDepth_ = bitDepth;
    rowBytes_ = rowBytes;
    pixels_.assign(rowBytes * height, 0);
}

unsigned PngImage::Channels() const { return ChannelsOf(colorType_); }
unsigned PngImage::BitsPerPixel() const { return Channels() * bitDepth_; }

uint16_t PngImage::Sample(uint32_t x, uint32_t y, unsigned c) const {
    const uint8_t* row = Row(y);
    if (bitDepth_ == 16) {
        const uint8_t* p = row + (size_t(x) * Channels() + c) * 2;
        return uint16_t(p[0] << 8 | p[1]);
    }
    if (bitDepth_ == 8) return row[size_t(x) * Channels() + c];
    size_t bit = size_t(x) * bitDepth_;
    unsigned shift = 8 - bitDepth_ - unsigned(bit & 7);
    return uint16_t((row[bit >> 3] >> shift) & ((1u << bitDepth_) - 1));
}

void PngImage::SetSample(uint32_t x, uint32_t y, unsigned c, uint16_t value) {
    uint8_t* row = Row(y);
    if (bitDepth_ == 16) {
        uint8_t* p = row + (size_t(x) * Channels() + c) * 2;
        p[0] = uint8_t(value >> 8);
        p[1] = uint8_t(value);
        return;
    }
    if (bitDepth_ == 8) {
        row[size_t(x) * Channels() + c] = uint8_t(value);
        return;
    }
    size_t bit = size_t(x) * bitDepth_;
    unsigned shift = 8 - bitDepth_ - unsigned(bit & 7);
    unsigned mask = ((1u << bitDepth_) - 1) << shift;
    uint8_t& b = row[bit >> 3];
    b = uint8_t((b & ~mask) | ((unsigned(value) << shift) & mask));
}

const PngChunk* PngImage::FindChunk(const std::string& name) const {
    for (const auto& c : Chunks) {
        if (c.Name == name) return &c;
    }
    return nullptr;
}

void PngImage::AddChunk(const std::string& name, std::vector<uint8_t> data) {
    if (!ValidChunkName(name)) throw PngError("PNG: \"" + name + "\" is not a chunk name");
    if (ManagedChunk(name)) throw PngError("PNG: chunk " + name + " cannot be added as a raw chunk");
    if (data.size() > 0x7FFFFFFFu) throw PngError("PNG: chunk " + name + " is too large");
    static const char* const kBeforePlte[] = {"gAMA", "cHRM", "sRGB", "iCCP", "sBIT"};
    PngChunkPlace place = PngChunkPlace::BeforeIdat;
    for (const char* n : kBeforePlte) {
        if (name == n) place = PngChunkPlace::BeforePlte;
    }
    Chunks.push_back(PngChunk{name, std::move(data), place});
}

void PngImage::RemoveChunks(const std::string& name) {
    std::erase_if(Chunks, [&](const PngChunk& c) { return c.Name == name; });
}

std::optional<uint32_t> PngImage::Gamma() const {
    const PngChunk* c = FindChunk("gAMA");
    if (!c || c->Data.size() != 4) return std::nullopt;
    const auto& d = c->Data;
    return BigEndian32(d.data());
}

void PngImage::SetGamma(uint32_t value) {
    RemoveChunks("gAMA");
    AddChunk("gAMA", {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)});
}

void PngImage::AddText(const std::string& keyword, const std::string& text, bool compressed) {
    if (keyword.empty() || keyword.size() > 79 || keyword.find('\0') != std::string::npos) {
        throw PngError("PNG: text keyword \"" + keyword + "\" is not allowed");
    }
    std::vector<uint8_t> data(keyword.begin(), keyword.end());
    data.push_back(0);
    if (!compressed) {
        data.insert(data.end(), text.begin(), text.end());
        AddChunk("tEXt", std::move(data));
        return;
    }
    data.push_back(0);  // compression method: deflate
    uLongf len = compressBound(uLong(text.size()));
    std::vector<uint8_t> packed(len);
    if (compress2(packed.data(), &len, reinterpret_cast<const Bytef*>(text.data()), uLong(text.size()), 9) != Z_OK) {
        throw PngError("PNG: cannot compress text chunk");
    }
    data.insert(data.end(), packed.begin(), packed.begin() + long(len));
    AddChunk("zTXt", std::move(data));
}

std::pair<std::string, std::string> PngImage::ReadText(const PngChunk& chunk) {
    const auto& d = chunk.Data;
    auto zero = std::find(d.begin(), d.end(), uint8_t(0));
    if (zero == d.end() || zero == d.begin() || zero - d.begin() > 79) {
        throw PngError("PNG: damaged " + chunk.Name + " chunk (keyword)");
    }
    std::string keyword(d.begin(), zero);
    if (chunk.Name == "tEXt") return {keyword, std::string(zero + 1, d.end())};
    if (chunk.Name != "zTXt") throw PngError("PNG: " + chunk.Name + " is not a text chunk");
    if (d.end() - zero < 2 || zero[1] != 0) throw PngError("PNG: damaged zTXt chunk (compression method)");
    // Text is inflated in steps and capped, so a small chunk cannot claim unbounded memory.
    constexpr size_t kMaxText = size_t(64) << 20;
    z_stream z{};
    if (inflateInit(&z) != Z_OK) throw PngError("PNG: cannot inflate zTXt chunk");
    z.next_in = const_cast<Bytef*>(&*(zero + 2));
    z.avail_in = uInt(d.end() - (zero + 2));
    std::string text;
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (text.size() >= kMaxText) break;
        size_t old = text.size();
        text.resize(old + 65536);
        z.next_out = reinterpret_cast<Bytef*>(text.data() + old);
        z.avail_out = 65536;
        rc = inflate(&z, Z_NO_FLUSH);
        text.resize(old + (65536 - z.avail_out));
        if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END) throw PngError("PNG: damaged zTXt chunk (compressed text)");
    return {keyword, text};
}

void PngImage::UseJxDefaults() {
    PngImage defaults;
    FilterSet = defaults.FilterSet;
    CompressionLevel = defaults.CompressionLevel;
    UseDeflateInit2 = defaults.UseDeflateInit2;
    WindowBits = defaults.WindowBits;
    MemoryLevel = defaults.MemoryLevel;
    Strategy = defaults.Strategy;
    Heuristic = defaults.Heuristic;
    LossyQuality = 0;
    LossyMethod = 0;
    LossyLevels.clear();
    OutputBitDepth = 0;
    MaxIdatSize = defaults.MaxIdatSize;
    Interlace = 0;
    FingerprintOnly = 0;
    JxHeuristic = 1;
}

}  // namespace jx
