#include "edit/state_files.h"

#include <charconv>
#include <string_view>
#include <unordered_map>

#include "edit/errors.h"
#include "platform/byte_order.h"

namespace jx {
namespace {

constexpr size_t kBmpHeader = 14 + 40;

void Put16(TBytes& b, size_t at, uint16_t v) { PutLittleEndian16(&b[at], v); }
void Put32(TBytes& b, size_t at, uint32_t v) { PutLittleEndian32(&b[at], v); }
uint32_t Get32(const TBytes& b, size_t at) { return LittleEndian32(&b[at]); }
uint16_t Get16(const TBytes& b, size_t at) { return LittleEndian16(&b[at]); }

[[noreturn]] void Damaged(const char* what) { throw EditError(std::string("Damaged undo state: ") + what); }

}  // namespace

TBytes EncodeStateImage(const TPixelImage& image) {
    const uint64_t w = static_cast<uint64_t>(image.Width()), h = static_cast<uint64_t>(image.Height());
    const uint64_t data = w * h * 4;
    if (data > 0xFFFFFFFFull - kBmpHeader) throw EditError("The image is too large for an undo state");
    TBytes b(kBmpHeader + data, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, static_cast<uint32_t>(b.size()));
    Put32(b, 10, kBmpHeader);
    Put32(b, 14, 40);
    Put32(b, 18, static_cast<uint32_t>(w));
    Put32(b, 22, static_cast<uint32_t>(h));
    Put16(b, 26, 1);
    Put16(b, 28, 32);
    Put32(b, 34, static_cast<uint32_t>(data));
    uint8_t* out = b.data() + kBmpHeader;
    for (int32_t y = image.Height() - 1; y >= 0; --y) {
        const TPixelRec* row = image[y];
        for (uint64_t x = 0; x < w; ++x, out += 4) {
            out[0] = row[x].B;
            out[1] = row[x].G;
            out[2] = row[x].R;
            out[3] = row[x].A;
        }
    }
    return b;
}

TPixelImage DecodeStateImage(const TBytes& b) {
    if (b.size() < kBmpHeader || b[0] != 'B' || b[1] != 'M' || Get32(b, 14) != 40 || Get16(b, 28) != 32 ||
        Get32(b, 30) != 0)
        Damaged("not a 32-bit bitmap");
    const int32_t w = static_cast<int32_t>(Get32(b, 18)), h = static_cast<int32_t>(Get32(b, 22));
    const uint32_t offset = Get32(b, 10);
    if (w <= 0 || h <= 0) Damaged("bad image size");
    if (offset < kBmpHeader || b.size() - offset != uint64_t(w) * uint64_t(h) * 4) Damaged("image data size");
    TPixelImage image(w, h);
    const uint8_t* in = b.data() + offset;
    for (int32_t y = h - 1; y >= 0; --y) {
        TPixelRec* row = image[y];
        for (int32_t x = 0; x < w; ++x, in += 4) {
            row[x].B = in[0];
            row[x].G = in[1];
            row[x].R = in[2];
            row[x].A = in[3];
        }
    }
    return image;
}

namespace {

constexpr size_t kWorkingHeader = 16;
constexpr uint32_t kWorkingTableMax = 65536;

uint32_t RgbaKey(const TPixelRec& p) {
    return uint32_t{p.R} | uint32_t{p.G} << 8 | uint32_t{p.B} << 16 | uint32_t{p.A} << 24;
}

}  // namespace

TBytes EncodeStateWorking(const TPixelImage& image) {
    const uint64_t n = static_cast<uint64_t>(image.Count());
    if (n * 4 > 0xFFFFFFFFull - kWorkingHeader - kWorkingTableMax * 4)
        throw EditError("The image is too large for an undo state");
    // The output holds palette colours: a table of them and an index a pixel.
    std::unordered_map<uint32_t, uint32_t> index;
    std::vector<uint32_t> table;
    std::vector<uint32_t> at(static_cast<size_t>(n));
    const TPixelRec* px = image.Data();
    // A dithered output changes colour almost every pixel: a small direct-mapped cache in front
    // of the map answers most of them.
    struct TSlot {
        uint32_t key = 0, index = 0;
        bool used = false;
    };
    std::vector<TSlot> cache(4096);
    bool literal = false;
    for (uint64_t i = 0; i < n && !literal; ++i) {
        const uint32_t key = RgbaKey(px[i]);
        TSlot& slot = cache[(key * 2654435761u) >> 20];
        if (!slot.used || slot.key != key) {
            const auto [it, added] = index.emplace(key, static_cast<uint32_t>(table.size()));
            if (added) table.push_back(key);
            literal = table.size() > kWorkingTableMax;
            slot = {key, it->second, true};
        }
        at[i] = slot.index;
    }
    if (literal) table.clear();
    const size_t width = literal ? 4 : table.size() <= 256 ? 1 : 2;
    TBytes b(kWorkingHeader + table.size() * 4 + static_cast<size_t>(n) * width);
    b[0] = 'J', b[1] = 'X', b[2] = 'W', b[3] = 'K';
    Put32(b, 4, static_cast<uint32_t>(image.Width()));
    Put32(b, 8, static_cast<uint32_t>(image.Height()));
    Put32(b, 12, static_cast<uint32_t>(table.size()));
    size_t o = kWorkingHeader;
    for (const uint32_t key : table) Put32(b, o, key), o += 4;
    for (uint64_t i = 0; i < n; ++i) {
        if (width == 4)
            Put32(b, o, RgbaKey(px[i]));
        else if (width == 2)
            Put16(b, o, static_cast<uint16_t>(at[i]));
        else
            b[o] = static_cast<uint8_t>(at[i]);
        o += width;
    }
    return b;
}

TPixelImage DecodeStateWorking(const TBytes& b) {
    if (b.size() < kWorkingHeader || b[0] != 'J' || b[1] != 'X' || b[2] != 'W' || b[3] != 'K')
        Damaged("not a working image");
    const uint32_t w = Get32(b, 4), h = Get32(b, 8), count = Get32(b, 12);
    if (w == 0 || h == 0 || w > 0x7FFFFFFF || h > 0x7FFFFFFF || count > kWorkingTableMax)
        Damaged("working image size");
    const uint64_t n = uint64_t{w} * h;
    const size_t width = count == 0 ? 4 : count <= 256 ? 1 : 2;
    if (b.size() != kWorkingHeader + uint64_t{count} * 4 + n * width) Damaged("working image data size");
    TPixelImage image(static_cast<int32_t>(w), static_cast<int32_t>(h));
    auto put = [](TPixelRec& p, uint32_t key) {
        p.R = static_cast<uint8_t>(key);
        p.G = static_cast<uint8_t>(key >> 8);
        p.B = static_cast<uint8_t>(key >> 16);
        p.A = static_cast<uint8_t>(key >> 24);
    };
    std::vector<uint32_t> table(count);
    for (uint32_t i = 0; i < count; ++i) table[i] = Get32(b, kWorkingHeader + size_t{i} * 4);
    size_t o = kWorkingHeader + size_t{count} * 4;
    TPixelRec* px = image.Data();
    for (uint64_t i = 0; i < n; ++i, o += width) {
        uint32_t v = width == 4 ? Get32(b, o) : width == 2 ? Get16(b, o) : b[o];
        if (width != 4) {
            if (v >= count) Damaged("working image colour index");
            v = table[v];
        }
        put(px[i], v);
    }
    return image;
}

TBytes EncodeStateMask(const TByteImage& mask) { return TBytes(mask.Vector().begin(), mask.Vector().end()); }

TByteImage DecodeStateMask(const TBytes& bytes, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0 || bytes.size() != uint64_t(width) * uint64_t(height)) Damaged("mask size");
    TByteImage mask(width, height);
    std::copy(bytes.begin(), bytes.end(), mask.Data());
    return mask;
}

TBytes EncodeStatePalette(const std::vector<TPixelRec>& palette, int32_t count) {
    if (count < 0 || static_cast<size_t>(count) > palette.size()) throw EditError("Palette shorter than its size");
    std::string t = "JASC-PAL\r\n0100\r\n" + std::to_string(count) + "\r\n";
    for (int32_t i = 0; i < count; ++i) {
        const TPixelRec& p = palette[static_cast<size_t>(i)];
        t += std::to_string(p.R) + ' ' + std::to_string(p.G) + ' ' + std::to_string(p.B) + ' ' +
             std::to_string(p.A) + "\r\n";
    }
    return TBytes(t.begin(), t.end());
}

std::vector<TPixelRec> DecodeStatePalette(const TBytes& bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::vector<std::string_view> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        at = end + 1;
    }
    auto number = [](std::string_view s, int32_t max) {
        int32_t v = -1;
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
        if (ec != std::errc() || end != s.data() + s.size() || v < 0 || v > max) Damaged("palette number");
        return v;
    };
    if (lines.size() < 3 || lines[0] != "JASC-PAL") Damaged("not a palette");
    const int32_t n = number(lines[2], 65536);
    if (lines.size() < size_t(n) + 3) Damaged("palette shorter than its count");
    std::vector<TPixelRec> out(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        std::string_view line = lines[size_t(i) + 3];
        int32_t f[4];
        for (int k = 0; k < 4; ++k) {
            const size_t sp = line.find(' ');
            if ((k < 3) == (sp == std::string_view::npos)) Damaged("palette entry");
            f[k] = number(line.substr(0, sp), 255);
            line = sp == std::string_view::npos ? std::string_view() : line.substr(sp + 1);
        }
        TPixelRec& p = out[static_cast<size_t>(i)];
        p.R = static_cast<uint8_t>(f[0]);
        p.G = static_cast<uint8_t>(f[1]);
        p.B = static_cast<uint8_t>(f[2]);
        p.A = static_cast<uint8_t>(f[3]);
    }
    return out;
}

TBytes EncodeStateParams(const TStateParams& params) {
    TBytes b(8);
    Put32(b, 0, static_cast<uint32_t>(params.PaletteSize));
    Put32(b, 4, static_cast<uint32_t>(params.ColorListLength));
    return b;
}

TStateParams DecodeStateParams(const TBytes& bytes) {
    if (bytes.size() != 8) Damaged("parameter file size");
    return {static_cast<int32_t>(Get32(bytes, 0)), static_cast<int32_t>(Get32(bytes, 4))};
}

}  // namespace jx
