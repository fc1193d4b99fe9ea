#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fileio/format_graphic.h"
#include "fileio/ppm_graphic.h"
#include "fileio/psd_graphic.h"
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
    EXPECT_EQ(list.IndexOfExtension("TGA"), 0);
    ASSERT_EQ(list.Classes().size(), 1u);
    EXPECT_EQ(list.Classes()[0].Count, 2);
    EXPECT_EQ(registry.FindClass(".Vst"), &TTargaGraphic::ClassInfo());
    try {
        list.AddFormat("TGA", "", "", ftRaster, false, false, &kOtherClass);
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Attempt to register TGA twice.");
    }
    EXPECT_EQ(list.Classes().size(), 1u);

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
        EXPECT_EQ(registry.FindClass("PDD"), &TPSDGraphic::ClassInfo());
        EXPECT_EQ(registry.FindClass("jpg"), &kOtherClass);
        UnregisterImageFormats(list, classes);
        EXPECT_EQ(registry.FindClass("tga"), nullptr);
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

}  // namespace
}  // namespace jx
