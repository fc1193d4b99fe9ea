#include <sys/stat.h>
#include <unistd.h>

#include "fileio/palette_file.h"
#include "imaging/quantize.h"
#include "save_test_util.h"

namespace jx {
namespace {
using test::Px;

std::vector<int32_t> Iota(int32_t n) {
    std::vector<int32_t> v(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) v[size_t(i)] = i;
    return v;
}

class PaletteFileTest : public test::ScratchDir {
protected:
    void SetUp() override {
        test::ScratchDir::SetUp();
        test::MakePaletteImage(s, {Px(1, 2, 3), Px(200, 100, 50)}, 2, 1, {0, 1}, false);
    }
    EngineState s;
};

TEST_F(PaletteFileTest, JascLinesWithThreeAndFourFieldsCrLfAndLf) {
    for (const char* eol : {"\r\n", "\n"}) {
        const std::string e = eol;
        test::WriteText(Path("a.pal"), "JASC-PAL" + e + "0100" + e + "3" + e + "10 20 30" + e + "40  50 60 7" + e +
                                           "255 255 255 0");
        const auto c = ReadPaletteFile(Path("a.pal"));
        ASSERT_EQ(c.size(), 3u);
        EXPECT_EQ(c[0], (TPaletteColor{10, 20, 30, 255}));
        EXPECT_EQ(c[1], (TPaletteColor{40, 50, 60, 7}));
        EXPECT_EQ(c[2], (TPaletteColor{255, 255, 255, 0}));
    }
}

TEST_F(PaletteFileTest, DamagedOrForeignFilesLeaveThePaletteAndSayWhy) {
    const std::vector<TPixelRec> before = s.Palette;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"x.pal", "RIFF\r\n0100\r\n1\r\n1 2 3\r\n"},         // not JASC
        {"x.pal", "JASC-PAL\r\n0100\r\nten\r\n"},             // count not a number
        {"x.pal", "JASC-PAL\r\n0100\r\n2\r\n1 2 3\r\n"},      // too few lines
        {"x.pal", "JASC-PAL\r\n0100\r\n1\r\n1 2\r\n"},        // too few fields
        {"x.pal", "JASC-PAL\r\n0100\r\n1\r\n1 2 256\r\n"},    // out of range
        {"x.pal", "JASC-PAL\r\n0100\r\n1\r\n1 2.5 3\r\n"},    // not whole
        {"x.pal", "JASC-PAL\r\n0100\r\n0\r\n"},               // empty
        {"x.act", std::string(767, '\0')},                    // short table
        {"x.PAL", "JASC-PAL\r\n0100\r\n1\r\n1 2 3\r\n"},      // unknown extension
    };
    for (const auto& [name, text] : cases) {
        test::WriteText(Path(name), text);
        try {
            LoadPalette(s, Path(name));
            ADD_FAILURE() << "accepted " << text;
        } catch (const FileIoError& e) {
            EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
        }
        EXPECT_EQ(s.Palette, before);
        EXPECT_EQ(s.PaletteSize, 2);
    }
    EXPECT_THROW(LoadPalette(s, Path("missing.pal")), FileIoError);

    // A pipe named like a palette has no writer: refused at once, not waited on.
    for (const char* name : {"fifo.pal", "fifo.act"}) {
        ASSERT_EQ(::mkfifo(Path(name).c_str(), 0600), 0);
        EXPECT_THROW(LoadPalette(s, Path(name)), FileIoError) << name;
        EXPECT_EQ(s.Palette, before);
    }
}

TEST_F(PaletteFileTest, ActPaddingAndDuplicatesCollapse) {
    std::vector<uint8_t> act(768 + 4, 0);  // a trailer past the table is ignored
    act[0] = 9, act[1] = 8, act[2] = 7;
    act[3] = 9, act[4] = 8, act[5] = 7;
    act[6] = 255;
    test::WriteText(Path("t.act"), std::string(act.begin(), act.end()));
    LoadPalette(s, Path("t.act"));
    ASSERT_EQ(s.PaletteSize, 3);  // 256 entries less the repeated colour and the black padding
    int black = 0, red = 0, grey = 0;
    for (int i = 0; i < 3; ++i) {
        const TPixelRec& p = s.Palette[size_t(i)];
        EXPECT_EQ(p.A, 255);
        black += p.R == 0 && p.G == 0 && p.B == 0;
        red += p.R == 255 && p.G == 0;
        grey += p.R == 9 && p.G == 8 && p.B == 7;
        TPixelRec q = p;
        s.Convert(q);
        EXPECT_EQ(q.c1, p.c1);
    }
    EXPECT_EQ(black + red + grey, 3);
}

TEST_F(PaletteFileTest, SaveAndLoadRoundTripBothFormats) {
    std::vector<TPixelRec> colors = test::DistinctColors(20, 255);
    colors[3].A = 128;
    test::MakePaletteImage(s, colors, 20, 1, Iota(20), true);
    const std::string pal = SavePalette(s, Path("p"), 1);
    EXPECT_EQ(pal, Path("p.pal"));
    const auto read = ReadPaletteFile(pal);
    ASSERT_EQ(read.size(), 20u);
    for (size_t i = 0; i < 20; ++i)
        EXPECT_EQ(read[i], (TPaletteColor{colors[i].R, colors[i].G, colors[i].B, colors[i].A}));

    const auto table = test::FileBytes(SavePalette(s, Path("p"), 2));
    ASSERT_EQ(table.size(), 768u);
    for (size_t i = 60; i < 768; ++i) ASSERT_EQ(table[i], 0) << i;
    EXPECT_EQ(table[3], colors[1].R);

    // A name with an extension keeps it; a palette extension typed decides the format, not the filter.
    EXPECT_EQ(SavePalette(s, Path("keep.txt"), 2), Path("keep.txt"));
    EXPECT_EQ(test::FileBytes(Path("keep.txt")).size(), 768u);
    EXPECT_EQ(test::FileBytes(SavePalette(s, Path("typed.act"), 1)), table);
    EXPECT_EQ(test::FileBytes(SavePalette(s, Path("typed.ACT"), 1)), table);
    EXPECT_EQ(ReadPaletteFile(SavePalette(s, Path("typed.pal"), 2)).size(), 20u);

    LoadPalette(s, pal);
    EXPECT_EQ(s.PaletteSize, 20);
}

TEST_F(PaletteFileTest, TooLargeForActAndTrueColourAreRefused) {
    test::MakePaletteImage(s, test::DistinctColors(300), 300, 1, Iota(300), false);
    EXPECT_THROW(SavePalette(s, Path("big.act"), 2), PaletteTooLargeError);
    EXPECT_FALSE(std::filesystem::exists(Path("big.act")));
    const auto text = test::FileBytes(SavePalette(s, Path("big.pal"), 1));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 303);
    s.PaletteSize = -1;
    EXPECT_THROW(SavePalette(s, Path("tc.pal"), 1), FileIoError);
}

TEST_F(PaletteFileTest, CustomPaletteTypeQuantizesToTheFile) {
    test::WriteText(Path("c.pal"), "JASC-PAL\n0100\n2\n0 0 0\n255 255 255\n");
    SetCustomPaletteFile(s, Path("c.pal"));
    TQuantizerSettings settings;
    settings.ColorCount = "16";
    settings.PaletteType = TPaletteType::Custom;
    struct : EngineObserver {} observer;
    Quantize(s, settings, observer);
    EXPECT_EQ(s.PaletteSize, 2);
    EXPECT_EQ(s.WorkingImage[0][0].R, 0);
    EXPECT_EQ(s.WorkingImage[0][1].R, 255);
}

}  // namespace
}  // namespace jx
