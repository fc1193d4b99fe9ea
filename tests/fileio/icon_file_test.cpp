#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "fileio/icon_file.h"
#include "fileio/open_decoders.h"
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

// A bitmap frame with the header fields given: `storedHeight` is the doubled height as stored,
// `colors` the header's colour count; the table, pixels and mask are sized as the reader sizes them.
std::vector<uint8_t> DibWith(int32_t w, int32_t storedHeight, uint16_t bits, uint32_t colors, uint32_t headerSize = 40,
                             uint32_t compression = 0) {
    std::vector<uint8_t> v;
    test::Put32(v, headerSize);
    test::Put32(v, uint32_t(w));
    test::Put32(v, uint32_t(storedHeight));
    test::Put16(v, 1);
    test::Put16(v, bits);
    test::Put32(v, compression);
    for (int i = 0; i < 3; ++i) test::Put32(v, 0);
    test::Put32(v, colors);
    test::Put32(v, 0);
    v.resize(headerSize, 0x33);
    uint32_t entries = colors == 0 && bits <= 8 ? 1u << bits : colors;
    if (bits > 8 && colors > 256) entries = 0;
    const size_t table = 4 * size_t(entries) + (headerSize == 40 && compression == 3 ? 12 : 0);
    const int32_t h = storedHeight / 2;
    const size_t stride = (size_t(w) * bits + 31) / 32 * 4;
    const size_t mask = bits == 32 ? 0 : (size_t(w) + 31) / 32 * 4 * size_t(h);
    for (size_t i = 0; i < table + stride * size_t(h) + mask; ++i) v.push_back(uint8_t(i * 29 + w));
    return v;
}

// The frames read back as they were read: entry (but for the size and offset the writer sets),
// kind, size, depth, mask, and the bytes of the frame and mask files.
// `order` gives a's frames that b holds (all when empty).
void ExpectSameFrames(const TIconFile& a, const TIconFile& b, std::vector<int32_t> order = {}) {
    if (order.empty())
        for (size_t k = 0; k < a.Frames().size(); ++k) order.push_back(int32_t(k));
    ASSERT_EQ(order.size(), b.Frames().size());
    for (size_t k = 0; k < order.size(); ++k) {
        const TIconFrames& x = a.Frames()[size_t(order[k])];
        const TIconFrames& y = b.Frames()[k];
        EXPECT_TRUE(std::equal(x.Entry.begin(), x.Entry.begin() + 8, y.Entry.begin())) << k;
        EXPECT_EQ(x.IsPng, y.IsPng) << k;
        EXPECT_EQ(x.Dimension(), y.Dimension()) << k;
        EXPECT_EQ(x.Bits, y.Bits) << k;
        EXPECT_EQ(x.MaskSize, y.MaskSize) << k;
        EXPECT_EQ(test::FileBytes(x.FrameFile), test::FileBytes(y.FrameFile)) << k;
        EXPECT_EQ(x.MaskFile.empty(), y.MaskFile.empty()) << k;
        EXPECT_EQ(test::FileBytes(x.MaskFile), test::FileBytes(y.MaskFile)) << k;
    }
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
    // Byte changes (at, value): an unknown type; then a file cut inside the directory.
    const std::vector<std::vector<std::pair<size_t, uint8_t>>> damage{{{2, 3}}};
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

// A frame that lies outside the file or is too short for its table and mask is refused alone:
// the others are split out as from the sound file, and the damaged one has no files.
TEST_F(IconFileTest, ADamagedEntryIsMarkedAndTheOtherFramesOpen) {
    TIconFile sound(Session());
    sound.ReadIconFile(Path("in.ico"));
    std::filesystem::create_directories(Session() + "/bad");
    // (at, value) changes and the frame they damage: frame 4's offset far outside, frame 2's size
    // below its table and mask.
    const std::vector<std::pair<size_t, std::vector<std::pair<size_t, uint8_t>>>> damage{
        {3, {{6 + 16 * 3 + 12, 0xFF}, {6 + 16 * 3 + 15, 0x7F}}},
        {1, {{6 + 16 * 1 + 8, 200}, {6 + 16 * 1 + 9, 0}, {6 + 16 * 1 + 10, 0}}},
    };
    const char* const why[] = {"frame 4 lies outside the file.", "frame 2: its colour table and mask do not fit its data."};
    for (size_t i = 0; i < damage.size(); ++i) {
        SCOPED_TRACE(i);
        auto bad = original;
        for (auto [at, v] : damage[i].second) bad[at] = v;
        test::WriteText(Path("bad.ico"), std::string(bad.begin(), bad.end()));
        TIconFile icon(Session() + "/bad");
        icon.ReadIconFile(Path("bad.ico"));
        ASSERT_EQ(icon.Frames().size(), frames.size());
        std::vector<int32_t> rest;
        for (size_t k = 0; k < frames.size(); ++k) {
            const TIconFrames& f = icon.Frames()[k];
            if (k == damage[i].first) {
                EXPECT_EQ(f.Damage, why[i]);
                EXPECT_TRUE(f.FrameFile.empty() && f.MaskFile.empty());
                EXPECT_FALSE(icon.CheckedByDefault(int32_t(k)));
            } else {
                EXPECT_TRUE(f.Damage.empty()) << k;
                rest.push_back(int32_t(k));
            }
        }
        for (int32_t k : rest) {
            EXPECT_EQ(test::FileBytes(icon.Frames()[size_t(k)].FrameFile), test::FileBytes(sound.Frames()[size_t(k)].FrameFile)) << k;
            EXPECT_EQ(test::FileBytes(icon.Frames()[size_t(k)].MaskFile), test::FileBytes(sound.Frames()[size_t(k)].MaskFile)) << k;
        }
        EXPECT_EQ(icon.InitialFrame(), sound.InitialFrame());
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

// A frame whose stored height is 1 has no row: it would be written back with height 0, which
// no reader takes, so it is refused on opening as the second read would refuse it. It is refused
// alone: the icon's other frames are listed and open, and only an icon without any readable frame
// is refused whole.
TEST_F(IconFileTest, AFrameWithoutARowIsRefusedAloneAndTheOthersOpen) {
    const std::vector<uint8_t> ico = IconFile(1, {{16, 16, 32, DibFrame(16, 16, 32, 1)},
                                                  {16, 0, 4, DibWith(16, 1, 4, 0)},
                                                  {48, 48, 32, PngFrame(48, 48, 6)}});
    test::WriteText(Path("rowless.ico"), std::string(ico.begin(), ico.end()));
    TIconFile icon(Session());
    icon.ReadIconFile(Path("rowless.ico"));
    ASSERT_EQ(icon.Frames().size(), 3u);
    const TIconFrames& bad = icon.Frames()[1];
    EXPECT_EQ(bad.Damage, "frame 2 has an impossible size or depth.");
    EXPECT_EQ(bad.Dimension(), "16x256");  // as its entry gives it
    EXPECT_EQ(bad.Bits, 4);
    EXPECT_EQ(bad.Format(), "dib");
    EXPECT_TRUE(bad.FrameFile.empty() && bad.MaskFile.empty() && !std::filesystem::exists(bad.EditedFile));
    ASSERT_TRUE(icon.Frames()[0].Damage.empty());
    ASSERT_TRUE(icon.Frames()[2].Damage.empty());
    EXPECT_TRUE(DecodeBmpFile(icon.Frames()[0].FrameFile).Pixels.Width() == 16);
    EXPECT_TRUE(DecodePngFileRgba(icon.Frames()[2].FrameFile).has_value());
    EXPECT_EQ(icon.InitialFrame(), 2);
    EXPECT_TRUE(icon.CheckedByDefault(0));
    EXPECT_FALSE(icon.CheckedByDefault(1));

    // The damaged frame is neither written nor replaced; the sound ones are, and read back alike.
    test::WriteText(Path("keep.ico"), "the old icon");
    try {
        icon.WriteIconFile(Path("keep.ico"), 1, {0, 1});
        ADD_FAILURE() << "written";
    } catch (const FileIoError& e) {
        EXPECT_EQ(std::string(e.what()), "The icon was not saved: frame 2 has an impossible size or depth.");
    }
    EXPECT_EQ(test::FileBytes(Path("keep.ico")).size(), 12u);
    EngineState s;
    test::MakePaletteImage(s, {test::Px(255, 0, 0)}, 8, 8, std::vector<int32_t>(64, 0), false);
    TSaveRequest req;
    req.png.sessionFolder = Session();
    req.png.options.level = PngLevelFast;
    EXPECT_THROW(icon.SaveEditedFrame(s, 1, req), FileIoError);
    EXPECT_FALSE(icon.Frames()[1].Edited);
    std::filesystem::create_directories(Session() + "/again");
    TIconFile again(Session() + "/again");
    again.ReadIconFile(icon.WriteIconFile(Path("sound.ico"), 1, {0, 2}));
    ExpectSameFrames(icon, again, {0, 2});

    // With no readable frame the icon is refused whole, with the first frame's damage.
    const std::vector<uint8_t> none = IconFile(1, {{16, 0, 4, DibWith(16, 1, 4, 0)}, {16, 0, 4, DibWith(16, 1, 4, 0)}});
    test::WriteText(Path("none.ico"), std::string(none.begin(), none.end()));
    TIconFile refused(Session() + "/again");
    try {
        refused.ReadIconFile(Path("none.ico"));
        ADD_FAILURE() << "opened";
    } catch (const FileIoError& e) {
        EXPECT_NE(std::string(e.what()).find("frame 1 has an impossible size or depth"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(refused.Frames().empty());
}

// Every icon the tests make or keep as fuzz seeds, and one with each unusual field the reader
// takes, is written back and reads again with the same frames.
TEST_F(IconFileTest, EveryIconThatOpensIsWrittenSoThatItOpensWithTheSameFrames) {
    std::vector<std::vector<uint8_t>> icons{original};
    icons.push_back(IconFile(2, {
        {16, 16, 4, DibWith(16, 33, 4, 0)},          // odd stored height: 16 rows
        {2, 2, 24, DibWith(2, 4, 24, 4)},            // true colour with a 4-entry table
        {4, 4, 24, DibWith(4, 8, 24, 300)},          // a table hint past 256 on true colour
        {4, 4, 16, DibWith(4, 8, 16, 0, 40, 3)},     // bit fields
        {4, 4, 32, DibWith(4, 8, 32, 0, 108)},       // a larger info header
        {3, 3, 7, DibWith(3, 6, 7, 0)},              // an odd depth
        {0, 1, 1, DibWith(65535, 2, 1, 2)},          // the widest frame, one row
        {1, 1, 32, PngFrame(1, 1, 9)},
    }));
    for (const auto& entry : std::filesystem::directory_iterator(JX_TEST_DATA_DIR "/../../fuzz/corpus/ico")) {
        icons.push_back(test::FileBytes(entry.path().string()));
    }
    ASSERT_GE(icons.size(), 4u);
    int opened = 0;
    for (size_t i = 0; i < icons.size(); ++i) {
        SCOPED_TRACE(i);
        test::WriteText(Path("in" + std::to_string(i) + ".ico"), std::string(icons[i].begin(), icons[i].end()));
        TIconFile icon(Session());
        try {
            icon.ReadIconFile(Path("in" + std::to_string(i) + ".ico"));
        } catch (const FileIoError&) {
            continue;  // a seed the reader refuses
        }
        ++opened;
        std::vector<int32_t> all;  // every frame that can be read
        for (size_t k = 0; k < icon.Frames().size(); ++k)
            if (icon.Frames()[k].Damage.empty()) all.push_back(int32_t(k));
        const std::string written = icon.WriteIconFile(Path("out" + std::to_string(i)), icon.Type(), all);
        std::filesystem::create_directories(Session() + "/again");
        TIconFile again(Session() + "/again");
        again.ReadIconFile(written);
        ExpectSameFrames(icon, again, all);
        EXPECT_EQ(again.Type(), icon.Type());
    }
    EXPECT_GE(opened, 4);
}

// A bitmap frame whose stored height gives fewer rows than its data holds opens at that height,
// with a word on it; a sound frame, a 32-bit one with the AND mask common writers add included,
// opens without one.
TEST_F(IconFileTest, ABitmapFrameWithRowsPastItsStoredHeightOpensWithAWord) {
    std::vector<uint8_t> deep = DibFrame(32, 32, 32, 3);
    deep.insert(deep.end(), 4 * 32, 0x0F);  // the AND mask, which the reader leaves in the frame
    const std::vector<TFrameLayout> sound{{32, 32, 32, deep}, {32, 32, 8, DibFrame(32, 32, 8, 2)},
                                          {32, 32, 4, DibFrame(32, 32, 4, 7)}};
    std::vector<TFrameLayout> damaged = sound;
    for (TFrameLayout& f : damaged) f.data[8] = 8;  // a stored height of 8 for 64: 4 rows
    const std::vector<uint8_t> soundIcon = IconFile(1, sound);
    test::WriteText(Path("sound.ico"), std::string(soundIcon.begin(), soundIcon.end()));
    const std::vector<uint8_t> damagedIcon = IconFile(1, damaged);
    test::WriteText(Path("damaged.ico"), std::string(damagedIcon.begin(), damagedIcon.end()));

    TIconFile whole(Session());
    whole.ReadIconFile(Path("sound.ico"));
    std::filesystem::create_directory(Session() + "/d");
    TIconFile cut(Session() + "/d");
    cut.ReadIconFile(Path("damaged.ico"));
    ASSERT_EQ(cut.Frames().size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        const TDecodedImage a = DecodeBmpFile(whole.Frames()[k].FrameFile);
        EXPECT_TRUE(a.Warnings.empty()) << a.Warnings.front();
        const TDecodedImage b = DecodeBmpFile(cut.Frames()[k].FrameFile);
        ASSERT_EQ(b.Pixels.Height(), 4);
        ASSERT_EQ(b.Warnings.size(), 1u);
        EXPECT_NE(b.Warnings[0].find("more than a 32x4 image needs (the width or height may be damaged)"), std::string::npos)
            << b.Warnings[0];
        // The rows it opens with are the first four stored, as before.
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 32; ++x) {
                const TPixelRec &p = b.Pixels[y][x], &q = a.Pixels[28 + y][x];
                ASSERT_TRUE(p.R == q.R && p.G == q.G && p.B == q.B) << x << "," << y;
            }
    }
    // The 32-bit frame's mask still goes back into the icon.
    EXPECT_EQ(test::FileBytes(whole.WriteIconFile(Path("again"), 1, {0, 1, 2})), soundIcon);
}

// 5000 entries on one PNG frame: saved, they point at one copy again, so the file is the size of
// the one it came from (it was 690 MB when every entry got its own copy).
TEST_F(IconFileTest, EntriesOnOneImageAreWrittenOnce) {
    const std::vector<uint8_t> png = PngFrame(64, 64, 1);
    const uint32_t count = 5000;
    std::vector<uint8_t> ico;
    test::Put16(ico, 0);
    test::Put16(ico, 1);
    test::Put16(ico, count);
    for (uint32_t k = 0; k < count; ++k) {
        ico.insert(ico.end(), {64, 64, 0, 0});
        test::Put16(ico, 1);
        test::Put16(ico, 32);
        test::Put32(ico, uint32_t(png.size()));
        test::Put32(ico, 6 + 16 * count);
    }
    ico.insert(ico.end(), png.begin(), png.end());
    test::WriteText(Path("many.ico"), std::string(ico.begin(), ico.end()));
    TIconFile icon(Session());
    icon.ReadIconFile(Path("many.ico"));
    ASSERT_EQ(icon.Frames().size(), count);
    std::vector<int32_t> all(count);
    for (uint32_t k = 0; k < count; ++k) all[k] = int32_t(k);
    icon.WriteIconFile(Path("many-out.ico"), 1, all);
    EXPECT_EQ(test::FileBytes(Path("many-out.ico")), ico);

    // A frame listed twice is written once too; an edited entry gets its own copy.
    icon.WriteIconFile(Path("twice.ico"), 1, {3, 3, 7});
    EXPECT_EQ(std::filesystem::file_size(Path("twice.ico")), 6 + 16 * 3 + png.size());
    EngineState s;
    test::MakePaletteImage(s, {test::Px(255, 0, 0)}, 8, 8, std::vector<int32_t>(64, 0), false);
    TSaveRequest req;
    req.png.sessionFolder = Session();
    req.png.options.level = PngLevelFast;
    icon.SaveEditedFrame(s, 7, req);
    ASSERT_TRUE(icon.Frames()[7].Edited);
    icon.WriteIconFile(Path("edited.ico"), 1, {3, 7, 9});
    EXPECT_EQ(std::filesystem::file_size(Path("edited.ico")),
              6 + 16 * 3 + png.size() + std::filesystem::file_size(icon.Frames()[7].EditedFile));
}

// The size of the file to be written is known from the frame files' sizes before any frame is
// read: frames of 1.2 GB each (sparse files here) are refused at once, the old file untouched.
// So is a frame the reader would refuse, such as an edited frame wider than 65535 pixels.
TEST_F(IconFileTest, ASaveTheReaderCouldNotOpenIsRefusedAndTheOldFileKept) {
    TIconFile icon(Session());
    icon.ReadIconFile(Path("in.ico"));
    test::WriteText(Path("keep.ico"), "the old icon");
    const uint64_t big = uint64_t(1200) << 20;
    std::filesystem::resize_file(icon.Frames()[2].FrameFile, big);
    std::filesystem::resize_file(icon.Frames()[5].FrameFile, big);
    struct stat st {};
    ASSERT_EQ(::stat(icon.Frames()[2].FrameFile.c_str(), &st), 0);
    if (uint64_t(st.st_blocks) * 512 >= big) GTEST_SKIP() << "no sparse files here";
    try {
        icon.WriteIconFile(Path("keep.ico"), 1, {0, 2, 5});
        ADD_FAILURE() << "written";
    } catch (const FileIoError& e) {
        EXPECT_NE(std::string(e.what()).find("would pass 2 GB"), std::string::npos) << e.what();
    }
    EXPECT_EQ(test::FileBytes(Path("keep.ico")).size(), 12u);

    EngineState s;
    test::MakePaletteImage(s, {test::Px(0, 0, 255)}, 70000, 1, std::vector<int32_t>(70000, 0), false);
    TSaveRequest req;
    req.png.sessionFolder = Session();
    req.png.options.level = PngLevelFast;
    icon.SaveEditedFrame(s, 1, req);
    ASSERT_TRUE(icon.Frames()[1].Edited);
    try {
        icon.WriteIconFile(Path("keep.ico"), 1, {0, 1});
        ADD_FAILURE() << "written";
    } catch (const FileIoError& e) {
        EXPECT_NE(std::string(e.what()).find("frame 2 has an impossible size."), std::string::npos) << e.what();
    }
    EXPECT_EQ(test::FileBytes(Path("keep.ico")).size(), 12u);
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
        EXPECT_TRUE(entry.is_directory() || entry.path().extension() == ".ico") << entry.path();
}

}  // namespace
}  // namespace jx
