#pragma once
// Small PNG files made by hand and shell scripts standing in for the outside tools.
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/temp_dir.h"

namespace jx::test {

inline void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    auto be32 = [&](uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
    };
    be32(static_cast<uint32_t>(data.size()));
    std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    be32(static_cast<uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

// A PNG of w x h pixels whose image data is `raw` (filter bytes included) deflated at `level`;
// `text` adds a tEXt chunk, which changes the bytes but not the image.
inline std::vector<uint8_t> PngBytes(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType,
                                     const std::vector<uint8_t>& raw, int level = 6, const std::string& text = {}) {
    std::vector<uint8_t> z(compressBound(static_cast<uLong>(raw.size())));
    uLongf zlen = static_cast<uLongf>(z.size());
    compress2(z.data(), &zlen, raw.data(), static_cast<uLong>(raw.size()), level);
    z.resize(zlen);
    std::vector<uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<uint8_t> ihdr;
    for (uint32_t v : {w, h})
        for (int s = 24; s >= 0; s -= 8) ihdr.push_back(static_cast<uint8_t>(v >> s));
    ihdr.insert(ihdr.end(), {depth, colorType, 0, 0, 0});
    PutChunk(out, "IHDR", ihdr);
    if (!text.empty()) PutChunk(out, "tEXt", std::vector<uint8_t>(text.begin(), text.end()));
    PutChunk(out, "IDAT", z);
    PutChunk(out, "IEND", {});
    return out;
}

// An 8-bit RGB pattern; another `variant` is another image.
inline std::vector<uint8_t> MakePng(uint32_t w, uint32_t h, int level, int variant = 0, const std::string& text = {}) {
    std::vector<uint8_t> raw;
    for (uint32_t y = 0; y < h; ++y) {
        raw.push_back(0);
        for (uint32_t x = 0; x < w; ++x) {
            raw.push_back(static_cast<uint8_t>((x / 4 + y / 3) % 5 * 50 + variant));
            raw.push_back(static_cast<uint8_t>((x * y) % 7 * 30));
            raw.push_back(static_cast<uint8_t>(x ^ y));
        }
    }
    return PngBytes(w, h, 8, 2, raw, level, text);
}

// The message of the E that f throws, or "(no error)".
template <class E, class F>
std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "(no error)";
}

inline std::string ReadText(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// An executable shell script; "$last" holds its last argument when the body wants it.
inline void WriteScript(const std::string& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\nfor last; do :; done\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
}

}  // namespace jx::test
