#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "common/test_data.h"
#include "fake_tools.h"
#include "fileio/errors.h"
#include "fileio/png_chain.h"
#include "fileio/tools.h"
#include "fileio/png_probe.h"
#include "imaging/engine_state.h"

namespace fs = std::filesystem;
using namespace jx;
using jx::test::MakePng;
using jx::test::ReadBytes;
using jx::test::ReadText;
using jx::test::TempDir;
using jx::test::WriteBytes;
using jx::test::WriteScript;

namespace {

class PngChain : public ::testing::Test {
protected:
    void SetUp() override {
        input = MakePng(64, 64, 1);
        small = MakePng(64, 64, 9);
        big = MakePng(64, 64, 0);
        tieA = MakePng(64, 64, 9, 0, std::string("Ka\0aa", 5));
        tieB = MakePng(64, 64, 9, 0, std::string("Kb\0bb", 5));
        ASSERT_EQ(tieA.size(), tieB.size());
        auto other = MakePng(64, 64, 9, 1);
        ASSERT_LT(other.size(), input.size());  // would win, were it the same image
        for (auto& [name, bytes] : std::vector<std::pair<std::string, std::vector<uint8_t>>>{
                 {"small.png", small}, {"big.png", big}, {"half.png", MakePng(32, 64, 9)}, {"tieA.png", tieA}, {"tieB.png", tieB}, {"other.png", other}}) {
            WriteBytes(fixtures / name, bytes);
        }
        job.sessionFolder = session.path.string();
        job.cancel = &cancel;
    }

    // A fake tool in the session folder that logs its command line and then runs `action`.
    void Tool(const std::string& name, const std::string& action) {
        WriteScript(session / name, "echo \"$0 $*\" >> '" + (session / "log") + "'\n" + action);
    }
    std::string CopyFixture(const std::string& name) { return "cp '" + (fixtures / name) + "' \"$last\""; }

    PngChainResult Run(int level) {
        job.options.level = level;
        return WritePngOptimized(input, "out.png", dest.path.string(), job);
    }
    std::vector<uint8_t> Written() { return ReadBytes(dest / "out.png"); }
    void ExpectSessionClean() {
        EXPECT_FALSE(fs::exists(session / "0.png"));
        EXPECT_FALSE(fs::exists(session / "1.png"));
    }

    TempDir session, dest, fixtures;
    CancelFlag cancel;
    PngChainJob job;
    std::vector<uint8_t> input, small, big, tieA, tieB;
};

}  // namespace

TEST_F(PngChain, NormalLevelWritesTheOptimizedFile) {
    Tool("quillox", CopyFixture("small.png"));
    Tool("deflopt", "true");
    cancel.Request();  // left over from an earlier Esc: the chain starts afresh
    job.options.forcedRgb = true;
    // Progress comes before each step (the log shows only the earlier ones) and at the end.
    std::vector<std::pair<size_t, size_t>> seen;
    job.progress = [&](size_t done, size_t total) {
        const std::string log = fs::exists(session / "log") ? ReadText(session / "log") : std::string();
        EXPECT_EQ(static_cast<size_t>(std::count(log.begin(), log.end(), '\n')), done);
        seen.emplace_back(done, total);
    };
    auto r = Run(PngLevelNormal);
    EXPECT_EQ(r.outcome, PngChainResult::Outcome::Written);
    EXPECT_EQ(Written(), small);
    EXPECT_EQ(r.size, static_cast<int32_t>(small.size()));
    EXPECT_EQ(r.status, "Write (png): " + std::to_string(small.size()) + " bytes");
    EXPECT_EQ(r.infoLine.rfind("Write: " + std::to_string(small.size()) + " bytes (", 0), 0u) << r.infoLine;
    EXPECT_EQ(r.infoLine.substr(r.infoLine.size() - 3), "ms)");
    EXPECT_TRUE(r.warnings.empty());
    const std::string s = session.path.string() + "/";
    EXPECT_EQ(ReadText(session / "log"), s + "quillox -quiet -y -nc -o4 " + s + "0.png\n" + s + "deflopt " + s + "0.png\n");
    EXPECT_EQ(seen, (std::vector<std::pair<size_t, size_t>>{{0, 2}, {1, 2}, {2, 2}}));
    ExpectSessionClean();
    // Nothing but the result is left in the destination folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dest.path), fs::directory_iterator()), 1);
}

TEST_F(PngChain, SmallerCandidateWinsAndATieTakesTheAdvdefFile) {
    Tool("quillox", CopyFixture("tieA.png"));
    Tool("advdef", CopyFixture("tieB.png"));
    Run(PngLevelSlow);
    EXPECT_EQ(Written(), tieB);

    Tool("advdef", CopyFixture("big.png"));
    Run(PngLevelSlow);
    EXPECT_EQ(Written(), tieA);

    Tool("quillox", CopyFixture("big.png"));
    Tool("advdef", CopyFixture("small.png"));
    job.options.iter = "7";
    Run(PngLevelVerySlow);
    EXPECT_EQ(Written(), small);
    EXPECT_NE(ReadText(session / "log").find("advdef -z -f -q -4 -i 7 "), std::string::npos);
    ExpectSessionClean();
}

TEST_F(PngChain, SpoiledCandidatesNeverWin) {
    struct Case {
        const char* what;
        std::string quillox;
        std::string advdef;
        std::vector<uint8_t> expected;
    };
    const std::vector<Case> cases{
        {"deleted", "rm -f \"$last\"", "rm -f \"$last\"", input},
        {"emptied", ": > \"$last\"", ": > \"$last\"", input},
        {"truncated", "head -c 60 '" + (fixtures / "small.png") + "' > \"$last\"", CopyFixture("big.png"), input},
        {"another image", CopyFixture("other.png"), CopyFixture("other.png"), input},
        {"another size", CopyFixture("half.png"), CopyFixture("half.png"), input},
        {"failed with a smaller file", CopyFixture("small.png") + "; exit 1", CopyFixture("big.png"), input},
        {"advdef spoiled, quillox good", CopyFixture("small.png"), "printf 'x' > \"$last\"", small},
        {"garbage after a good start", CopyFixture("tieA.png"),
         "head -c 100 '" + (fixtures / "tieA.png") + "' > \"$last\"", tieA},
    };
    for (const auto& c : cases) {
        Tool("quillox", c.quillox);
        Tool("advdef", c.advdef);
        auto r = Run(PngLevelSlow);
        EXPECT_EQ(Written(), c.expected) << c.what;
        EXPECT_FALSE(r.warnings.empty()) << c.what;
        ExpectSessionClean();
    }
}

TEST_F(PngChain, MissingToolsLeaveTheWrittenImage) {
    auto r = Run(PngLevelFast);
    EXPECT_EQ(Written(), input);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("quillox could not be started"), std::string::npos) << r.warnings[0];
    // The status says the file was written, and why it is not optimised.
    EXPECT_EQ(r.status, "Write (png): " + std::to_string(input.size()) + " bytes; " + r.warnings[0]);
}

TEST_F(PngChain, CancelEndsAHangingToolAndCopiesNothing) {
    const std::string pids = session / "pids";
    Tool("quillox", "sleep 1000 & echo $$ $! > '" + pids + "'; wait");
    Tool("advdef", "touch '" + (session / "advdef-ran") + "'");
    WriteBytes(dest / "out.png", big);
    job.pump = [&] {
        if (ReadText(pids).find('\n') != std::string::npos) cancel.Request();
    };
    auto start = std::chrono::steady_clock::now();
    auto r = Run(PngLevelSlow);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(r.outcome, PngChainResult::Outcome::Canceled);
    EXPECT_EQ(r.status, "Canceled...");
    EXPECT_EQ(Written(), big);
    EXPECT_FALSE(fs::exists(session / "advdef-ran"));
    ExpectSessionClean();
    std::istringstream in(ReadText(pids));
    pid_t tool = 0, child = 0;
    in >> tool >> child;
    for (pid_t p : {tool, child}) {
        ASSERT_GT(p, 0);
        // Killed processes vanish or linger as zombies; SIGKILL takes effect a moment later.
        auto gone = [p] {
            std::string stat = ReadText("/proc/" + std::to_string(p) + "/stat");
            return stat.empty() || stat.substr(stat.rfind(')') + 2, 1) == "Z";
        };
        for (int i = 0; i < 1000 && !gone(); ++i) ::usleep(10000);
        EXPECT_TRUE(gone()) << p;
    }
}

TEST_F(PngChain, ExternalScript) {
    const std::string script = fixtures / "Opt Script.sh";
    WriteScript(script, CopyFixture("small.png") + "; echo optimised \"$1\"");
    job.options.ownScript = "  " + script + " \t";
    job.options.showConsole = true;
    auto r = Run(PngLevelScript);
    EXPECT_EQ(Written(), small);
    EXPECT_EQ(r.consoleOutput, "optimised " + session.path.string() + "/0.png\n");

    // A script without the executable bit still runs when it is a ".sh" file.
    ::chmod(script.c_str(), 0644);
    WriteBytes(dest / "out.png", big);
    Run(PngLevelScript);
    EXPECT_EQ(Written(), small);
}

TEST_F(PngChain, ScriptCheckWritesNothing) {
    WriteBytes(fixtures / "tool.exe", {'M', 'Z'});
    WriteScript(fixtures / "Run.SH", "true");
    EXPECT_EQ(CheckedScript(" " + (fixtures / "Run.SH") + "  "), fixtures / "Run.SH");
    for (const std::string& bad : {std::string(), fixtures / "tool.exe", fixtures / "missing.sh", fixtures.path.string(),
                                   fixtures / "run.sh"}) {
        job.options.ownScript = bad;
        auto r = Run(PngLevelScript);
        EXPECT_EQ(r.outcome, PngChainResult::Outcome::ScriptNotFound) << bad;
        // The path looked for is named, as the chain trims it.
        EXPECT_EQ(r.message, bad.empty() ? "Batch file is not found.\n\rCheck the settings are correct."
                                         : "Batch file is not found: \"" + bad + "\".\n\rCheck the settings are correct.");
        EXPECT_EQ(r.status, "Error...");
        EXPECT_FALSE(fs::exists(dest / "out.png"));
        EXPECT_FALSE(fs::exists(session / "0.png"));
    }
}

TEST_F(PngChain, FailuresLeaveTheDestinationAlone) {
    Tool("quillox", CopyFixture("small.png"));
    job.options.level = PngLevelNormal;
    EXPECT_THROW(WritePngOptimized(input, "out.png", dest / "no-such-folder", job), FileIoError);
    ExpectSessionClean();

    std::vector<uint8_t> broken(input.begin(), input.end() - 20);
    WriteBytes(dest / "out.png", big);
    EXPECT_THROW(WritePngOptimized(broken, "out.png", dest.path.string(), job), FileIoError);
    job.options.level = PngLevelVerySlow;
    job.options.iter = "many";
    EXPECT_THROW(WritePngOptimized(input, "out.png", dest.path.string(), job), FileIoError);
    EXPECT_EQ(Written(), big);
    EXPECT_FALSE(fs::exists(session / "log"));
}

TEST(PngChainRealTools, SlowLevelGivesTheSameImage) {
    TempDir session, dest;
    auto tools = LocateTools(fs::path(JX_BINARY_DIR) / "bin");
    InstallTools(tools, session.path);
    PngChainJob job;
    job.sessionFolder = session.path.string();
    job.options.level = PngLevelSlow;
    auto input = MakePng(64, 64, 1);
    auto r = WritePngOptimized(input, "real.png", dest.path.string(), job);
    EXPECT_EQ(r.outcome, PngChainResult::Outcome::Written);
    auto written = DecodePngFileRgba(dest / "real.png");
    ASSERT_TRUE(written);
    EXPECT_TRUE(SameImage(*written, *DecodePngRgba(input)));
    EXPECT_LE(r.size, static_cast<int32_t>(input.size()));
    for (const auto& w : r.warnings) EXPECT_EQ(w.find("advdef"), std::string::npos) << w;
    if (!tools[0].from.empty()) {
        EXPECT_TRUE(r.warnings.empty()) << r.warnings.front();
    }
}
