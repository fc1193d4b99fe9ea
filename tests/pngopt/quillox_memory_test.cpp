// quillox judges from the header whether an image fits in memory, before it decodes anything.
#include <gtest/gtest.h>
#include <zlib.h>

#include "common/memory_limit.h"
#include "common/test_data.h"
#include "pngopt/image.h"
#include "pngopt/pngenc/png_image.h"

namespace jx::quillox {
namespace {

TEST(QuilloxMemory, EstimateGrowsWithThreadsAndIsRefusedPastWhatIsAvailable) {
    EXPECT_LT(WorkingMemory(1000, 1000, 1), WorkingMemory(1000, 1000, 8));
    EXPECT_NO_THROW(CheckWorkingMemory(1000, 1000, 8, uint64_t(1) << 30));
    EXPECT_NO_THROW(CheckWorkingMemory(16384, 16384, 8, 0));  // nothing known: not refused
    try {
        CheckWorkingMemory(16384, 16384, 8, uint64_t(2) << 30);
        ADD_FAILURE() << "not refused";
    } catch (const InputError& e) {
        const std::string m = e.what();
        EXPECT_NE(m.find("16384x16384"), std::string::npos) << m;
        EXPECT_NE(m.find("2048 MB available"), std::string::npos) << m;
    }
}

TEST(QuilloxMemory, LargeValidPngIsRefusedBeforeDecodingUnderALimit) {
    if (!test::kCanLimitMemory) GTEST_SKIP() << "no memory limit under the address sanitizer";
    // 16384 x 16384 one-bit grey: a small file, 2 GB of working image.
    PngImage png(16384, 16384, kPngGrey, 1);
    png.CompressionLevel = 1;
    const std::vector<uint8_t> bytes = png.Encode();
    ASSERT_LT(bytes.size(), 1u << 20);
    const int result = test::RunWithMemoryLimit(96u << 20, [&] {
        try {
            ReadPng(bytes, ReadSettings{GammaMode::Keep, true, 4});
            return 1;
        } catch (const InputError& e) {
            return std::string(e.what()).find("Not enough memory for a 16384x16384 image") == 0 ? 0 : 3;
        }
    });
    EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace jx::quillox
