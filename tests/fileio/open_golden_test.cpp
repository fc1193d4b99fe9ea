// Quantized output held fixed: open + quantize of conformance images and of synthetic
// photographs at several colour counts and ditherings must keep giving the same working image
// and palette, byte for byte. A change to these hashes is a change of what users get.
// JX_PRINT_GOLDEN=1 prints the current table instead of failing on the first difference.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "common/test_data.h"
#include "fileio/open_image.h"
#include "imaging/quantize.h"
#include "imaging/remap.h"

namespace jx {
namespace {

uint64_t Fnv(uint64_t h, const void* data, size_t n) {
    const auto* b = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 1099511628211ull;
    return h;
}

// Working image and palette, all eleven bytes of every record.
uint64_t OutputHash(const EngineState& s) {
    uint64_t h = 14695981039346656037ull;
    h = Fnv(h, s.WorkingImage.Data(), static_cast<size_t>(s.WorkingImage.Count()) * sizeof(TPixelRec));
    h = Fnv(h, &s.PaletteSize, sizeof s.PaletteSize);
    if (s.PaletteSize > 0) h = Fnv(h, s.Palette.data(), static_cast<size_t>(s.PaletteSize) * sizeof(TPixelRec));
    return h;
}

// Smooth shading with fine grain and a few hard edges; optional soft alpha.
TPixelImage Photo(int w, int h, uint32_t seed, bool alpha) {
    TPixelImage img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const double u = double(x) / w, v = double(y) / h;
            const int grain = int(seed >> 29) - 4;
            TPixelRec& p = img[y][x];
            const int edge = (x > w / 3 && y < h / 2) ? 60 : 0;
            p.R = uint8_t(std::clamp(int(128 + 100 * std::sin(6 * u + 2 * v)) + grain - edge, 0, 255));
            p.G = uint8_t(std::clamp(int(110 + 90 * std::cos(5 * v - 3 * u * v)) + grain, 0, 255));
            p.B = uint8_t(std::clamp(int(90 + 80 * std::sin(9 * u * v + 1)) - grain + edge, 0, 255));
            p.A = alpha ? uint8_t(std::clamp(int(255 * u * 1.3) - 20, 0, 255)) : 255;
        }
    return img;
}

class Golden : public ::testing::Test {
protected:
    void Check(const std::string& key, uint64_t got) {
        if (print_) {
            std::printf("        {\"%s\", 0x%016llxull},\n", key.c_str(), static_cast<unsigned long long>(got));
            return;
        }
        const auto it = Table().find(key);
        ASSERT_NE(it, Table().end()) << key;
        EXPECT_EQ(it->second, got) << key;
    }
    static const std::map<std::string, uint64_t>& Table();
    bool print_ = std::getenv("JX_PRINT_GOLDEN") != nullptr;
};

struct TRun {
    const char* count;
    TDitherMode dither;
};
constexpr TRun kRuns[] = {{"256", TDitherMode::FloydSteinberg}, {"64", TDitherMode::None},
                          {"16", TDitherMode::Atkinson},        {"32", TDitherMode::Pattern},
                          {"8", TDitherMode::Bayer},            {"128", TDitherMode::JarvisJudiceNinke}};

void Requantize(EngineState& state, TQuantizerSettings& settings, const TRun& r, EngineObserver& quiet) {
    settings.ColorCount = r.count;
    settings.DitherMode = r.dither;
    Quantize(state, settings, quiet);
}

TEST_F(Golden, ConformanceImagesOpenAndQuantizeUnchanged) {
    const char* files[] = {"basn2c08", "basn3p08", "basn6a08", "basn4a08", "basn0g16", "basi2c16",
                           "tbbn3p08", "tbrn2c08", "f02n2c08", "s39i3p04", "z09n2c08", "bgan6a16"};
    for (const char* f : files) {
        EngineState state;
        TQuantizerSettings settings;
        OpenImageObserver host;
        TOpenedFile current;
        TOpenTarget target{state, settings, host, current};
        ASSERT_TRUE(OpenImage(target, (test::PngSuiteDir() / (std::string(f) + ".png")).string())) << f;
        Check(std::string(f) + "/open", OutputHash(state));
        for (const TRun& r : kRuns) {
            Requantize(state, settings, r, host);
            Check(std::string(f) + "/" + r.count, OutputHash(state));
        }
    }
}

TEST_F(Golden, SyntheticPhotographsUnchanged) {
    struct TCase {
        const char* name;
        int w, h;
        bool alpha;
        int space;
    };
    const TCase cases[] = {{"photo", 160, 120, false, 0}, {"wide", 300, 40, false, 0},
                           {"alpha", 128, 96, true, 0},   {"yuv", 120, 90, false, 1},
                           {"rgb", 100, 100, false, 2}};
    for (const TCase& c : cases) {
        EngineState state;
        TQuantizerSettings settings;
        EngineObserver quiet;
        state.HasAlpha = c.alpha;
        state.SetSourceImage(Photo(c.w, c.h, 11, c.alpha));
        ApplyColorSpace(state, c.space);
        BuildUniqueColors(state);
        for (const TRun& r : kRuns) {
            Requantize(state, settings, r, quiet);
            Check(std::string(c.name) + "/" + r.count, OutputHash(state));
        }
        // A painted mask (far from any overflow) and the rare-colour and mixing switches.
        for (int y = 0; y < c.h / 2; ++y)
            for (int x = 0; x < c.w / 3; ++x) state.QualityMask[y][x] = uint8_t(40 + x % 200);
        settings.RareReserve = 0;
        Requantize(state, settings, {"24", TDitherMode::FloydSteinberg}, quiet);
        Check(std::string(c.name) + "/mask", OutputHash(state));
        settings.DoNotMix = true;
        settings.RareReserve = 50;
        Requantize(state, settings, {"40", TDitherMode::StevensonArce}, quiet);
        Check(std::string(c.name) + "/nomix", OutputHash(state));
    }
}

// Large enough for the tables that only large images use: the remap's table of every colour
// (from 512 x 512) and the unique count's (from 1024 x 1024); half-transparent pixels mixed in
// take the other road beside them. "large" has about 746,000 colours, past the length at which
// the pre-merge threshold stops growing; "large-alpha" about 183,000, short of it.
TEST_F(Golden, LargePhotographsUnchanged) {
    struct TCase {
        const char* name;
        int w, h;
        bool alpha;
    };
    for (const TCase& c : {TCase{"large", 2048, 2048, false}, TCase{"large-alpha", 512, 512, true}}) {
        EngineState state;
        TQuantizerSettings settings;
        EngineObserver quiet;
        state.HasAlpha = c.alpha;
        TPixelImage img = Photo(c.w, c.h, 5, c.alpha);
        // Alpha only in the left quarter: most pixels stay opaque.
        if (c.alpha)
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x)
                    if (x >= c.w / 4) img[y][x].A = 255;
        state.SetSourceImage(std::move(img));
        ApplyColorSpace(state, 0);
        BuildUniqueColors(state, false);
        Check(std::string(c.name) + "/unique", static_cast<uint64_t>(state.UniqueColorCount) * 1000003u +
                                                    static_cast<uint64_t>(state.UniqueColorIndex.First.back()));
        for (const TRun& r : {TRun{"256", TDitherMode::FloydSteinberg}, TRun{"200", TDitherMode::None}}) {
            Requantize(state, settings, r, quiet);
            Check(std::string(c.name) + "/" + r.count, OutputHash(state));
        }
    }
}

const std::map<std::string, uint64_t>& Golden::Table() {
    static const std::map<std::string, uint64_t> table = {
        {"large/unique", 0x000000ad9f359619ull},
        {"large/256", 0x1a12888171223132ull},
        {"large/200", 0xc5a2b632e86e1364ull},
        {"large-alpha/unique", 0x0000002ab32ec1a5ull},
        {"large-alpha/256", 0xe7859325945c09cbull},
        {"large-alpha/200", 0x0f610a3c9ca40e38ull},
        {"basn2c08/open", 0x8820caae7bd251a2ull},
        {"basn2c08/256", 0xc3d0b1c4abbf5601ull},
        {"basn2c08/64", 0xbc74ff829bbcda53ull},
        {"basn2c08/16", 0x2bde1259351c0827ull},
        {"basn2c08/32", 0x9cee3d2d30863141ull},
        {"basn2c08/8", 0xcb1459ad6817a06dull},
        {"basn2c08/128", 0xa3e177ec421ca8f4ull},
        {"basn3p08/open", 0x2b0a8ef1372f1929ull},
        {"basn3p08/256", 0x2b0a8ef1372f1929ull},
        {"basn3p08/64", 0x6820d232af225ccdull},
        {"basn3p08/16", 0x01490bd6b77589c6ull},
        {"basn3p08/32", 0x93e967c5a7722e98ull},
        {"basn3p08/8", 0xabbadbd3af5c2574ull},
        {"basn3p08/128", 0x1c5df12a9587e0c6ull},
        {"basn6a08/open", 0xefcd154410c12513ull},
        {"basn6a08/256", 0xdd661b19f5c5588bull},
        {"basn6a08/64", 0xccaf481c1d202c91ull},
        {"basn6a08/16", 0x398271565c615d9full},
        {"basn6a08/32", 0xfd277a26b567bd1dull},
        // The ordered dither no longer turns the opaque pixel (31, 31) fully transparent.
        {"basn6a08/8", 0x39f4dab7a323cb1cull},
        {"basn6a08/128", 0x5cc5ec3b0ef02b8full},
        {"basn4a08/open", 0x8fe7d641304d2448ull},
        {"basn4a08/256", 0x4954c25da9929c41ull},
        {"basn4a08/64", 0xd35af31d230702ceull},
        {"basn4a08/16", 0x25b16e638ca64e91ull},
        {"basn4a08/32", 0x6ed4e24da0cedfc6ull},
        {"basn4a08/8", 0x004127dd5956c60bull},
        {"basn4a08/128", 0xe750c3faf5231e28ull},
        {"basn0g16/open", 0xef224ce7527d5a69ull},
        {"basn0g16/256", 0xef224ce7527d5a69ull},
        {"basn0g16/64", 0x8ba601abedcf1a0aull},
        {"basn0g16/16", 0x67ab93647146fe0dull},
        {"basn0g16/32", 0x89745c6512da78d0ull},
        {"basn0g16/8", 0x0be0c248bc4f43a5ull},
        {"basn0g16/128", 0xf770e3d6b411fdfeull},
        {"basi2c16/open", 0x5718e42148acff15ull},
        {"basi2c16/256", 0x687388fbfb08a04eull},
        {"basi2c16/64", 0x779c3f7d8dcad176ull},
        {"basi2c16/16", 0x663ceff877554ff7ull},
        {"basi2c16/32", 0x5c1eaedefb0c6455ull},
        {"basi2c16/8", 0x2a85e06505eee75cull},
        {"basi2c16/128", 0x5dd0d800957262d8ull},
        {"tbbn3p08/open", 0x2d2aeee0846f0122ull},
        {"tbbn3p08/256", 0x2d2aeee0846f0122ull},
        {"tbbn3p08/64", 0x68221da99d4b5bc7ull},
        {"tbbn3p08/16", 0x58374c342161727dull},
        {"tbbn3p08/32", 0x90a8ace473ec3ff1ull},
        {"tbbn3p08/8", 0xc443396fe4937b8bull},
        {"tbbn3p08/128", 0x208e79fa7cc152c9ull},
        {"tbrn2c08/open", 0xdef57038946751b2ull},
        {"tbrn2c08/256", 0x97d2bb0f239d155full},
        {"tbrn2c08/64", 0x5b4bec58fd0a4f9dull},
        {"tbrn2c08/16", 0xf50989929ff7ee11ull},
        {"tbrn2c08/32", 0xab406d9decdebe95ull},
        {"tbrn2c08/8", 0x2a9e56f59f6f3f89ull},
        {"tbrn2c08/128", 0x29c6c21bd147cec1ull},
        {"f02n2c08/open", 0xb0df604cf4ef1387ull},
        {"f02n2c08/256", 0x00fee5aef9144c2dull},
        {"f02n2c08/64", 0x961c04f1bf0e191cull},
        {"f02n2c08/16", 0x8825f6a971af389cull},
        {"f02n2c08/32", 0x4616f628f434c5eeull},
        {"f02n2c08/8", 0x46d4a4fd5f37220cull},
        {"f02n2c08/128", 0x7b1fd5a854d5e52cull},
        {"s39i3p04/open", 0x6cf146a6d8f3439dull},
        {"s39i3p04/256", 0x6cf146a6d8f3439dull},
        {"s39i3p04/64", 0x6cf146a6d8f3439dull},
        {"s39i3p04/16", 0x6cf146a6d8f3439dull},
        {"s39i3p04/32", 0xb46f18d146508684ull},
        {"s39i3p04/8", 0xeb5b245271ab63e0ull},
        {"s39i3p04/128", 0x6cf146a6d8f3439dull},
        {"z09n2c08/open", 0xca99ca720c57658dull},
        {"z09n2c08/256", 0xf141457990a52cd4ull},
        {"z09n2c08/64", 0xaf271a33b0a7f972ull},
        {"z09n2c08/16", 0xedaaae6e0f0d84cfull},
        {"z09n2c08/32", 0xcc101cb6d4a4ae6full},
        {"z09n2c08/8", 0xa49084dc1d916e06ull},
        {"z09n2c08/128", 0xcbca7fa65e9784c0ull},
        {"bgan6a16/open", 0x1d6fc06c588f8c40ull},
        {"bgan6a16/256", 0x5b7e71d012cc3233ull},
        {"bgan6a16/64", 0xcb071b1e02aa2ea3ull},
        {"bgan6a16/16", 0x287782e91ca04b35ull},
        {"bgan6a16/32", 0xb98ddaa9e2c2e534ull},
        {"bgan6a16/8", 0x7369fed3e1b0b28eull},
        {"bgan6a16/128", 0x6135de784e69c3f3ull},
        {"photo/256", 0x81f72093c51c3a27ull},
        {"photo/64", 0x0c5a9cbdca518b6full},
        {"photo/16", 0x0439818bf140a978ull},
        {"photo/32", 0x1c4006e190ad5538ull},
        {"photo/8", 0x5a677ca9eb0b4d69ull},
        {"photo/128", 0x0de213f59980817dull},
        {"photo/mask", 0xa1e5af34ecb1d1d4ull},
        {"photo/nomix", 0x51010924b750d72cull},
        {"wide/256", 0xbeb4c36cf934d536ull},
        {"wide/64", 0x076c2fef1b8d7994ull},
        {"wide/16", 0xa3240ef3d83c197cull},
        {"wide/32", 0x7e752982861dc27eull},
        {"wide/8", 0x9740884595e9ec87ull},
        {"wide/128", 0xbd8b6ae8a26384afull},
        {"wide/mask", 0x044e04eec438bf7dull},
        {"wide/nomix", 0x3d285674f751b714ull},
        {"alpha/256", 0x164ee8e492ad72d7ull},
        {"alpha/64", 0xcace673354f500c6ull},
        {"alpha/16", 0x7dd027ee0318e7f4ull},
        {"alpha/32", 0x5a47f8050648def7ull},
        {"alpha/8", 0x3aa814f6e3bdae0cull},
        {"alpha/128", 0x2c9a35f01ff2ec01ull},
        {"alpha/mask", 0x53d3eea6ccfa3875ull},
        {"alpha/nomix", 0xcd5f6af0f35a6fa8ull},
        {"yuv/256", 0x502087f2f4148428ull},
        {"yuv/64", 0x81848c1788a502c7ull},
        {"yuv/16", 0x817619026d9c8e76ull},
        {"yuv/32", 0x1c6cc56b0e65b189ull},
        {"yuv/8", 0x4614d521c1ac5930ull},
        {"yuv/128", 0x2961e4c9bf40ca11ull},
        {"yuv/mask", 0x06bc80cfb0c4edeaull},
        {"yuv/nomix", 0xfd12fa0efe974fceull},
        {"rgb/256", 0x4f7299eb95456eb3ull},
        {"rgb/64", 0x7223365b95f86d1full},
        {"rgb/16", 0x09b241faf1cbe613ull},
        {"rgb/32", 0x78d2a30fa9132e89ull},
        {"rgb/8", 0x87e122d5192cae94ull},
        {"rgb/128", 0x2f77382bf0d76137ull},
        {"rgb/mask", 0x75ff55633f0f5fafull},
        {"rgb/nomix", 0x4dd45443d20ac3ddull},
    };
    return table;
}

}  // namespace
}  // namespace jx
