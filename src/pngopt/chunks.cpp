#include "pngopt/chunks.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>

namespace jx::quillox {
namespace {

bool NeverGoverned(const std::string& name, bool chunkOnly) {
    static const char* const kOrdinary[] = {"IHDR", "PLTE", "tRNS", "gAMA", "IDAT", "IEND"};
    static const char* const kCopyOnly[] = {"IHDR", "PLTE", "IDAT", "IEND", "tRNS", "fdAT", "acTL", "fcTL"};
    if (chunkOnly) return std::find(std::begin(kCopyOnly), std::end(kCopyOnly), name) != std::end(kCopyOnly);
    return std::find(std::begin(kOrdinary), std::end(kOrdinary), name) != std::end(kOrdinary);
}

bool Contains(const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

uint32_t Scale16(uint32_t v, int depth) {
    if (depth >= 16) return v & 0xFFFF;
    const uint32_t max = (1u << depth) - 1;
    return (std::min(v, max) * 65535 + max / 2) / max;
}
uint32_t From16(uint32_t v, int depth) {
    if (depth >= 16) return v;
    const uint32_t max = (1u << depth) - 1;
    return (v * max + 32767) / 65535;
}

// Input bKGD as 16-bit RGB; false when it does not fit the input's format.
bool BackgroundRgb(const WorkImage& in, const std::vector<uint8_t>& d, uint32_t rgb[3]) {
    const PngColorType t = in.pngColorType;
    const int depth = in.pngBitDepth;
    if (t == kPngPalette) {
        if (d.size() != 1 || d[0] >= in.palette.size()) return false;
        const PaletteEntry& e = in.palette[d[0]];
        rgb[0] = e.r * 257u, rgb[1] = e.g * 257u, rgb[2] = e.b * 257u;
        return true;
    }
    if (t == kPngGrey || t == kPngGreyAlpha) {
        if (d.size() != 2) return false;
        rgb[0] = rgb[1] = rgb[2] = Scale16(uint32_t(d[0] << 8 | d[1]), depth);
        return true;
    }
    if (d.size() != 6) return false;
    for (int c = 0; c < 3; ++c) rgb[c] = Scale16(uint32_t(d[2 * c] << 8 | d[2 * c + 1]), depth);
    return true;
}

bool ConvertBackground(const WorkImage& in, const OutputImage& out, const std::vector<uint8_t>& data,
                       std::vector<uint8_t>& result) {
    uint32_t rgb[3];
    if (!BackgroundRgb(in, data, rgb)) return false;
    result.clear();
    if (out.colorType == kPngPalette) {
        if (out.palette.empty()) return false;
        size_t best = 0;
        int64_t bestD = INT64_MAX;
        for (size_t i = 0; i < out.palette.size(); ++i) {
            const PaletteEntry& e = out.palette[i];
            int64_t dr = int64_t(e.r * 257) - rgb[0], dg = int64_t(e.g * 257) - rgb[1], db = int64_t(e.b * 257) - rgb[2];
            int64_t d = dr * dr + dg * dg + db * db;
            if (d < bestD) bestD = d, best = i;
        }
        result.push_back(uint8_t(best));
    } else if (out.colorType == kPngGrey || out.colorType == kPngGreyAlpha) {
        uint32_t g = From16((rgb[0] * 299 + rgb[1] * 587 + rgb[2] * 114 + 500) / 1000, out.bitDepth);
        result = {uint8_t(g >> 8), uint8_t(g)};
    } else {
        for (uint32_t v : rgb) {
            uint32_t s = From16(v, out.bitDepth);
            result.push_back(uint8_t(s >> 8));
            result.push_back(uint8_t(s));
        }
    }
    return true;
}

// sBIT for the output's channels, each at most the output's sample depth.
bool ConvertSignificantBits(const WorkImage& in, const OutputImage& out, const std::vector<uint8_t>& d,
                            std::vector<uint8_t>& result) {
    const PngColorType t = in.pngColorType;
    const size_t expected = t == kPngGrey ? 1 : t == kPngGreyAlpha ? 2 : t == kPngRgba ? 4 : 3;
    if (d.size() != expected) return false;
    const uint8_t inDepth = uint8_t(t == kPngPalette ? 8 : in.pngBitDepth);
    uint8_t r, g, b, a = inDepth;
    if (t == kPngGrey || t == kPngGreyAlpha) r = g = b = d[0];
    else r = d[0], g = d[1], b = d[2];
    if (t == kPngGreyAlpha) a = d[1];
    if (t == kPngRgba) a = d[3];
    const uint8_t max = uint8_t(out.colorType == kPngPalette ? 8 : out.bitDepth);
    auto fit = [&](uint8_t v) { return uint8_t(std::clamp<int>(v, 1, max)); };
    switch (out.colorType) {
        case kPngGrey: result = {fit(std::max({r, g, b}))}; break;
        case kPngGreyAlpha: result = {fit(std::max({r, g, b})), fit(a)}; break;
        case kPngRgba: result = {fit(r), fit(g), fit(b), fit(a)}; break;
        default: result = {fit(r), fit(g), fit(b)}; break;
    }
    return true;
}

// The colour space of an iCCP profile ("GRAY", "RGB "), read from its inflated header.
std::string ProfileSpace(const std::vector<uint8_t>& d) {
    size_t nul = std::find(d.begin(), d.end(), uint8_t(0)) - d.begin();
    if (nul == 0 || nul > 79 || nul + 2 > d.size()) return "";
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return "";
    uint8_t header[20];
    z.next_in = const_cast<Bytef*>(d.data() + nul + 2);
    z.avail_in = uInt(d.size() - nul - 2);
    z.next_out = header;
    z.avail_out = sizeof header;
    int rc = inflate(&z, Z_SYNC_FLUSH);
    const bool ok = (rc == Z_OK || rc == Z_STREAM_END || rc == Z_BUF_ERROR) && z.avail_out == 0;
    inflateEnd(&z);
    return ok ? std::string(reinterpret_cast<char*>(header + 16), 4) : "";
}

std::vector<uint8_t> Histogram(const OutputImage& out) {
    std::vector<uint64_t> counts(out.palette.size(), 0);
    const int depth = out.bitDepth;
    for (uint32_t y = 0; y < out.height; ++y) {
        const uint8_t* row = &out.rows[uint64_t(y) * out.rowBytes];
        for (uint64_t x = 0; x < out.width; ++x) {
            uint64_t bit = x * depth;
            uint32_t index = (row[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
            if (index < counts.size()) ++counts[index];
        }
    }
    const uint64_t max = std::max<uint64_t>(1, *std::max_element(counts.begin(), counts.end()));
    std::vector<uint8_t> data;
    for (uint64_t c : counts) {
        uint64_t v = c == 0 ? 0 : std::max<uint64_t>(1, c * 65535 / max);
        data.push_back(uint8_t(v >> 8));
        data.push_back(uint8_t(v));
    }
    return data;
}

// Standard chunks whose content does not depend on the image data's layout.
bool KnownPortable(const std::string& name) {
    static const char* const kNames[] = {"cHRM", "sRGB", "tIME", "pHYs", "sPLT", "iTXt", "zTXt", "tEXt", "eXIf"};
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

void AddRaw(OutputImage& out, const std::string& name, std::vector<uint8_t> data) {
    PngImage holder;
    holder.AddChunk(name, std::move(data));  // checks the name and picks the place
    out.chunks.push_back(std::move(holder.Chunks.front()));
}

}  // namespace

std::vector<std::string> ExpandChunkList(const std::vector<std::string>& list, const std::vector<std::string>& inputNames,
                                         bool chunkOnly) {
    std::vector<std::string> out;
    for (const std::string& w : list) {
        if (w == "color") {
            if (chunkOnly) out.push_back("gAMA");
            for (const char* n : {"cHRM", "sRGB", "iCCP"}) out.push_back(n);
        } else if (w == "text") {
            for (const char* n : {"iTXt", "tEXt", "zTXt"}) out.push_back(n);
        } else if (w == "misc") {
            for (const char* n : {"bKGD", "pHYs", "sBIT", "sPLT", "hIST", "tIME"}) out.push_back(n);
        } else if (w == "animation") {
            for (const char* n : {"acTL", "fcTL", "fdAT"}) out.push_back(n);
        } else if (w == "all") {
            if (chunkOnly) out.push_back("all");
            else
                for (const std::string& n : inputNames)
                    if (!NeverGoverned(n, false)) out.push_back(n);
        } else {
            out.push_back(w);
        }
    }
    return out;
}

void CopyMetadataChunks(const WorkImage& input, OutputImage& output, const Options& options) {
    if (input.kind != InputKind::Png) return;
    std::vector<std::string> list;
    if (options.chunkList) list = ExpandChunkList(*options.chunkList, input.chunkNames, false);
    else
        for (const std::string& n : input.chunkNames)
            if (!NeverGoverned(n, false)) list.push_back(n);
    const bool converted = output.colorType != input.pngColorType || output.bitDepth != input.pngBitDepth ||
                           !input.hasTrns != !(output.hasKey || output.colorType == kPngPalette);
    for (const RawChunk& c : input.chunks) {
        if (NeverGoverned(c.name, false)) continue;
        if (Contains(list, c.name) != options.chunkKeep) continue;
        try {
            if (c.name == "tEXt") {
                PngImage holder;
                holder.Chunks.push_back({c.name, c.data, PngChunkPlace::BeforeIdat});
                auto [keyword, text] = PngImage::ReadText(holder.Chunks.front());
                holder.Chunks.clear();
                holder.AddText(keyword, text, options.compressText);
                output.chunks.push_back(std::move(holder.Chunks.front()));
            } else if (c.name == "bKGD") {
                std::vector<uint8_t> data;
                if (ConvertBackground(input, output, c.data, data)) AddRaw(output, c.name, std::move(data));
            } else if (c.name == "sBIT") {
                std::vector<uint8_t> data;
                if (ConvertSignificantBits(input, output, c.data, data)) AddRaw(output, c.name, std::move(data));
            } else if (c.name == "hIST") {
                if (output.colorType == kPngPalette && !output.palette.empty()) AddRaw(output, c.name, Histogram(output));
            } else if (c.name == "iCCP") {
                const std::string space = ProfileSpace(c.data);
                const bool grey = output.colorType == kPngGrey || output.colorType == kPngGreyAlpha;
                if ((grey && space == "GRAY") || (!grey && space == "RGB ")) AddRaw(output, c.name, c.data);
            } else if (KnownPortable(c.name) || !converted || !std::isupper(static_cast<unsigned char>(c.name[3]))) {
                AddRaw(output, c.name, c.data);
            }
            // Unknown chunks that are unsafe to copy stay behind once the image data changed layout.
        } catch (const PngError&) {
            // A damaged or misnamed chunk is dropped rather than carried into the output.
        }
    }
}

std::vector<uint8_t> CopyChunksOnly(const std::vector<uint8_t>& file, const Options& options, bool* write,
                                    std::vector<std::string>* warnings) {
    *write = false;
    std::vector<std::string> list = ExpandChunkList(options.chunkList.value_or(std::vector<std::string>{}), {}, true);
    const bool all = Contains(list, "all");
    if (all && options.chunkKeep) return {};
    std::sort(list.begin(), list.end());
    static const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    if (file.size() <= 8 || std::memcmp(file.data(), kSignature, 8) != 0) throw InputError("Not a PNG file");
    std::vector<uint8_t> out(file.begin(), file.begin() + 8);
    uint64_t pos = 8;
    while (pos < file.size()) {
        if (file.size() - pos < 12) throw InputError("Truncated PNG chunk");
        const uint64_t length = uint64_t(file[pos]) << 24 | uint64_t(file[pos + 1]) << 16 | uint64_t(file[pos + 2]) << 8 | file[pos + 3];
        if (length > file.size() - pos - 12) throw InputError("Damaged PNG chunk length");
        const std::string type(reinterpret_cast<const char*>(&file[pos + 4]), 4);
        if (!ChunkCrcMatches(&file[pos])) {
            if (IsCriticalChunk(type)) throw InputError("PNG: bad CRC in chunk " + type);
            if (warnings) warnings->push_back(type + ": CRC error, chunk dropped");
            pos += length + 12;
            continue;
        }
        bool copy = NeverGoverned(type, true);
        if (!copy && !all) copy = Contains(list, type) == options.chunkKeep;
        if (copy) out.insert(out.end(), file.begin() + int64_t(pos), file.begin() + int64_t(pos + length + 12));
        pos += length + 12;
    }
    *write = true;
    return out;
}

std::string ChunkReport(const std::vector<std::string>& names) {
    std::map<std::string, int> counts;
    for (const std::string& n : names)
        if (n != "IHDR" && n != "PLTE" && n != "IDAT" && n != "IEND") ++counts[n];
    std::string text = "Chunks: ";
    if (counts.empty()) return text + "only critical\n\r";
    bool first = true;
    for (const auto& [name, count] : counts) {
        if (!first) text += ", ";
        first = false;
        text += name;
        if (count > 1) text += "(" + std::to_string(count) + ")";
    }
    return text + "\n\r";
}

}  // namespace jx::quillox
