#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "fileio/format_graphic.h"
#include "fileio/ppm_graphic.h"
#include "fileio/psd_graphic.h"
#include "fileio/targa_graphic.h"

namespace jx {
namespace {

const TGraphicClass kBitmapClass{"TBitmap", []() -> std::unique_ptr<TBitmap> { return std::make_unique<TBitmap>(); }};
const TGraphicClass kOtherClass{"TOther", nullptr};

TEST(FileFormatList, ExtensionsIgnoreCaseAndShareOneClassEntry) {
    TPictureRegistry registry;
    TFileFormatList list(registry);
    list.AddFormat("tga", "Truevision images", "", ftRaster, false, false, &TTargaGraphic::ClassInfo());
    list.AddFormat("vst", "", "Vista", ftRaster, false, false, &TTargaGraphic::ClassInfo());
    EXPECT_EQ(list.IndexOfExtension("TGA"), 0);
    EXPECT_EQ(list.IndexOfExtension(""), -1);
    ASSERT_EQ(list.Classes().size(), 1u);
    EXPECT_EQ(list.Classes()[0].Count, 2);
    EXPECT_EQ(registry.FindClass(".Vst"), &TTargaGraphic::ClassInfo());
    EXPECT_EQ(registry.Entries()[0].Description, "Truevision images");
    EXPECT_EQ(registry.Entries()[1].Description, "Vista");
    try {
        list.AddFormat("TGA", "", "", ftRaster, false, false, &kOtherClass);
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Attempt to register TGA twice.");
    }
    EXPECT_EQ(list.Classes().size(), 1u);
    list.AddFormat("", "x", "y", ftRaster, false, false, &kOtherClass);  // empty: nothing
    EXPECT_EQ(list.Classes().size(), 1u);
}

TEST(FileFormatList, ReplacingAndRemovingMoveTheCounts) {
    TPictureRegistry registry;
    TFileFormatList list(registry);
    list.AddFormat("a", "A", "", ftRaster, false, false, &kOtherClass);
    list.AddFormat("b", "B", "", ftRaster, false, false, &kBitmapClass);
    list.AddFormat("a", "", "", ftRaster, true, false, &kBitmapClass);
    EXPECT_EQ(list.IndexOfClass(&kOtherClass), -1);  // its last extension moved away
    EXPECT_EQ(list.Classes()[size_t(list.IndexOfClass(&kBitmapClass))].Count, 2);
    EXPECT_EQ(registry.FindClass("a"), &kBitmapClass);
    list.RemoveFormat("a", &kBitmapClass);
    EXPECT_EQ(registry.FindClass("b"), &kBitmapClass);
    list.RemoveFormat("B", &kBitmapClass);
    EXPECT_EQ(list.IndexOfClass(&kBitmapClass), -1);
    EXPECT_EQ(registry.FindClass("b"), nullptr);  // the last extension unregistered the class
    list.RemoveFormat("zzz", &kBitmapClass);      // unknown: nothing
}

TEST(FileFormatList, StartUpRegistrationsAndTheLaterRegistrationWins) {
    TPictureRegistry registry;
    const TStartupClasses classes{&kBitmapClass, nullptr, nullptr, &kOtherClass};
    {
        TFileFormatList list(registry);
        RegisterImageFormats(list, classes);
        EXPECT_EQ(registry.FindClass("pbm"), &TPPMGraphic::ClassInfo());
        EXPECT_EQ(registry.FindClass("PDD"), &TPSDGraphic::ClassInfo());
        EXPECT_EQ(registry.FindClass("icb"), &TTargaGraphic::ClassInfo());
        EXPECT_EQ(registry.FindClass("jpg"), &kOtherClass);
        EXPECT_EQ(list.Classes()[size_t(list.IndexOfClass(&TTargaGraphic::ClassInfo()))].Count, 5);
        const TGraphicClass later{"TLater", nullptr};
        registry.Register("jpg", "JPEG Image", &later);
        EXPECT_EQ(registry.FindClass("jpg"), &later);
        registry.Unregister(&later);
        UnregisterImageFormats(list, classes);
        EXPECT_EQ(registry.FindClass("tga"), nullptr);
        EXPECT_EQ(registry.FindClass("bmp"), nullptr);
        EXPECT_TRUE(list.Classes().empty());
    }
    EXPECT_TRUE(registry.Entries().empty());
}

TEST(PictureRegistry, LoadsByExtension) {
    TPictureRegistry registry;
    TFileFormatList list(registry);
    RegisterImageFormats(list, {});
    const auto path = std::filesystem::path(JX_BINARY_DIR) / "registry_test.PGM";
    {
        std::ofstream out(path, std::ios::binary);
        out << "P2 1 1 255 77";
    }
    auto picture = registry.LoadFromFile(path);
    ASSERT_NE(dynamic_cast<TPPMGraphic*>(picture.get()), nullptr);
    EXPECT_EQ(picture->Pixel(0, 0).R, 77);
    std::filesystem::remove(path);
    EXPECT_THROW(registry.LoadFromFile("x.unknown"), EInvalidGraphic);
}

TEST(FormatGraphic, AssignCopiesPropertiesAndBaseReadsNothing) {
    TPPMGraphic a;
    std::istringstream in("P2 1 1 255 77");
    a.LoadFromStream(in);
    TTargaGraphic b;
    b.Assign(a);
    EXPECT_EQ(b.ImageProperties().Width, 1u);
    EXPECT_EQ(b.Pixel(0, 0).R, 77);
    TFormatGraphic base;
    std::istringstream any("anything");
    EXPECT_FALSE(base.CheckStreamHeader(any));
    EXPECT_FALSE(base.ReadImageInfo(any));
    EXPECT_EQ(base.ImageProperties().FileGamma, 1.0f);
}

}  // namespace
}  // namespace jx
