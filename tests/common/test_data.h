#pragma once
// Shared helpers for tests that read the files under tests/data.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace jx::test {

inline std::filesystem::path DataDir() { return JX_TEST_DATA_DIR; }
inline std::filesystem::path PngSuiteDir() { return DataDir() / "pngsuite" / "png"; }

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

// Little-endian appends, for headers built by hand.
inline void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
inline void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

// The valid suite images (names without ".png"), and the damaged ones that a reader must refuse.
inline std::vector<std::string> PngSuiteNames(bool damaged) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(PngSuiteDir())) {
        std::string stem = e.path().stem().string();
        if (e.path().extension() != ".png") continue;
        if ((stem[0] == 'x') == damaged) names.push_back(stem);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Reference decode of a valid suite image as 16-bit RGBA samples (8-bit files are scaled by 257),
// so a decoder at either depth can be compared exactly.
inline std::vector<uint16_t> PngSuiteReference16(const std::string& name) {
    const auto dir = DataDir() / "pngsuite" / "rgba";
    bool wide = std::filesystem::exists(dir / (name + ".rgba16.z"));
    auto packed = ReadBytes(dir / (name + (wide ? ".rgba16.z" : ".rgba8.z")));
    std::vector<uint8_t> raw(1 << 20);
    for (;;) {
        uLongf len = raw.size();
        int rc = uncompress(raw.data(), &len, packed.data(), packed.size());
        if (rc == Z_BUF_ERROR) { raw.resize(raw.size() * 4); continue; }
        if (rc != Z_OK) throw std::runtime_error("bad reference " + name);
        raw.resize(len);
        break;
    }
    std::vector<uint16_t> out;
    if (wide) {
        for (size_t i = 0; i + 1 < raw.size(); i += 2) out.push_back(uint16_t(raw[i] << 8 | raw[i + 1]));
    } else {
        for (uint8_t v : raw) out.push_back(uint16_t(v * 257));
    }
    return out;
}

// The same reference reduced to 8 bits a sample (high byte of the 16-bit samples).
inline std::vector<uint8_t> PngSuiteReference8(const std::string& name) {
    auto wide = PngSuiteReference16(name);
    std::vector<uint8_t> out(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) out[i] = uint8_t(wide[i] >> 8);
    return out;
}

}  // namespace jx::test
