#include "fileio/palette_file.h"

#include <filesystem>

#include "fileio/open_image.h"
#include "fileio/replace_file.h"
#include "imaging/settings.h"
#include "imaging/sort.h"
#include "platform/parse_int.h"
#include "platform/read_file.h"

namespace jx {
namespace {

std::string Extension(const std::string& fileName) { return std::filesystem::path(fileName).extension().string(); }

// Far above any palette a person keeps; a larger file is not one.
constexpr uint64_t kMaxPaletteFileSize = 16u << 20;

std::vector<uint8_t> ReadAll(const std::string& fileName) {
    std::vector<uint8_t> bytes;
    switch (ReadWholeFile(fileName, kMaxPaletteFileSize, bytes)) {
        case FileReadFailure::None: return bytes;
        case FileReadFailure::CannotOpen: throw FileIoError("Cannot open palette file \"" + fileName + "\".");
        case FileReadFailure::TooLarge: throw FileIoError("\"" + fileName + "\" is too large for a palette file.");
        case FileReadFailure::CannotRead: break;
    }
    throw FileIoError("Cannot read palette file \"" + fileName + "\".");
}

std::vector<std::string> SplitLines(const std::vector<uint8_t>& bytes) {
    std::vector<std::string> lines;
    std::string line;
    for (const uint8_t b : bytes) {
        const char c = static_cast<char>(b);
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(std::move(line));
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    for (char c : line) {
        if (c == ' ' || c == '\t') {
            if (!field.empty()) fields.push_back(std::move(field));
            field.clear();
        } else {
            field += c;
        }
    }
    if (!field.empty()) fields.push_back(std::move(field));
    return fields;
}

std::vector<TPaletteColor> ReadJasc(const std::string& fileName) {
    const std::vector<std::string> lines = SplitLines(ReadAll(fileName));
    auto damaged = [&](const std::string& why) {
        return FileIoError("Damaged palette file \"" + fileName + "\": " + why);
    };
    if (lines.empty() || lines[0] != "JASC-PAL")
        throw FileIoError("\"" + fileName + "\" is not a JASC palette file (its first line is not \"JASC-PAL\").");
    if (lines.size() < 3) throw damaged("the colour count is missing.");
    int64_t n = 0;
    if (!ParseInt(SplitFields(lines[2]).empty() ? std::string() : SplitFields(lines[2])[0], n) ||
        SplitFields(lines[2]).size() != 1)
        throw damaged("the colour count \"" + lines[2] + "\" is not a number.");
    if (n < 1) throw damaged("it holds no colours.");
    if (n > kMaxColorCount) throw damaged("more than " + std::to_string(kMaxColorCount) + " colours.");
    if (static_cast<int64_t>(lines.size()) < n + 3)
        throw damaged("it lists " + std::to_string(lines.size() - 3) + " of " + std::to_string(n) + " colours.");
    std::vector<TPaletteColor> colors(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        const size_t lineNo = static_cast<size_t>(i) + 3;
        const std::vector<std::string> f = SplitFields(lines[lineNo]);
        if (f.size() < 3) throw damaged("line " + std::to_string(lineNo + 1) + " has fewer than three numbers.");
        int64_t v[4] = {0, 0, 0, 255};
        const size_t count = f.size() == 4 ? 4 : 3;
        for (size_t k = 0; k < count; ++k) {
            if (!ParseInt(f[k], v[k]))
                throw damaged("\"" + f[k] + "\" on line " + std::to_string(lineNo + 1) + " is not a whole number.");
            if (v[k] < 0 || v[k] > 255)
                throw damaged(f[k] + " on line " + std::to_string(lineNo + 1) + " lies outside 0..255.");
        }
        colors[static_cast<size_t>(i)] = {uint8_t(v[0]), uint8_t(v[1]), uint8_t(v[2]), uint8_t(v[3])};
    }
    return colors;
}

std::vector<TPaletteColor> ReadAct(const std::string& fileName) {
    const std::vector<uint8_t> bytes = ReadAll(fileName);
    if (bytes.size() < 768)
        throw FileIoError("Damaged palette file \"" + fileName + "\": " + std::to_string(bytes.size()) +
                          " bytes, a colour table holds 768.");
    std::vector<TPaletteColor> colors(256);
    for (size_t i = 0; i < 256; ++i)
        colors[i] = {uint8_t(bytes[3 * i]), uint8_t(bytes[3 * i + 1]), uint8_t(bytes[3 * i + 2]), 255};
    return colors;
}

}  // namespace

std::vector<TPaletteColor> ReadPaletteFile(const std::string& fileName) {
    const std::string ext = Extension(fileName);
    if (ext == ".act") return ReadAct(fileName);
    if (ext == ".pal") return ReadJasc(fileName);
    throw FileIoError("\"" + fileName + "\" is not a palette file: the name must end in \".pal\" or \".act\".");
}

bool RemovePaletteDuplicates(EngineState& state) {
    const int32_t n = std::min<int32_t>(state.PaletteSize, static_cast<int32_t>(state.Palette.size()));
    if (n <= 0) return false;
    for (int32_t i = 0; i < n; ++i) state.Palette[size_t(i)].Weight = 1;
    int32_t removed = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (state.Palette[size_t(i)].Weight <= 0) continue;
        for (int32_t j = i + 1; j < n; ++j) {
            TPixelRec& q = state.Palette[size_t(j)];
            if (q.Weight > 0 && SameRgba(q, state.Palette[size_t(i)])) {
                q.Weight = 0;
                ++removed;
            }
        }
    }
    if (removed == 0) return false;
    state.PaletteSize = n - removed;
    SortPalette(state, n, SortByWeight);
    return true;
}

void LoadPalette(EngineState& state, const std::string& fileName) {
    if (state.Palette.empty()) return;
    const std::vector<TPaletteColor> colors = ReadPaletteFile(fileName);  // before anything changes

    for (TPixelRec& p : state.Palette) ClearPixel(state, p);
    const size_t n = colors.size();
    state.Palette.resize(n);
    for (size_t i = 0; i < n; ++i) {
        TPixelRec& p = state.Palette[i];
        p = TPixelRec{};
        p.R = colors[i].R;
        p.G = colors[i].G;
        p.B = colors[i].B;
        p.A = colors[i].A;
        state.Convert(p);
        p.Weight = 0;
    }
    state.PaletteSize = static_cast<int32_t>(n);
    if (state.PaletteOrder.size() < n) state.PaletteOrder.resize(n);
    for (size_t i = 0; i < state.PaletteOrder.size(); ++i) state.PaletteOrder[i] = static_cast<int32_t>(i);
    SortPalette(state, state.PaletteSize, SortByColor);
    RemovePaletteDuplicates(state);
    // This arrangement is the one the palette is built in: later remaps go back to it.
    for (size_t i = 0; i < state.PaletteOrder.size(); ++i) state.PaletteOrder[i] = static_cast<int32_t>(i);
}

TPaletteTarget PaletteSaveTarget(const std::string& fileName, int32_t filterIndex) {
    if (filterIndex != 1 && filterIndex != 2)
        throw FileIoError("Unknown palette format " + std::to_string(filterIndex) + ".");
    const std::string ext = LowerExtension(fileName);
    if (ext == ".pal") return {fileName, 1};
    if (ext == ".act") return {fileName, 2};
    if (!ext.empty()) return {fileName, filterIndex};
    return {fileName + (filterIndex == 2 ? ".act" : ".pal"), filterIndex};
}

std::string SavePalette(const EngineState& state, const std::string& fileName, int32_t filterIndex) {
    const int32_t n = std::min<int32_t>(state.PaletteSize, static_cast<int32_t>(state.Palette.size()));
    if (state.PaletteSize <= 0 || n <= 0)
        throw FileIoError("There is no palette to save: the image is shown in true colour.");
    const TPaletteTarget target = PaletteSaveTarget(fileName, filterIndex);
    const std::string& name = target.Name;
    if (target.Format == 2) {
        if (n > 256) throw PaletteTooLargeError();
        std::vector<uint8_t> bytes(768, 0);
        for (int32_t i = 0; i < n; ++i) {
            const TPixelRec& p = state.Palette[size_t(i)];
            bytes[3 * size_t(i)] = p.R;
            bytes[3 * size_t(i) + 1] = p.G;
            bytes[3 * size_t(i) + 2] = p.B;
        }
        ReplaceFileWithBytes(name, bytes);
    } else {
        std::string text = "JASC-PAL\r\n0100\r\n" + std::to_string(n) + "\r\n";
        for (int32_t i = 0; i < n; ++i) {
            const TPixelRec& p = state.Palette[size_t(i)];
            text += std::to_string(p.R) + " " + std::to_string(p.G) + " " + std::to_string(p.B) + " " +
                    std::to_string(p.A) + "\r\n";
        }
        ReplaceFileWithBytes(name, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    }
    return name;
}

void SetCustomPaletteFile(EngineState& state, const std::string& fileName) {
    state.LoadCustomPalette = [fileName](EngineState& s) { LoadPalette(s, fileName); };
}

}  // namespace jx
