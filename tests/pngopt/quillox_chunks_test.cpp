#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>

#include "common/test_data.h"
#include "pngopt/chunks.h"
#include "pngopt/encoder.h"
#include "pngopt/output.h"
#include "quillox_test_util.h"

namespace jx::quillox {
namespace {
using test::Opts;

std::vector<uint8_t> Profile(const char* space) {
    std::vector<uint8_t> profile(128, 0);
    std::copy(space, space + 4, profile.begin() + 16);
    uLongf size = compressBound(profile.size());
    std::vector<uint8_t> z(size);
    compress(z.data(), &size, profile.data(), profile.size());
    std::vector<uint8_t> data(3 + size, 0);
    data[0] = 'p';
    std::copy(z.begin(), z.begin() + long(size), data.begin() + 3);
    return data;
}

// A 64 x 64 RGB PNG of four colours with a set of ancillary chunks.
std::vector<uint8_t> SamplePng(bool withProfile = false) {
    PngImage png(64, 64, kPngRgb, 8);
    for (uint32_t y = 0; y < 64; ++y)
        for (uint32_t x = 0; x < 64; ++x) {
            png.SetSample(x, y, 0, uint16_t((x * 7 + y) % 5 < 2 ? 200 : 10));
            png.SetSample(x, y, 1, uint16_t((y * 3 + x) % 7 < 3 ? 100 : 20));
            png.SetSample(x, y, 2, 30);
        }
    png.SetGamma(45455);
    png.AddChunk("sBIT", {5, 6, 5});
    if (withProfile) png.AddChunk("iCCP", Profile("RGB "));
    png.AddChunk("bKGD", {0, 10, 0, 20, 0, 30});
    png.AddChunk("pHYs", {0, 0, 11, 19, 0, 0, 11, 19, 1});
    png.AddText("Title", "hello", false);
    png.AddText("Author", "me", false);
    png.AddChunk("tIME", {7, 234, 1, 2, 3, 4, 5});
    return png.Encode();
}

// A PNG file taken apart into its chunks and put together again, for inputs made from whole files.
struct FileChunk {
    std::string name;
    std::vector<uint8_t> data;
};

std::vector<FileChunk> SplitPng(const std::vector<uint8_t>& file) {
    std::vector<FileChunk> chunks;
    for (size_t pos = 8; pos + 12 <= file.size();) {
        const size_t length = size_t(file[pos]) << 24 | size_t(file[pos + 1]) << 16 | size_t(file[pos + 2]) << 8 | file[pos + 3];
        chunks.push_back({std::string(file.begin() + long(pos) + 4, file.begin() + long(pos) + 8),
                          std::vector<uint8_t>(file.begin() + long(pos) + 8, file.begin() + long(pos + 8 + length))});
        pos += length + 12;
    }
    return chunks;
}

std::vector<uint8_t> ChunkBytes(const FileChunk& c) {
    std::vector<uint8_t> out;
    for (int shift : {24, 16, 8, 0}) out.push_back(uint8_t(c.data.size() >> shift));
    out.insert(out.end(), c.name.begin(), c.name.end());
    out.insert(out.end(), c.data.begin(), c.data.end());
    const uLong crc = crc32(0, out.data() + 4, uInt(c.data.size() + 4));
    for (int shift : {24, 16, 8, 0}) out.push_back(uint8_t(crc >> shift));
    return out;
}

std::vector<uint8_t> JoinPng(const std::vector<FileChunk>& chunks) {
    std::vector<uint8_t> out = {137, 80, 78, 71, 13, 10, 26, 10};
    for (const FileChunk& c : chunks) {
        const std::vector<uint8_t> bytes = ChunkBytes(c);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

size_t IndexOf(const std::vector<FileChunk>& chunks, const std::string& name) {
    return size_t(std::find_if(chunks.begin(), chunks.end(), [&](const FileChunk& c) { return c.name == name; }) -
                  chunks.begin());
}

std::vector<uint8_t> Suite(const char* name) { return jx::test::ReadBytes(jx::test::PngSuiteDir() / (std::string(name) + ".png")); }

std::vector<std::string> Names(const OutputImage& out) {
    std::vector<std::string> n;
    for (const PngChunk& c : out.chunks) n.push_back(c.Name);
    return n;
}

OutputImage Convert(const std::vector<std::string>& args, const std::vector<uint8_t>& file,
                    std::vector<std::string>* warnings = nullptr) {
    Options o = Opts(args);
    WorkImage image = ReadPng(file, ReadSettings{o.gammaMode});
    Analyze(image);
    OutputImage out = BuildOutputImage(image, o);
    CopyMetadataChunks(image, out, o, warnings);
    return out;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

const PngChunk* Find(const OutputImage& out, const std::string& name) {
    auto it = std::find_if(out.chunks.begin(), out.chunks.end(), [&](const PngChunk& c) { return c.Name == name; });
    return it == out.chunks.end() ? nullptr : &*it;
}

const std::string kNearest = "bKGD: the palette is full, the nearest colour stands in";

TEST(QuilloxChunks, OrdinaryRoadKeepsAndRemovesByList) {
    const std::vector<uint8_t> file = SamplePng();
    OutputImage all = Convert({}, file);
    EXPECT_EQ(all.chunks.size(), 6u);
    EXPECT_TRUE(all.hasGamma);
    OutputImage none = Convert({"/md", "remove", "all"}, file);
    EXPECT_TRUE(none.chunks.empty());
    EXPECT_TRUE(none.hasGamma);  // gAMA follows "/g", not the list
    OutputImage three = Convert({"/md", "keep", "tEXt,bKGD,pHYs"}, file);
    std::vector<std::string> names = Names(three);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"bKGD", "pHYs", "tEXt", "tEXt"}));
    OutputImage late = Convert({"/md", "remove", "pHYs,all"}, file);
    EXPECT_TRUE(late.chunks.empty());
    OutputImage z = Convert({"/tz"}, file);
    auto it = std::find_if(z.chunks.begin(), z.chunks.end(), [](const PngChunk& c) { return c.Name == "zTXt"; });
    ASSERT_NE(it, z.chunks.end());
    EXPECT_EQ(PngImage::ReadText(*it), (std::pair<std::string, std::string>{"Title", "hello"}));
    const std::vector<std::string> zNames = Names(z);
    EXPECT_EQ(std::count(zNames.begin(), zNames.end(), std::string("tEXt")), 0);
}

// The sample becomes a 2-bit palette: sBIT, bKGD follow, an RGB profile still fits, and the
// written file is one the decoder accepts.
TEST(QuilloxChunks, ChunksFollowAChangeOfLayout) {
    OutputImage out = Convert({}, SamplePng(true));
    ASSERT_EQ(out.colorType, 3);
    for (const PngChunk& c : out.chunks) {
        if (c.Name == "sBIT") { EXPECT_EQ(c.Data, (std::vector<uint8_t>{5, 6, 5})); }
        if (c.Name == "bKGD") {
            ASSERT_EQ(c.Data.size(), 1u);
            EXPECT_LT(c.Data[0], out.palette.size());
            EXPECT_EQ(out.palette[c.Data[0]].r, 10);
        }
    }
    const std::vector<std::string> names = Names(out);
    EXPECT_EQ(std::count(names.begin(), names.end(), std::string("iCCP")), 1);
    std::vector<uint8_t> bytes = EncodePngJx(out, EncodeSettings{}).bytes;
    PngImage decoded = PngImage::Decode(bytes);
    EXPECT_NE(decoded.FindChunk("bKGD"), nullptr);

    // A grey image: RGB sBIT shrinks to one value, the RGB profile goes, hIST is not kept.
    PngImage grey(8, 8, kPngRgb, 8);
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 8; ++x)
            for (unsigned c = 0; c < 3; ++c) grey.SetSample(x, y, c, uint16_t(x < 4 ? 0 : 255));
    grey.AddChunk("sBIT", {3, 4, 2});
    grey.AddChunk("iCCP", Profile("RGB "));
    grey.AddChunk("bKGD", {0, 255, 0, 255, 0, 255});
    OutputImage g = Convert({}, grey.Encode());
    ASSERT_EQ(g.colorType, 0);
    ASSERT_EQ(g.bitDepth, 1);
    for (const PngChunk& c : g.chunks) {
        EXPECT_NE(c.Name, "iCCP");
        if (c.Name == "sBIT") { EXPECT_EQ(c.Data, (std::vector<uint8_t>{1})); }
        if (c.Name == "bKGD") { EXPECT_EQ(c.Data, (std::vector<uint8_t>{0, 1})); }
    }
    EXPECT_NO_THROW(PngImage::Decode(EncodePngJx(g, EncodeSettings{}).bytes));
}

TEST(QuilloxChunks, HistogramRebuiltForTheNewPalette) {
    PngImage png(4, 4, kPngPalette, 8);
    png.Palette = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) png.SetSample(x, y, 0, uint16_t(x == 0 ? 1 : 2));
    png.AddChunk("hIST", {0, 1, 0, 2, 0, 3});
    OutputImage out = Convert({"/nc"}, png.Encode());
    ASSERT_EQ(out.colorType, 3);
    auto it = std::find_if(out.chunks.begin(), out.chunks.end(), [](const PngChunk& c) { return c.Name == "hIST"; });
    ASSERT_NE(it, out.chunks.end());
    EXPECT_EQ(it->Data.size(), out.palette.size() * 2);
    EXPECT_NO_THROW(PngImage::Decode(EncodePngJx(out, EncodeSettings{}).bytes));
}

TEST(QuilloxChunks, ChunkOnlyCopy) {
    const std::vector<uint8_t> file = SamplePng();
    bool write = false;
    std::vector<uint8_t> noText = CopyChunksOnly(file, Opts({"/nz", "/md", "remove", "text"}), &write);
    ASSERT_TRUE(write);
    std::vector<std::string> names = PngImage::ListChunks(noText);
    std::vector<std::string> expected = PngImage::ListChunks(file);
    expected.erase(std::remove(expected.begin(), expected.end(), std::string("tEXt")), expected.end());
    EXPECT_EQ(names, expected);
    EXPECT_EQ(noText.size(), file.size() - 2 * 12 - (6 + 5) - (7 + 2));

    CopyChunksOnly(file, Opts({"/nz", "/md", "keep", "all"}), &write);
    EXPECT_FALSE(write);
    std::vector<uint8_t> bare = CopyChunksOnly(file, Opts({"/o0"}), &write);
    EXPECT_TRUE(write);
    EXPECT_EQ(PngImage::ListChunks(bare), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    std::vector<uint8_t> late = CopyChunksOnly(file, Opts({"/nz", "/md", "remove", "bKGD,all"}), &write);
    EXPECT_EQ(PngImage::ListChunks(late), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));

    EXPECT_THROW(CopyChunksOnly({1, 2, 3}, Opts({"/o0"}), &write), InputError);
    std::vector<uint8_t> cut(file.begin(), file.end() - 5);
    EXPECT_THROW(CopyChunksOnly(cut, Opts({"/o0"}), &write), InputError);
}

// The copy walks the chunks through the PNG layer: every sound chunk it keeps, also one after
// IEND, comes out byte for byte; an ancillary chunk with a bad CRC stays behind with a report
// line; structural damage, a damaged critical chunk or a missing IEND refuses the file.
TEST(QuilloxChunks, ChunkOnlyCopyKeepsTheBytesOfWhatItCopies) {
    std::vector<FileChunk> chunks = SplitPng(Suite("ct1n0g04"));
    chunks.push_back({"tIME", {7, 234, 1, 2, 3, 4, 5}});  // after IEND
    const std::vector<uint8_t> file = JoinPng(chunks);
    bool write = false;
    std::vector<std::string> warnings;
    const Options removeGamma = Opts({"/nz", "/md", "remove", "gAMA"});
    std::vector<FileChunk> expected = chunks;
    expected.erase(expected.begin() + long(IndexOf(expected, "gAMA")));
    EXPECT_EQ(CopyChunksOnly(file, removeGamma, &write, &warnings), JoinPng(expected));
    EXPECT_TRUE(write);
    EXPECT_TRUE(warnings.empty());

    std::vector<uint8_t> badText = file;
    const size_t text = IndexOf(chunks, "tEXt");
    size_t crcAt = 8;
    for (size_t i = 0; i <= text; ++i) crcAt += chunks[i].data.size() + 12;
    badText[crcAt - 1] ^= 1;
    expected.erase(expected.begin() + long(IndexOf(expected, "tEXt")));
    EXPECT_EQ(CopyChunksOnly(badText, removeGamma, &write, &warnings), JoinPng(expected));
    EXPECT_EQ(warnings, std::vector<std::string>{"tEXt: CRC error, chunk dropped"});

    auto refused = [&](const std::vector<uint8_t>& bytes, const std::string& why) {
        write = true;
        try {
            CopyChunksOnly(bytes, removeGamma, &write);
            ADD_FAILURE() << "not refused: " << why;
        } catch (const InputError& e) {
            EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
        }
        EXPECT_FALSE(write);
    };
    std::vector<uint8_t> longChunk = file;
    longChunk[crcAt + 1] ^= 0x10;  // the next chunk's length runs past the end of the file
    refused(longChunk, "truncated");
    std::vector<uint8_t> idatBytes = file;
    size_t idatEnd = 8;
    for (size_t i = 0; i <= IndexOf(chunks, "IDAT"); ++i) idatEnd += chunks[i].data.size() + 12;
    idatBytes[idatEnd - 1] ^= 1;
    refused(idatBytes, "bad CRC in chunk IDAT");
    std::vector<uint8_t> badName = file;
    badName[12] = '1';
    refused(badName, "damaged chunk name");
    std::vector<FileChunk> noEnd = SplitPng(Suite("ct1n0g04"));
    noEnd.pop_back();
    refused(JoinPng(noEnd), "no IEND");
    refused({137, 80, 78, 71, 13, 10, 26, 10}, "Not a PNG file");
}

// hIST keeps its place among the other chunks; its counts follow the final palette, also when the
// background added an entry after it.
TEST(QuilloxChunks, HistogramKeepsItsPlace) {
    std::vector<FileChunk> chunks = SplitPng(Suite("ch1n3p04"));  // gAMA sBIT PLTE hIST IDAT
    const size_t hist = IndexOf(chunks, "hIST");
    chunks.insert(chunks.begin() + long(hist) + 1, {{"tEXt", {'k', 0, 'v'}}, {"pHYs", {0, 0, 0, 1, 0, 0, 0, 1, 0}}});
    OutputImage out = Convert({}, JoinPng(chunks));
    ASSERT_EQ(out.colorType, kPngPalette);
    EXPECT_EQ(Names(out), (std::vector<std::string>{"sBIT", "hIST", "tEXt", "pHYs"}));

    // A 16th palette entry that no pixel uses, named by a bKGD after hIST: the output palette of
    // the 15 used colours gains it, and hIST counts it (as 0) where it stood.
    std::vector<uint8_t>& plte = chunks[IndexOf(chunks, "PLTE")].data;
    ASSERT_EQ(plte.size(), 45u);
    plte.insert(plte.end(), {1, 2, 3});
    chunks[hist].data.insert(chunks[hist].data.end(), {0, 0});
    chunks.insert(chunks.begin() + long(hist) + 1, {"bKGD", {15}});
    std::vector<std::string> warnings;
    out = Convert({}, JoinPng(chunks), &warnings);
    ASSERT_EQ(out.colorType, kPngPalette);
    ASSERT_EQ(out.palette.size(), 16u);
    EXPECT_EQ(Names(out), (std::vector<std::string>{"sBIT", "hIST", "bKGD", "tEXt", "pHYs"}));
    const PngChunk* h = Find(out, "hIST");
    ASSERT_EQ(h->Data.size(), 32u);
    EXPECT_EQ(h->Data[30] | h->Data[31], 0);
    EXPECT_EQ(Find(out, "bKGD")->Data, std::vector<uint8_t>{15});
    EXPECT_TRUE(warnings.empty());
    const PngImage decoded = PngImage::Decode(EncodePngJx(out, EncodeSettings{}).bytes);
    EXPECT_EQ(decoded.FindChunk("hIST")->Data.size(), decoded.Palette.size() * 2);
}

// A bKGD that names an entry the output palette holds points at that entry, transparent or not:
// no duplicate is added and nothing is re-pointed.
TEST(QuilloxChunks, BackgroundKeepsTheEntryItNames) {
    // tbwn3p08 names its one transparent entry, white.
    std::vector<std::string> warnings;
    OutputImage out = Convert({}, Suite("tbwn3p08"), &warnings);
    ASSERT_EQ(out.colorType, kPngPalette);
    ASSERT_NE(Find(out, "bKGD"), nullptr);
    const PaletteEntry& e = out.palette.at(Find(out, "bKGD")->Data.at(0));
    EXPECT_EQ((std::array<int, 4>{e.r, e.g, e.b, e.a}), (std::array<int, 4>{255, 255, 255, 0}));
    EXPECT_EQ(std::count_if(out.palette.begin(), out.palette.end(), [](const PaletteEntry& p) { return p.r == 255 && p.g == 255 && p.b == 255; }), 1);
    EXPECT_FALSE(Has(warnings, kNearest));
    out = Convert({"/np"}, Suite("tbwn3p08"));
    EXPECT_EQ(out.palette.size(), 245u);
    EXPECT_EQ(Find(out, "bKGD")->Data, std::vector<uint8_t>{0});

    // White twice, opaque and transparent, the bKGD naming the transparent one.
    PngImage png(4, 4, kPngPalette, 8);
    png.Palette = {{255, 255, 255}, {255, 255, 255}, {200, 0, 0}};
    png.PaletteAlpha = {255, 0};
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) png.SetSample(x, y, 0, uint16_t((x + y) % 3));
    png.AddChunk("bKGD", {1});
    out = Convert({"/np"}, png.Encode());
    EXPECT_EQ(out.palette.size(), 3u);
    EXPECT_EQ(Find(out, "bKGD")->Data, std::vector<uint8_t>{1});
    out = Convert({}, png.Encode());
    EXPECT_EQ(out.palette.size(), 3u);
    EXPECT_EQ(out.palette.at(Find(out, "bKGD")->Data.at(0)).a, 0);
    // A kept palette keeps the very index, also when an earlier entry is equal.
    png.Palette.push_back({255, 255, 255});
    png.PaletteAlpha.clear();
    png.Chunks.clear();
    png.AddChunk("bKGD", {3});
    out = Convert({"/nc", "/np"}, png.Encode());
    ASSERT_EQ(out.palette.size(), 4u);
    EXPECT_EQ(Find(out, "bKGD")->Data, std::vector<uint8_t>{3});
}

// With "/jx c=16" the palette holds at most 16 entries: a background colour it lacks takes the
// nearest entry, with its report line, which is given only then.
TEST(QuilloxChunks, ReducedPaletteStaysWithinTheCount) {
    int palettes = 0;
    for (const char* name : {"tbbn2c16", "tbgn2c16", "tbrn2c08", "bgwn6a08", "bgyn6a16"}) {
        for (const std::vector<std::string>& args : {std::vector<std::string>{"/jx", "c=16"},
                                                     std::vector<std::string>{"/jx", "c=16", "/l"}}) {
            SCOPED_TRACE(std::string(name) + (args.size() > 2 ? " /l" : ""));
            const std::vector<uint8_t> file = Suite(name);
            std::vector<std::string> warnings;
            OutputImage out = Convert(args, file, &warnings);
            // A true-colour layout may come out smaller; that holds no palette to bound.
            if (out.colorType != kPngPalette) continue;
            ++palettes;
            EXPECT_LE(out.palette.size(), 16u);
            const PngChunk* bkgd = Find(out, "bKGD");
            ASSERT_NE(bkgd, nullptr);
            ASSERT_LT(bkgd->Data.at(0), out.palette.size());
            // The input's background as 16-bit RGB (these inputs are grey+alpha, RGB and RGBA).
            const std::vector<uint8_t> d = PngImage::Decode(file).FindChunk("bKGD")->Data;
            const bool wide = file[24] == 16;
            uint32_t rgb[3];
            for (int c = 0; c < 3; ++c) {
                const size_t at = d.size() == 2 ? 0 : size_t(2 * c);
                rgb[c] = uint32_t(d[at] << 8 | d[at + 1]) * (wide ? 1 : 257);
            }
            const bool present = std::any_of(out.palette.begin(), out.palette.end(), [&](const PaletteEntry& e) {
                return e.r * 257u == rgb[0] && e.g * 257u == rgb[1] && e.b * 257u == rgb[2];
            });
            EXPECT_EQ(Has(warnings, kNearest), !present);
        }
    }
    EXPECT_GE(palettes, 6);
    // Below the count the background's exact colour is still added: tbbn3p08's 245 colours stay as
    // they are, and its black background, which no pixel has, comes in as a 246th entry.
    std::vector<std::string> warnings;
    OutputImage out = Convert({"/jx", "c=256"}, Suite("tbbn3p08"), &warnings);
    ASSERT_EQ(out.palette.size(), 246u);
    const PaletteEntry& black = out.palette.at(Find(out, "bKGD")->Data.at(0));
    EXPECT_EQ((std::array<int, 4>{black.r, black.g, black.b, black.a}), (std::array<int, 4>{0, 0, 0, 255}));
    EXPECT_FALSE(Has(warnings, kNearest));
}

// gAMA and every chunk moved from after the image data get a report line like the other chunks.
TEST(QuilloxChunks, GammaAndMovedChunksAreReported) {
    const std::vector<FileChunk> whole = SplitPng(Suite("basn2c08"));  // gAMA 100000, before IDAT
    const size_t gama = IndexOf(whole, "gAMA");
    ASSERT_LT(gama, whole.size());
    auto run = [&](const std::vector<FileChunk>& chunks, std::vector<std::string> args = {}) {
        std::vector<std::string> warnings;
        OutputImage out = Convert(args, JoinPng(chunks), &warnings);
        return std::pair{out, warnings};
    };
    auto [plain, plainLines] = run(whole);
    EXPECT_TRUE(plain.hasGamma);
    EXPECT_TRUE(plainLines.empty());

    std::vector<FileChunk> shortGamma = whole;
    shortGamma[gama].data.pop_back();
    auto [s, sLines] = run(shortGamma);
    EXPECT_FALSE(s.hasGamma);
    EXPECT_EQ(sLines, std::vector<std::string>{"gAMA: wrong length, chunk dropped"});

    std::vector<FileChunk> twice = whole;
    twice.insert(twice.begin() + long(gama) + 1, {"gAMA", {0, 0, 0xB1, 0x8F}});
    auto [t, tLines] = run(twice);
    EXPECT_TRUE(t.hasGamma);
    EXPECT_EQ(t.gamma, 100000u);
    EXPECT_EQ(tLines, std::vector<std::string>{"gAMA: repeated, chunk dropped"});
    // "/g0" removes every gAMA, which is no news.
    auto [none, noneLines] = run(twice, {"/g0"});
    EXPECT_FALSE(none.hasGamma);
    EXPECT_TRUE(noneLines.empty());

    // A zero gAMA first: the next sound one is the gamma.
    std::vector<FileChunk> zeroFirst = twice;
    zeroFirst[gama].data = {0, 0, 0, 0};
    auto [z, zLines] = run(zeroFirst);
    EXPECT_TRUE(z.hasGamma);
    EXPECT_EQ(z.gamma, 45455u);
    EXPECT_EQ(zLines, std::vector<std::string>{"gAMA: zero gamma, chunk dropped"});

    // gAMA and tEXt after IDAT: both come out before it, each with its line; a tEXt before IDAT
    // has none.
    std::vector<FileChunk> late = whole;
    late.erase(late.begin() + long(gama));
    late.insert(late.begin() + long(IndexOf(late, "IDAT")), {"tEXt", {'a', 0, '1'}});
    late.insert(late.end() - 1, {{"gAMA", whole[gama].data}, {"tEXt", {'b', 0, '2'}}});
    auto [l, lLines] = run(late);
    EXPECT_TRUE(l.hasGamma);
    EXPECT_EQ(l.gamma, 100000u);
    EXPECT_EQ(lLines, (std::vector<std::string>{"gAMA: after the image data, chunk moved before it",
                                                "tEXt: after the image data, chunk moved before it"}));
    EXPECT_EQ(Names(l), (std::vector<std::string>{"tEXt", "tEXt"}));
}

}  // namespace
}  // namespace jx::quillox
