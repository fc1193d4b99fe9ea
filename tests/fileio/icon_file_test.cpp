#include <unistd.h>

#include <cstring>

#include "fileio/icon_file.h"
#include "fileio/png_probe.h"
#include "save_test_util.h"

namespace jx {
namespace {

using test::DibFrame;
using test::IconFile;
using test::TFrameLayout;

std::vector<uint8_t> PngFrame(uint32_t w, uint32_t h, uint8_t seed) {
    std::vector<uint8_t> rgba(size_t(w) * h * 4);
    for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = uint8_t(i * 3 + seed);
    return EncodePngRgba(w, h, true, rgba);
}

class IconFileTest : public test::ScratchDir {
protected:
    void SetUp() override {
        test::ScratchDir::SetUp();
        std::filesystem::create_directory(dir_ / "session");
        frames = {
            {16, 16, 32, DibFrame(16, 16, 32, 1, 5)},
            {32, 32, 8, DibFrame(32, 32, 8, 2)},
            {0, 0, 32, PngFrame(256, 256, 3)},
            {16, 16, 4, DibFrame(16, 16, 4, 4)},
            {16, 16, 4, DibFrame(16, 16, 4, 5)},  // same size and depth as the one before
            {48, 48, 32, PngFrame(48, 48, 6)},
        };
        original = IconFile(1, frames);
        test::WriteText(Path("in.ico"), std::string(original.begin(), original.end()));
    }
    std::string Session() const { return (dir_ / "session").string(); }
    std::vector<TFrameLayout> frames;
    std::vector<uint8_t> original;
};

TEST_F(IconFileTest, FramesSplitIntoTheirOwnFilesAndRoundTrip) {
    TIconFile icon(Session());
    icon.ReadIconFile(Path("in.ico"));
    ASSERT_EQ(icon.Frames().size(), 6u);
    const auto& f = icon.Frames();
    EXPECT_EQ(f[2].Dimension(), "256x256");
    EXPECT_EQ(f[1].MaskSize, 4 * 32);
    EXPECT_EQ(f[0].MaskSize, 0);
    EXPECT_NE(f[3].FrameFile, f[4].FrameFile);
    EXPECT_NE(f[3].MaskFile, f[4].MaskFile);
    EXPECT_NE(f[3].EditedFile, f[4].EditedFile);
    EXPECT_EQ(icon.InitialFrame(), 2);
    EXPECT_TRUE(icon.CheckedByDefault(0));
    EXPECT_FALSE(icon.CheckedByDefault(1));

    // The 8-bit frame file is a BMP whose pixel offset lies past its colour table.
    const auto bmp = test::FileBytes(f[1].FrameFile);
    uint32_t offset = 0;
    std::memcpy(&offset, &bmp[10], 4);
    EXPECT_EQ(offset, 14u + 40 + 1024);
    EXPECT_EQ(bmp[offset], frames[1].data[40 + 1024]);
    int32_t height = 0;
    std::memcpy(&height, &bmp[22], 4);
    EXPECT_EQ(height, 32);
    const auto mask = test::FileBytes(f[1].MaskFile);
    EXPECT_EQ(mask, std::vector<uint8_t>(frames[1].data.end() - 128, frames[1].data.end()));
    EXPECT_EQ(DecodePngFileRgba(f[2].FrameFile).value().width, 256u);

    // All frames in order give the same file back.
    EXPECT_EQ(icon.WriteIconFile(Path("out.png"), 1, {0, 1, 2, 3, 4, 5}), Path("out.ico"));
    EXPECT_EQ(test::FileBytes(Path("out.ico")), original);

    // Reordered and as a cursor: the entries travel unchanged with their frames.
    icon.WriteIconFile(Path("out"), 2, {5, 1});
    const auto cur = test::FileBytes(Path("out.cur"));
    EXPECT_EQ(cur, IconFile(2, {frames[5], frames[1]}));

    // No frame checked: a header only.
    icon.WriteIconFile(Path("none"), 1, {});
    EXPECT_EQ(test::FileBytes(Path("none.ico")).size(), 6u);

    icon.DeleteFrameFiles();
    EXPECT_TRUE(std::filesystem::is_empty(Session()));
}

TEST_F(IconFileTest, DamagedDirectoriesAreRefusedAndLeaveNoFrames) {
    TIconFile icon(Session());
    icon.ReadIconFile(Path("in.ico"));
    // Byte changes (at, value): frame 4's offset far outside, frame 2's size below its table and
    // mask, an unknown type; then a file cut inside the directory.
    const std::vector<std::vector<std::pair<size_t, uint8_t>>> damage{
        {{6 + 16 * 3 + 12, 0xFF}, {6 + 16 * 3 + 15, 0x7F}},
        {{6 + 16 * 1 + 8, 200}, {6 + 16 * 1 + 9, 0}, {6 + 16 * 1 + 10, 0}},
        {{2, 3}},
    };
    for (size_t i = 0; i <= damage.size(); ++i) {
        auto bad = original;
        if (i < damage.size())
            for (auto [at, v] : damage[i]) bad[at] = v;
        else
            bad.resize(40);
        test::WriteText(Path("bad.ico"), std::string(bad.begin(), bad.end()));
        EXPECT_THROW(icon.ReadIconFile(Path("bad.ico")), FileIoError) << i;
        EXPECT_TRUE(icon.Frames().empty());
        EXPECT_TRUE(std::filesystem::is_empty(Session()));
    }
}

TEST_F(IconFileTest, EntriesOnTheSameBytesShareOneFrameFileAndOverlapsAreBounded) {
    // 500 entries on one 32x32 8-bit frame: one frame file and one mask, yet 500 rows, each
    // with its own edited name.
    const std::vector<uint8_t> dib = DibFrame(32, 32, 8, 2);
    const auto put32 = [](uint8_t* p, uint32_t v) {
        for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
    };
    std::vector<uint8_t> ico(6 + 16 * 500, 0);
    ico[2] = 1;
    ico[4] = uint8_t(500 & 0xFF);
    ico[5] = uint8_t(500 >> 8);
    for (size_t k = 0; k < 500; ++k) {
        uint8_t* e = &ico[6 + 16 * k];
        e[0] = e[1] = 32;
        put32(e + 8, uint32_t(dib.size()));
        put32(e + 12, uint32_t(6 + 16 * 500));
    }
    ico.insert(ico.end(), dib.begin(), dib.end());
    test::WriteText(Path("same.ico"), std::string(ico.begin(), ico.end()));
    TIconFile icon(Session());
    icon.ReadIconFile(Path("same.ico"));
    ASSERT_EQ(icon.Frames().size(), 500u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Session()), {}), 2);
    EXPECT_EQ(icon.Frames()[0].FrameFile, icon.Frames()[499].FrameFile);
    EXPECT_NE(icon.Frames()[0].EditedFile, icon.Frames()[499].EditedFile);
    // Every entry still writes back whole.
    std::vector<int32_t> two{0, 499};
    TIconFile back(Session() + "/back");
    std::filesystem::create_directory(Session() + "/back");
    back.ReadIconFile(icon.WriteIconFile(Path("two.ico"), 1, two));
    EXPECT_EQ(back.Frames().size(), 2u);
    back.DeleteFrameFiles();
    icon.DeleteFrameFiles();
    std::filesystem::remove(Session() + "/back");

    // Entries over the same bytes, each a byte longer, are all different frames: together they
    // would take far more than the icon's size, so it is refused before anything is written.
    for (size_t k = 0; k < 500; ++k) put32(&ico[6 + 16 * k + 8], uint32_t(dib.size() + k));
    ico.insert(ico.end(), 500, 0);
    test::WriteText(Path("overlap.ico"), std::string(ico.begin(), ico.end()));
    EXPECT_THROW(icon.ReadIconFile(Path("overlap.ico")), FileIoError);
    EXPECT_TRUE(icon.Frames().empty());
    EXPECT_TRUE(std::filesystem::is_empty(Session()));
}

TEST_F(IconFileTest, AnEditedFrameIsSavedAsPngAndWrittenBack) {
    TIconFile icon(Session());
    icon.ReadIconFile(Path("in.ico"));
    EngineState s;
    std::vector<int32_t> idx(16 * 16);
    for (size_t i = 0; i < idx.size(); ++i) idx[i] = int32_t(i % 3);
    test::MakePaletteImage(s, {test::Px(255, 0, 0), test::Px(0, 255, 0), test::Px(0, 0, 255, 0)}, 16, 16, idx, true);
    TSaveRequest req;
    req.filterIndex = sfGif;  // the dialog's filter does not matter for frames
    req.png.sessionFolder = Session();
    req.png.options.level = PngLevelFast;
    icon.SaveEditedFrame(s, 3, req);
    ASSERT_TRUE(icon.Frames()[3].Edited);
    EXPECT_TRUE(icon.Frames()[3].IsPng);
    EXPECT_TRUE(icon.Modified);
    icon.WriteIconFile(Path("edited"), 1, {3, 0});
    EXPECT_FALSE(icon.Modified);

    TIconFile back(Session() + "/");
    back.ReadIconFile(Path("edited.ico"));
    ASSERT_EQ(back.Frames().size(), 2u);
    EXPECT_TRUE(back.Frames()[0].IsPng);
    const auto png = DecodePngFileRgba(back.Frames()[0].FrameFile);
    ASSERT_TRUE(png.has_value());
    EXPECT_EQ(png->rgba[0], 255);
    EXPECT_EQ(png->rgba[11], 0);  // the third pixel is transparent
    EXPECT_EQ(test::FileBytes(back.Frames()[1].FrameFile), test::FileBytes(icon.Frames()[0].FrameFile));
}

}  // namespace
}  // namespace jx
