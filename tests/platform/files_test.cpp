#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "platform/errors.h"
#include "platform/file_size.h"
#include "platform/temp_name.h"

namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        std::string templ = (fs::temp_directory_path() / "jx_files_XXXXXX").string();
        path = ::mkdtemp(templ.data());
    }
    ~TempDir() { fs::remove_all(path); }
};

// Sparse, so no disk space is used.
void MakeFileOfSize(const fs::path& p, off_t size) {
    int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

}  // namespace

TEST(FileSizeOf, SizesAndLimits) {
    TempDir dir;
    EXPECT_EQ(jx::FileSizeOf((dir.path / "missing").string()), 0);
    EXPECT_EQ(jx::FileSizeOf(""), 0);
    EXPECT_EQ(jx::FileSizeOf(dir.path.string()), 0);

    auto p = dir.path / "f";
    MakeFileOfSize(p, 1234);
    EXPECT_EQ(jx::FileSizeOf(p.string()), 1234);
    MakeFileOfSize(p, 2147483647);
    EXPECT_EQ(jx::FileSizeOf(p.string()), 2147483647);
    MakeFileOfSize(p, 2147483648LL);
    EXPECT_EQ(jx::FileSizeOf(p.string()), -1);
    MakeFileOfSize(p, 3LL << 30);
    EXPECT_EQ(jx::FileSizeOf(p.string()), -1);
    MakeFileOfSize(p, 1LL << 32);  // the low 32 bits alone would read 0
    EXPECT_EQ(jx::FileSizeOf(p.string()), -1);
}

TEST(TempStem, NamesAreUniqueAndReleased) {
    TempDir dir;
    std::set<std::string> stems;
    {
        std::vector<std::unique_ptr<jx::TempStem>> held;
        for (int i = 0; i < 50; ++i) {
            held.push_back(std::make_unique<jx::TempStem>(dir.path));
            const auto& s = held.back()->Stem();
            auto name = fs::path(s).filename().string();
            EXPECT_EQ(name.size(), 8u);
            EXPECT_EQ(name.find_first_not_of("0123456789ABCDEF"), std::string::npos) << name;
            EXPECT_TRUE(fs::exists(s));
            EXPECT_EQ(held.back()->With(".png"), s + ".png");
            stems.insert(s);
        }
    }
    EXPECT_EQ(stems.size(), 50u);
    EXPECT_TRUE(fs::is_empty(dir.path));
    EXPECT_THROW(jx::TempStem(dir.path / "no" / "such"), jx::PlatformError);
}

TEST(CreateUniqueFile, MakesDistinctFiles) {
    TempDir dir;
    auto a = jx::CreateUniqueFile(dir.path, ".x-");
    auto b = jx::CreateUniqueFile(dir.path, ".x-");
    EXPECT_NE(a, b);
    EXPECT_EQ(a.parent_path(), dir.path);
    EXPECT_TRUE(fs::exists(a) && fs::exists(b));
    EXPECT_THROW(jx::CreateUniqueFile(dir.path / "none", "p"), jx::PlatformError);
}
