#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "fake_tools.h"
#include "fileio/tools.h"
#include "platform/process.h"

namespace fs = std::filesystem;
using namespace jx;
using jx::test::TempDir;
using jx::test::WriteScript;

namespace {

// Puts a folder in front of PATH for one test.
class PathPrefix {
public:
    explicit PathPrefix(const fs::path& dir) {
        const char* old = std::getenv("PATH");
        saved_ = old ? old : "";
        ::setenv("PATH", (dir.string() + ":" + saved_).c_str(), 1);
    }
    ~PathPrefix() { ::setenv("PATH", saved_.c_str(), 1); }

private:
    std::string saved_;
};

}  // namespace

TEST(Tools, LookupOnPathAndBesideTheProgram) {
    TempDir dir;
    fs::create_directory(dir.path / "bin");
    WriteScript(dir / "bin/DeflOpt", "exit 0");
    WriteScript(dir / "bin/quillox", "exit 0");
    std::ofstream(dir / "bin/cwebp") << "not executable";
    PathPrefix path(dir.path / "bin");

    EXPECT_EQ(FindOnPath("deflopt", true), dir.path / "bin/DeflOpt");
    EXPECT_TRUE(FindOnPath("deflopt").empty());
    EXPECT_NE(FindOnPath("cwebp"), dir.path / "bin/cwebp");
    EXPECT_TRUE(FindOnPath("no-such-tool-here").empty());

    EXPECT_EQ(FindQuillox(dir.path / "bin"), dir.path / "bin/quillox");
    EXPECT_EQ(FindQuillox(dir.path), dir.path / "bin/quillox");
    EXPECT_EQ(FindQuillox(dir.path / "tests"), dir.path / "bin/quillox");
    EXPECT_FALSE(ExecutableDir().empty());
}

TEST(Tools, InstalledIntoTheSessionFolderAndRunnable) {
    TempDir dir, session;
    WriteScript(dir / "advdef", "echo ran");
    auto made = InstallTools({{"advdef", dir.path / "advdef"}, {"deflopt", {}}}, session.path);
    ASSERT_EQ(made, (std::vector<fs::path>{session.path / "advdef"}));
    EXPECT_FALSE(fs::exists(session.path / "deflopt"));
    RunOptions show;
    show.showConsole = true;
    EXPECT_EQ(RunAndWait({made[0].string()}, show).output, "ran\n");
    // Placing them again replaces the old entries.
    EXPECT_EQ(InstallTools({{"advdef", dir.path / "advdef"}}, session.path).size(), 1u);
}
