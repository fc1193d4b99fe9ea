// Command-line runs over a temporary folder: where results go, what they carry, and how
// failures are told.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/test_data.h"
#include "pngopt/pngenc/png_image.h"
#include "quillox_test_util.h"

namespace jx::quillox {
namespace {
namespace fs = std::filesystem;
using jx::test::ReadBytes;
using jx::test::WriteBytes;

// A 32 x 32 image of 1,024 colours, written loosely (no filters, fast deflate) so that the
// optimiser always beats it.
std::vector<uint8_t> MakePng(uint8_t colorType, uint8_t alpha(uint32_t x, uint32_t y),
                             const std::vector<std::pair<std::string, std::vector<uint8_t>>>& chunks = {}) {
    PngImage png(32, 32, colorType, 8);
    const unsigned colours = png.HasAlphaChannel() ? png.Channels() - 1 : png.Channels();
    for (uint32_t y = 0; y < 32; ++y)
        for (uint32_t x = 0; x < 32; ++x) {
            const uint16_t rgb[3] = {uint16_t(x * 8), uint16_t(y * 8), uint16_t((x * y) & 0xFF)};
            for (unsigned c = 0; c < colours; ++c) png.SetSample(x, y, c, colours == 1 ? uint16_t(x * 8 + y / 4) : rgb[c]);
            if (png.HasAlphaChannel()) png.SetSample(x, y, colours, alpha(x, y));
        }
    for (const auto& [name, data] : chunks) png.AddChunk(name, data);
    png.FilterSet = 1;
    png.CompressionLevel = 1;
    return png.Encode();
}
uint8_t Opaque(uint32_t, uint32_t) { return 255; }
uint8_t Binary(uint32_t x, uint32_t) { return x < 4 ? 0 : 255; }

// Flips a bit of the CRC of the first chunk of that name.
void BreakCrc(std::vector<uint8_t>& bytes, const std::string& name) {
    size_t pos = 8;
    while (pos + 12 <= bytes.size()) {
        const size_t length = size_t(bytes[pos]) << 24 | size_t(bytes[pos + 1]) << 16 | size_t(bytes[pos + 2]) << 8 | bytes[pos + 3];
        if (std::string(reinterpret_cast<const char*>(&bytes[pos + 4]), 4) == name) {
            bytes[pos + 8 + length] ^= 1;
            return;
        }
        pos += length + 12;
    }
    FAIL() << "no " << name;
}

std::vector<std::string> Chunks(const fs::path& file) { return PngImage::ListChunks(ReadBytes(file)); }
uint8_t ColorTypeOf(const fs::path& file) { return ReadBytes(file).at(25); }
bool HasTransparentPixels(const fs::path& file) {
    WorkImage image = ReadPng(ReadBytes(file), ReadSettings{GammaMode::Keep, false});
    Analyze(image);
    return image.analysis.transparent > 0;
}

class QuilloxCli : public test::TempDir {
protected:
    fs::path Put(const std::string& name, const std::vector<uint8_t>& bytes) {
        fs::create_directories((dir_ / name).parent_path());
        WriteBytes(dir_ / name, bytes);
        return dir_ / name;
    }
};

TEST_F(QuilloxCli, GluedPathOptionsAndParametersThatFindNothing) {
    const auto bytes = MakePng(kPngRgb, Opaque);
    const fs::path a = Put("a.png", bytes);
    const std::string out = (dir_ / "o").string();
    EXPECT_EQ(Run({"/quiet", "/dir" + out, "a.png"}), 0) << err_.str();
    EXPECT_EQ(ReadBytes(a), bytes);
    EXPECT_TRUE(fs::exists(dir_ / "o" / "a.png"));
    EXPECT_EQ(Run({"/quiet", "/out" + (dir_ / "r.png").string(), "a.png"}), 0);
    EXPECT_EQ(ReadBytes(a), bytes);
    EXPECT_TRUE(fs::exists(dir_ / "r.png"));

    // A name or mask that finds nothing stops the run before any file is touched.
    for (std::vector<std::string> args : {std::vector<std::string>{"/quiet", "missing.png", "a.png"},
                                          {"a.png", "none*.png"}, {"/quiet", "/dri", out, "a.png"}}) {
        EXPECT_EQ(Run(args), 1) << args[1];
        EXPECT_NE(err_.str().find("No such file, and no file matches it"), std::string::npos) << args[1];
        EXPECT_EQ(ReadBytes(a), bytes) << args[1];
    }
    EXPECT_EQ(Run({"/quiet", "/o4"}), 1);
    EXPECT_NE(err_.str().find("No input file given"), std::string::npos);
}

TEST_F(QuilloxCli, ColourChunksWithoutGammaGainNone) {
    const fs::path srgb = Put("s.png", MakePng(kPngRgb, Opaque, {{"sRGB", {0}}, {"pHYs", {0, 0, 0, 1, 0, 0, 0, 1, 0}}}));
    EXPECT_EQ(Run({"/quiet", "/dir", "out", "s.png"}), 0) << err_.str();
    EXPECT_EQ(Chunks(dir_ / "out" / "s.png"), (std::vector<std::string>{"IHDR", "sRGB", "pHYs", "IDAT", "IEND"}));
    EXPECT_EQ(Run({"/quiet", "/y", "/dir", "out", "/md", "remove", "all", "s.png"}), 0);
    EXPECT_EQ(Chunks(dir_ / "out" / "s.png"), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    // A real gAMA is still kept.
    Put("g.png", MakePng(kPngRgb, Opaque, {{"gAMA", {0, 0, 0xB1, 0x8F}}, {"sRGB", {0}}}));
    EXPECT_EQ(Run({"/quiet", "/dir", "out", "g.png"}), 0);
    EXPECT_EQ(Chunks(dir_ / "out" / "g.png"), (std::vector<std::string>{"IHDR", "gAMA", "sRGB", "IDAT", "IEND"}));
}

TEST_F(QuilloxCli, KeepColourTypeKeepsTheAlphaChannel) {
    Put("opaque.png", MakePng(kPngRgba, Opaque));
    Put("binary.png", MakePng(kPngRgba, Binary));
    Put("grey.png", MakePng(kPngGreyAlpha, Opaque));
    EXPECT_EQ(Run({"/quiet", "/nc", "/dir", "nc", "*.png"}), 0) << err_.str();
    EXPECT_EQ(ColorTypeOf(dir_ / "nc" / "opaque.png"), kPngRgba);
    EXPECT_EQ(ColorTypeOf(dir_ / "nc" / "binary.png"), kPngRgba);
    EXPECT_EQ(ColorTypeOf(dir_ / "nc" / "grey.png"), kPngGreyAlpha);
    EXPECT_EQ(Run({"/quiet", "/o4", "/nc", "/dir", "nc4", "opaque.png"}), 0);
    EXPECT_EQ(ColorTypeOf(dir_ / "nc4" / "opaque.png"), kPngRgba);
}

TEST_F(QuilloxCli, SecondInputForTheSameOutputIsRefused) {
    Put("one/x.png", MakePng(kPngRgb, Opaque));
    const auto second = MakePng(kPngRgba, Binary);
    const fs::path two = Put("two/x.png", second);
    for (std::vector<std::string> args : {std::vector<std::string>{"/r", "/dir", "out", "x.png"},
                                          {"/quiet", "/y", "/r", "/dir", "out", "x.png"}}) {
        fs::remove_all(dir_ / "out");
        EXPECT_EQ(Run(args), 1) << args[0];
        EXPECT_NE(err_.str().find(two.string() + "\nOutput file " + (dir_ / "out" / "x.png").string() +
                                  " was already written in this run"),
                  std::string::npos)
            << err_.str();
        EXPECT_FALSE(HasTransparentPixels(dir_ / "out" / "x.png")) << args[0];  // the first result stands
        EXPECT_EQ(ReadBytes(two), second);
    }
    // A result may not land on an input still to be read either.
    const auto first = ReadBytes(dir_ / "one" / "x.png");
    EXPECT_EQ(Run({"/quiet", "/y", "/dir", "two", "one/x.png", "two/x.png"}), 1);
    EXPECT_TRUE(HasTransparentPixels(two));  // optimised in place, not replaced by one/x.png
    EXPECT_EQ(ReadBytes(dir_ / "one" / "x.png"), first);
}

TEST_F(QuilloxCli, ChunkOnlyCopyInPlaceKeepsTheName) {
    Put("X.PNG", MakePng(kPngRgb, Opaque, {{"tEXt", {'k', 0, 'v'}}}));
    EXPECT_EQ(Run({"/quiet", "/o0", "X.PNG"}), 0);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"X.PNG"});
    EXPECT_EQ(Chunks(dir_ / "X.PNG"), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
}

TEST_F(QuilloxCli, FailuresGoToStandardErrorWithExitCodeOne) {
    auto good = MakePng(kPngRgb, Opaque);
    std::vector<uint8_t> cut(good.begin(), good.end() - 20);
    const fs::path damaged = Put("cut.png", cut);
    const fs::path text = Put("not.bmp", {'B', 'M', 1, 2, 3});
    for (const char* option : {"/o0", "/nz"}) {
        EXPECT_EQ(Run({"/quiet", option, "/md", "remove", "all", "cut.png"}), 1) << option;
        EXPECT_NE(err_.str().find(damaged.string() + "\n"), std::string::npos) << option;
        EXPECT_EQ(ReadBytes(damaged), cut);
    }
    EXPECT_EQ(Run({"/o0", "not.bmp"}), 1);
    EXPECT_NE(err_.str().find("Not a PNG file"), std::string::npos);
    EXPECT_EQ(out_.str().find("Not a PNG file"), std::string::npos);

    const fs::path a = Put("a.png", good);
    EXPECT_EQ(Run({"/quiet", "/log", "no/such/log.txt", "a.png"}), 1);
    EXPECT_NE(err_.str().find("Cannot open the log file"), std::string::npos);
    EXPECT_EQ(ReadBytes(a), good);
    EXPECT_EQ(Run({"/quiet", "/log", "log.txt", "a.png"}), 0);
    EXPECT_GT(fs::file_size(dir_ / "log.txt"), 0u);
    EXPECT_EQ(err_.str(), "");
}

TEST_F(QuilloxCli, BadCrcFailsCriticalAndDropsAncillaryChunks) {
    auto bytes = MakePng(kPngRgb, Opaque, {{"tEXt", {'k', 0, 'v'}}, {"pHYs", {0, 0, 0, 1, 0, 0, 0, 1, 0}}});
    BreakCrc(bytes, "tEXt");
    Put("anc.png", bytes);
    EXPECT_EQ(Run({"/dir", "out", "anc.png"}), 0) << err_.str();
    EXPECT_NE(err_.str().find("tEXt: CRC error, chunk dropped"), std::string::npos);
    EXPECT_EQ(Chunks(dir_ / "out" / "anc.png"), (std::vector<std::string>{"IHDR", "pHYs", "IDAT", "IEND"}));
    EXPECT_EQ(Run({"/y", "/nz", "/md", "remove", "misc", "/dir", "copy", "anc.png"}), 0);
    EXPECT_NE(err_.str().find("tEXt: CRC error, chunk dropped"), std::string::npos);
    EXPECT_EQ(Chunks(dir_ / "copy" / "anc.png"), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));

    auto critical = MakePng(kPngRgb, Opaque);
    BreakCrc(critical, "IHDR");
    const fs::path crit = Put("crit.png", critical);
    for (const char* option : {"/o1", "/o0"}) {
        EXPECT_EQ(Run({"/quiet", option, "crit.png"}), 1) << option;
        EXPECT_NE(err_.str().find("PNG: bad CRC in chunk IHDR"), std::string::npos) << option;
        EXPECT_EQ(ReadBytes(crit), critical);
    }
}

TEST_F(QuilloxCli, ChunkNamesAreNotGroupWords) {
    fs::copy_file(jx::test::PngSuiteDir() / "ctzn0g04.png", dir_ / "t.png");  // tEXt and zTXt
    EXPECT_EQ(Run({"/quiet", "/dir", "a", "/md", "keep", "tEXt", "t.png"}), 0);
    EXPECT_EQ(Chunks(dir_ / "a" / "t.png"), (std::vector<std::string>{"IHDR", "gAMA", "tEXt", "tEXt", "IDAT", "IEND"}));
    EXPECT_EQ(Run({"/quiet", "/dir", "b", "/md", "keep", "text", "t.png"}), 0);
    EXPECT_EQ(PngImage::ListChunks(ReadBytes(dir_ / "b" / "t.png")), Chunks(dir_ / "t.png"));
    EXPECT_EQ(Run({"/quiet", "/dir", "c", "/nz", "/md", "remove", "zTXt", "t.png"}), 0);
    EXPECT_EQ(Chunks(dir_ / "c" / "t.png"), (std::vector<std::string>{"IHDR", "gAMA", "tEXt", "tEXt", "IDAT", "IEND"}));
}

}  // namespace
}  // namespace jx::quillox
