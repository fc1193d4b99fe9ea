#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "platform/errors.h"
#include "platform/file_size.h"
#include "platform/temp_name.h"
#include "platform_test_util.h"

namespace fs = std::filesystem;
using jx::test::TempDir;

TEST(FileSizeOf, SizesPastTheSignedLimitReadAsUnknown) {
    TempDir dir;
    EXPECT_EQ(jx::FileSizeOf(dir / "missing"), 0);
    EXPECT_EQ(jx::FileSizeOf(dir.path.string()), 0);
    // Sparse, so no disk space is used; 2^32 would read 0 from its low 32 bits alone.
    for (const auto& [size, want] : {std::pair<off_t, int64_t>{1234, 1234}, {2147483647, 2147483647},
                                    {2147483648LL, -1}, {1LL << 32, -1}}) {
        const int fd = ::open((dir / "f").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
        EXPECT_EQ(jx::FileSizeOf(dir / "f"), want) << size;
    }
}

TEST(TempNames, UniqueAndReleased) {
    TempDir dir;
    std::set<std::string> stems;
    {
        std::vector<std::unique_ptr<jx::TempStem>> held;
        for (int i = 0; i < 50; ++i) {
            held.push_back(std::make_unique<jx::TempStem>(dir.path));
            EXPECT_TRUE(fs::exists(held.back()->Stem()));
            stems.insert(held.back()->Stem());
        }
    }
    EXPECT_EQ(stems.size(), 50u);
    EXPECT_TRUE(fs::is_empty(dir.path));
    EXPECT_THROW(jx::TempStem(dir.path / "no" / "such"), jx::PlatformError);
}
