#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fake_tools.h"
#include "fileio/format_graphic.h"
#include "fileio/picture_formats.h"
#include "fileio/ppm_graphic.h"
#include "fileio/targa_graphic.h"

namespace jx {
namespace {

const TGraphicClass kBitmapClass{"TBitmap", []() -> std::unique_ptr<TBitmap> { return std::make_unique<TBitmap>(); }};
const TGraphicClass kOtherClass{"TOther", nullptr};

TEST(FileFormatList, RegistrationCountsAndTwiceRegisteredExtensions) {
    TPictureRegistry registry;
    TFileFormatList list(registry);
    list.AddFormat("tga", "Truevision images", "", ftRaster, false, false, &TTargaGraphic::ClassInfo());
    list.AddFormat("vst", "", "Vista", ftRaster, false, false, &TTargaGraphic::ClassInfo());
    EXPECT_EQ(registry.FindClass(".Vst"), &TTargaGraphic::ClassInfo());
    EXPECT_EQ(test::MessageOf<EInvalidGraphic>([&] { list.AddFormat("TGA", "", "", ftRaster, false, false, &kOtherClass); }),
              "Attempt to register TGA twice.");
    ASSERT_EQ(list.Classes().size(), 1u);
    EXPECT_EQ(list.Classes()[0].Count, 2);

    // Replacing an extension moves the counts; the last one removed unregisters the class.
    list.AddFormat("a", "A", "", ftRaster, false, false, &kOtherClass);
    list.AddFormat("b", "B", "", ftRaster, false, false, &kBitmapClass);
    list.AddFormat("a", "", "", ftRaster, true, false, &kBitmapClass);
    EXPECT_EQ(list.IndexOfClass(&kOtherClass), -1);
    EXPECT_EQ(list.Classes()[size_t(list.IndexOfClass(&kBitmapClass))].Count, 2);
    list.RemoveFormat("a", &kBitmapClass);
    list.RemoveFormat("B", &kBitmapClass);
    EXPECT_EQ(list.IndexOfClass(&kBitmapClass), -1);
    EXPECT_EQ(registry.FindClass("b"), nullptr);
}

TEST(FileFormatList, StartUpRegistrationsAreUndone) {
    TPictureRegistry registry;
    const TStartupClasses classes{&kBitmapClass, nullptr, nullptr, &kOtherClass};
    {
        TFileFormatList list(registry);
        RegisterImageFormats(list, classes);
        EXPECT_EQ(registry.FindClass("jpg"), &kOtherClass);
        UnregisterImageFormats(list, classes);
        EXPECT_TRUE(list.Classes().empty());
    }
    EXPECT_TRUE(registry.Entries().empty());
}

TEST(PictureRegistry, LoadsByExtension) {
    TPictureRegistry registry;
    TFileFormatList list(registry);
    RegisterImageFormats(list, {});
    test::TempDir dir;
    std::ofstream(dir / "a.PGM", std::ios::binary) << "P2 1 1 255 77";
    auto picture = registry.LoadFromFile(dir / "a.PGM");
    ASSERT_NE(dynamic_cast<TPPMGraphic*>(picture.get()), nullptr);
    EXPECT_EQ(picture->Pixel(0, 0).R, 77);
    EXPECT_THROW(registry.LoadFromFile("x.unknown"), EInvalidGraphic);
}

TEST(PictureRegistry, TheProgramsRegistryReadsEveryListedFormatAndFiltersThem) {
    const TPictureRegistry& formats = PictureFormats();
    test::TempDir dir;
    std::ofstream(dir / "a.pbm", std::ios::binary) << "P1 2 1 0 1";
    auto picture = formats.LoadFromFile(dir / "a.pbm");
    ASSERT_EQ(picture->Width(), 2);
    EXPECT_EQ(picture->Pixel(0, 0).R, 255);
    EXPECT_EQ(picture->Pixel(1, 0).R, 0);
    // The decoders' formats load through it too.
    const std::string png = JX_TEST_DATA_DIR "/pngsuite/png/basn2c08.png";
    EXPECT_EQ(formats.LoadFromFile(png)->Width(), 32);
    EXPECT_EQ(formats.FindClass("jpg")->Name, "TJPEGBitmap");  // the later registration wins

    const std::string filter = GraphicFilter(formats);
    EXPECT_EQ(filter.rfind("All (*.png;*.gif;*.bmp;", 0), 0u) << filter;
    EXPECT_NE(filter.find("|Portable pixel map images (*.ppm)|*.ppm"), std::string::npos) << filter;
    // "jpg" is registered twice and listed once.
    EXPECT_EQ(filter.find("(*.jpg)"), filter.rfind("(*.jpg)")) << filter;
}

}  // namespace
}  // namespace jx
