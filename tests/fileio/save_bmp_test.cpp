#include <unistd.h>

#include <fstream>

#include "fileio/open_decoders.h"
#include "fileio/replace_file.h"
#include "fileio/save_image.h"
#include "fileio/targa_graphic.h"
#include "save_test_util.h"

namespace jx {
namespace {
using test::Px;

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + size_t(i)];
    return v;
}

class SaveBmpTest : public test::ScratchDir {
protected:
    void Make(int32_t n, int32_t translucent, bool trueColor = false) {
        std::vector<TPixelRec> c = test::DistinctColors(n);
        for (int32_t i = 0; i < translucent; ++i) c[size_t(i)].A = uint8_t(i == 0 ? 0 : 100);
        std::vector<int32_t> idx;
        for (int32_t i = 0; i < 7 * 5; ++i) idx.push_back(i * 3 % n);
        test::MakePaletteImage(s, c, 7, 5, idx, translucent > 0, trueColor);
    }
    void Check(int32_t filter, int wantBits) {
        TSaveRequest req;
        req.fileName = Path("x.png");
        req.filterIndex = filter;
        const TSaveResult r = SaveImage(s, req);
        const std::string word = filter == sfBmp ? "bmp" : "tga";
        EXPECT_EQ(r.path, Path("x." + word));
        const std::string size = std::to_string(std::filesystem::file_size(r.path));
        EXPECT_EQ(r.status, "Write (" + word + "): " + size + " bytes");
        EXPECT_EQ(r.infoLine, word + ": " + size + " bytes");
        int bits = 0;
        std::vector<TPixelRec> px;
        if (filter == sfBmp) {
            const auto b = test::FileBytes(r.path);
            EXPECT_EQ(Le(b, 2, 4), b.size());  // the header's file size
            bits = int(Le(b, 28, 2));
            const TDecodedImage d = DecodeBmpBytes(b);
            px.assign(d.Pixels.Data(), d.Pixels.Data() + d.Pixels.Count());
        } else {
            TTargaGraphic tga;
            std::ifstream in(r.path, std::ios::binary);
            tga.LoadFromStream(in);
            bits = BitsPerPixel(tga.PixelFormat());
            px = test::BitmapPixels(tga);
            if (wantBits == 4) wantBits = 8;  // TGA maps are 8-bit
        }
        EXPECT_EQ(bits, wantBits);
        test::ExpectWorkingImage(s, px);
    }
    EngineState s;
};

TEST_F(SaveBmpTest, DepthFollowsPaletteSizeAndTranslucency) {
    for (int32_t filter : {int32_t(sfBmp), int32_t(sfTga)}) {
        // colours, translucent ones (one would lose its alpha in a colour table), true colour, bits
        for (auto [n, translucent, trueColor, bits] : {std::tuple{16, 1, false, 32}, {16, 0, false, 4}, {17, 0, false, 8},
                                                        {256, 0, false, 8}, {300, 0, false, 24}, {40, 0, true, 24}}) {
            Make(n, translucent, trueColor);
            Check(filter, bits);
        }
    }
}

TEST_F(SaveBmpTest, PaletteReturnsToTheViewOrder) {
    Make(40, 0);
    s.PaletteSortType = 2;
    TSaveRequest req;
    req.fileName = Path("o.bmp");
    req.filterIndex = sfBmp;
    SaveImage(s, req);
    for (int32_t i = 1; i < s.PaletteSize; ++i) EXPECT_GE(s.Palette[size_t(i - 1)].c1, s.Palette[size_t(i)].c1);
}

TEST_F(SaveBmpTest, LossyFormatsGoToTheQualityDialog) {
    Make(4, 0);
    TSaveRequest req;
    req.fileName = Path("q");
    req.filterIndex = sfJpg;
    TSaveResult r = SaveImage(s, req);
    EXPECT_TRUE(r.qualityDialog);
    EXPECT_EQ(r.path, Path("q.jpg"));
    req.filterIndex = sfWebp;
    req.webpLossy = true;
    r = SaveImage(s, req);
    EXPECT_TRUE(r.qualityDialogWebp);
    EXPECT_FALSE(std::filesystem::exists(Path("q.webp")));
}

TEST_F(SaveBmpTest, AFailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    test::WriteText(Path("keep.bmp"), "old");
    EXPECT_THROW(ReplaceFileWithStream(Path("keep.bmp"),
                                       [](std::ostream& out) {
                                           out << "half";
                                           throw FileIoError("disk full");
                                       }),
                 FileIoError);
    EXPECT_EQ(test::FileBytes(Path("keep.bmp")), (std::vector<uint8_t>{'o', 'l', 'd'}));
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) files += e.is_regular_file();
    EXPECT_EQ(files, 1u);
    EXPECT_THROW(ReplaceFileWithBytes(Path("no/such/folder/x.bmp"), std::vector<uint8_t>{1}), FileIoError);
}

}  // namespace
}  // namespace jx
