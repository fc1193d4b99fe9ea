#include "pngopt/chunks.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>

#include "pngenc/png_chunks.h"
#include "platform/byte_order.h"

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

// Input bKGD as 16-bit RGB; false when it does not fit the input's format. For a palette input,
// `named` is the entry it names.
bool BackgroundRgb(const WorkImage& in, const std::vector<uint8_t>& d, uint32_t rgb[3], const PaletteEntry** named) {
    const PngColorType t = in.pngColorType;
    const int depth = in.pngBitDepth;
    *named = nullptr;
    if (t == kPngPalette) {
        if (d.size() != 1 || d[0] >= in.palette.size()) return false;
        const PaletteEntry& e = in.palette[d[0]];
        rgb[0] = e.r * 257u, rgb[1] = e.g * 257u, rgb[2] = e.b * 257u;
        *named = &e;
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

// The palette index of the background's exact colour: the entry the input named, when the output
// has it (a background is a colour, so a transparent entry serves as well as any); else an
// opaque entry of that colour, else any entry of it; else a new opaque entry while the palette
// holds fewer than `room` entries. -1 when none of these is possible.
int BackgroundIndex(const WorkImage& in, OutputImage& out, const uint32_t rgb[3], const PaletteEntry* named,
                    size_t room) {
    // A 16-bit value that is no 8-bit value times 257 has no exact palette colour.
    for (int c = 0; c < 3; ++c)
        if (rgb[c] % 257 != 0) return -1;
    const uint8_t r = uint8_t(rgb[0] / 257), g = uint8_t(rgb[1] / 257), b = uint8_t(rgb[2] / 257);
    auto find = [&](auto&& match) -> int {
        for (size_t i = 0; i < out.palette.size(); ++i) {
            const PaletteEntry& e = out.palette[i];
            if (e.r == r && e.g == g && e.b == b && match(e)) return int(i);
        }
        return -1;
    };
    int index = -1;
    if (named) {
        // A palette kept as it was ("/np") keeps the very index, even among equal entries.
        const size_t at = size_t(named - in.palette.data());
        const bool same = at < out.palette.size() && out.palette[at].r == named->r && out.palette[at].g == named->g &&
                          out.palette[at].b == named->b && out.palette[at].a == named->a;
        index = same ? int(at) : find([&](const PaletteEntry& e) { return e.a == named->a; });
    }
    if (index < 0) index = find([](const PaletteEntry& e) { return e.a == 255; });
    if (index < 0) index = find([](const PaletteEntry&) { return true; });
    if (index >= 0) return index;
    if (out.palette.size() >= std::min({room, size_t{1} << out.bitDepth, size_t{256}})) return -1;
    out.palette.push_back(PaletteEntry{r, g, b, 255});
    return int(out.palette.size() - 1);
}

// False when the input's bKGD does not fit the input's format. `nearest` is set when no palette
// entry has the colour and none could be added. A palette output holds at most `room` entries.
bool ConvertBackground(const WorkImage& in, OutputImage& out, const std::vector<uint8_t>& data, size_t room,
                       std::vector<uint8_t>& result, bool& nearest) {
    uint32_t rgb[3];
    const PaletteEntry* named = nullptr;
    nearest = false;
    if (!BackgroundRgb(in, data, rgb, &named)) return false;
    result.clear();
    if (out.colorType == kPngPalette) {
        if (out.palette.empty()) return false;
        if (const int exact = BackgroundIndex(in, out, rgb, named, room); exact >= 0) {
            result.push_back(uint8_t(exact));
            return true;
        }
        nearest = true;
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

// A keyword of tEXt, zTXt, iTXt, iCCP or sPLT: 1 to 79 printable Latin-1 characters, no space at
// either end and no two spaces in a row.
bool ValidKeyword(const uint8_t* begin, const uint8_t* end) {
    const size_t n = size_t(end - begin);
    if (n == 0 || n > 79 || begin[0] == ' ' || end[-1] == ' ') return false;
    for (const uint8_t* p = begin; p != end; ++p) {
        if (!((*p >= 32 && *p <= 126) || *p >= 161)) return false;
        if (*p == ' ' && p + 1 != end && p[1] == ' ') return false;
    }
    return true;
}

// The keyword that ends at the first NUL; false when there is no NUL or the keyword is invalid.
bool KeywordAt(const std::vector<uint8_t>& d, size_t& nul) {
    nul = size_t(std::find(d.begin(), d.end(), uint8_t(0)) - d.begin());
    return nul < d.size() && ValidKeyword(d.data(), d.data() + nul);
}

// Inflates a zlib stream to its end without keeping the output: "" when it is whole. The
// output is capped, so that a small chunk cannot keep the program busy for long.
std::string InflateFault(const uint8_t* data, size_t size) {
    constexpr uint64_t kMaxInflated = uint64_t(64) << 20;
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return "damaged compressed data";
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(size);
    uint8_t sink[16384];
    int rc = Z_OK;
    while (rc == Z_OK && z.total_out <= kMaxInflated) {
        z.next_out = sink;
        z.avail_out = sizeof sink;
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
    }
    const bool large = z.total_out > kMaxInflated;
    inflateEnd(&z);
    if (large) return "too large once inflated";
    return rc == Z_STREAM_END ? "" : "damaged compressed data";
}

// Why a standard chunk cannot go into a checked PNG as it is; "" when it can. Chunks whose
// content is rebuilt for the output (bKGD, sBIT, hIST) are checked where they are converted.
std::string ChunkFault(const std::string& name, const std::vector<uint8_t>& d) {
    const size_t n = d.size();
    if (name == "cHRM") {
        if (n != 32) return "wrong length";
        // Each point's x + y may not pass 1 (its z would be negative), so neither may x or y.
        for (size_t at = 0; at < 32; at += 8) {
            const uint64_t x = BigEndian32(&d[at]), y = BigEndian32(&d[at + 4]);
            if (x + y > 100000) return "impossible chromaticity";
        }
        return "";
    }
    if (name == "sRGB") {
        if (n != 1) return "wrong length";
        return d[0] <= 3 ? "" : "unknown rendering intent";
    }
    if (name == "pHYs") {
        if (n != 9) return "wrong length";
        return d[8] <= 1 ? "" : "unknown unit";
    }
    if (name == "oFFs") {
        if (n != 9) return "wrong length";
        return d[8] <= 1 ? "" : "unknown unit";
    }
    if (name == "tIME") {
        if (n != 7) return "wrong length";
        const bool ok = d[2] >= 1 && d[2] <= 12 && d[3] >= 1 && d[3] <= 31 && d[4] <= 23 && d[5] <= 59 && d[6] <= 60;
        return ok ? "" : "impossible date";
    }
    if (name == "tEXt" || name == "zTXt" || name == "iTXt" || name == "iCCP" || name == "sPLT") {
        size_t nul = 0;
        if (!KeywordAt(d, nul)) return "invalid keyword";
        if (name == "tEXt") return std::find(d.begin() + long(nul) + 1, d.end(), uint8_t(0)) == d.end() ? "" : "NUL in text";
        if (name == "zTXt" || name == "iCCP") {
            if (nul + 2 > n || d[nul + 1] != 0) return "unknown compression method";
            return InflateFault(d.data() + nul + 2, n - nul - 2);
        }
        if (name == "iTXt") {
            // flag, method, language NUL, translated keyword NUL, text
            if (nul + 3 > n || d[nul + 1] > 1 || d[nul + 2] != 0) return "unknown compression";
            const auto lang = std::find(d.begin() + long(nul) + 3, d.end(), uint8_t(0));
            if (lang == d.end()) return "damaged structure";
            const auto translated = std::find(lang + 1, d.end(), uint8_t(0));
            if (translated == d.end()) return "damaged structure";
            const size_t text = size_t(translated - d.begin()) + 1;
            return d[nul + 1] == 1 ? InflateFault(d.data() + text, n - text) : "";
        }
        // sPLT: sample depth, then entries of 6 (8-bit) or 10 (16-bit) bytes.
        if (nul + 2 > n || (d[nul + 1] != 8 && d[nul + 1] != 16)) return "unknown sample depth";
        return (n - nul - 2) % (d[nul + 1] == 8 ? 6 : 10) == 0 ? "" : "wrong length";
    }
    if (name == "eXIf") {
        const bool tiff = n >= 4 && (std::memcmp(d.data(), "MM\0*", 4) == 0 || std::memcmp(d.data(), "II*\0", 4) == 0);
        return tiff ? "" : "not Exif data";
    }
    if (name == "sTER") {
        if (n != 1) return "wrong length";
        return d[0] <= 1 ? "" : "unknown layout";
    }
    if (name == "sCAL") {
        // unit, width text, NUL, height text
        if (n < 4 || (d[0] != 1 && d[0] != 2)) return "invalid content";
        const auto nul = std::find(d.begin() + 1, d.end(), uint8_t(0));
        const bool ok = nul != d.begin() + 1 && nul != d.end() && nul + 1 != d.end() && std::find(nul + 1, d.end(), uint8_t(0)) == d.end();
        return ok ? "" : "invalid content";
    }
    if (name == "pCAL") {
        size_t nul = 0;
        return KeywordAt(d, nul) ? "" : "invalid keyword";
    }
    // The third letter's case is reserved: such a chunk is no PNG chunk yet.
    if (name.size() == 4 && std::islower(static_cast<unsigned char>(name[2]))) return "reserved name";
    return "";
}

// Chunks a PNG holds at most once. sRGB and iCCP also exclude each other.
bool OnceOnly(const std::string& name) {
    static const char* const kNames[] = {"cHRM", "sRGB", "iCCP", "sBIT", "bKGD", "hIST", "pHYs", "tIME",
                                         "oFFs", "pCAL", "sCAL", "sTER", "eXIf"};
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
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

void CopyMetadataChunks(const WorkImage& input, OutputImage& output, const Options& options,
                        std::vector<std::string>* warnings) {
    if (input.kind != InputKind::Png) return;
    std::vector<std::string> list;
    if (options.chunkList) list = ExpandChunkList(*options.chunkList, input.chunkNames, false);
    else
        for (const std::string& n : input.chunkNames)
            if (!NeverGoverned(n, false)) list.push_back(n);
    const bool converted = output.colorType != input.pngColorType || output.bitDepth != input.pngBitDepth ||
                           !input.hasTrns != !(output.hasKey || output.colorType == kPngPalette);
    // A freshly written file must pass a PNG checker, so what a damaged input repeats or spoils
    // stays behind, each with a report line.
    auto drop = [&](const std::string& name, const std::string& why) {
        if (warnings) warnings->push_back(name + ": " + why + ", chunk dropped");
    };
    // The output writes every chunk before the image data.
    auto moved = [&](const RawChunk& c) {
        if (warnings && c.afterImageData) warnings->push_back(c.name + ": after the image data, chunk moved before it");
    };
    if (options.gammaMode == GammaMode::Keep) {
        // The input's gamma is its first sound gAMA (ReadPng); "/g" governs it, not the list.
        bool found = false;
        for (const RawChunk& c : input.chunks) {
            if (c.name != "gAMA") continue;
            if (found) drop(c.name, "repeated");
            else if (c.data.size() != 4) drop(c.name, "wrong length");
            else if (BigEndian32(&c.data[0]) == 0) drop(c.name, "zero gamma");
            else found = true, moved(c);
        }
    }
    // A palette reduced to a requested count stays within it.
    const size_t paletteRoom = options.quantize ? size_t(options.colorCount) : SIZE_MAX;
    std::vector<std::string> seen;
    size_t histogramAt = SIZE_MAX;
    for (const RawChunk& c : input.chunks) {
        if (NeverGoverned(c.name, false)) continue;
        if (Contains(list, c.name) != options.chunkKeep) continue;
        if (OnceOnly(c.name)) {
            const bool profile = c.name == "sRGB" || c.name == "iCCP";
            if (Contains(seen, c.name) || (profile && (Contains(seen, "sRGB") || Contains(seen, "iCCP")))) {
                drop(c.name, Contains(seen, c.name) ? "repeated" : "sRGB and iCCP exclude each other");
                continue;
            }
        }
        if (const std::string fault = ChunkFault(c.name, c.data); !fault.empty()) {
            drop(c.name, fault);
            continue;
        }
        try {
            bool kept = true;
            if (c.name == "tEXt") {
                PngImage holder;
                holder.Chunks.push_back({c.name, c.data, PngChunkPlace::BeforeIdat});
                auto [keyword, text] = PngImage::ReadText(holder.Chunks.front());
                holder.Chunks.clear();
                holder.AddText(keyword, text, options.compressText);
                output.chunks.push_back(std::move(holder.Chunks.front()));
            } else if (c.name == "bKGD") {
                std::vector<uint8_t> data;
                bool nearest = false;
                kept = ConvertBackground(input, output, c.data, paletteRoom, data, nearest);
                if (kept) AddRaw(output, c.name, std::move(data));
                else drop(c.name, "does not fit the image");
                if (nearest && warnings) warnings->push_back(kNearestBackgroundWarning);
            } else if (c.name == "sBIT") {
                std::vector<uint8_t> data;
                kept = ConvertSignificantBits(input, output, c.data, data);
                if (kept) AddRaw(output, c.name, std::move(data));
                else drop(c.name, "wrong length");
            } else if (c.name == "hIST") {
                // Its place is taken now, its counts once the background may have added an entry.
                kept = output.colorType == kPngPalette && !output.palette.empty();
                if (kept) {
                    histogramAt = output.chunks.size();
                    AddRaw(output, c.name, {});
                }
            } else if (c.name == "iCCP") {
                const std::string space = ProfileSpace(c.data);
                const bool grey = output.colorType == kPngGrey || output.colorType == kPngGreyAlpha;
                kept = (grey && space == "GRAY") || (!grey && space == "RGB ");
                if (kept) AddRaw(output, c.name, c.data);
            } else if (KnownPortable(c.name) || !converted || !std::isupper(static_cast<unsigned char>(c.name[3]))) {
                AddRaw(output, c.name, c.data);
            } else {
                // Unknown chunks that are unsafe to copy stay behind once the image data changed layout.
                kept = false;
            }
            if (kept) {
                seen.push_back(c.name);
                moved(c);
            }
        } catch (const PngError&) {
            drop(c.name, "damaged");
        }
    }
    if (histogramAt != SIZE_MAX) output.chunks[histogramAt].Data = Histogram(output);
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
    std::vector<std::string> dropped;
    std::vector<pngenc::ChunkRef> chunks;
    try {
        // Whatever follows IEND is walked and copied too: this copy changes only what it is told to.
        chunks = pngenc::WalkChunks(file, true, &dropped, pngenc::WalkEnd::FileEnd);
    } catch (const PngError& e) {
        throw InputError(e.what());
    }
    try {
        // The image data stays as it is, so it must be sound: a file the other levels refuse (an
        // impossible header, no image data) is refused here too rather than rewritten as if good.
        PngDecodeOptions check;
        std::vector<std::string> ignored;
        check.DroppedChunks = &ignored;
        check.ReadRowFilters = false;
        PngImage::Decode(file, check);
    } catch (const PngError& e) {
        throw InputError(e.what());
    }
    if (warnings)
        for (const std::string& name : dropped) warnings->push_back(name + ": CRC error, chunk dropped");
    std::vector<uint8_t> out(file.begin(), file.begin() + 8);
    for (const pngenc::ChunkRef& c : chunks) {
        bool copy = NeverGoverned(c.name, true);
        if (!copy && !all) copy = Contains(list, c.name) == options.chunkKeep;
        if (copy) out.insert(out.end(), file.begin() + int64_t(c.data - 8), file.begin() + int64_t(c.data + c.length + 4));
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
