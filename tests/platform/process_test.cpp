#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/process.h"

namespace fs = std::filesystem;
using jx::CancelFlag;
using jx::RunAndWait;
using jx::RunOptions;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        std::string templ = (fs::temp_directory_path() / "jx_proc_XXXXXX").string();
        path = ::mkdtemp(templ.data());
    }
    ~TempDir() { fs::remove_all(path); }
};

std::string ReadText(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A process counts as gone once it has vanished or only its zombie is left.
bool ProcessGone(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    if (!in) return true;
    std::string line;
    std::getline(in, line);
    auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

// SIGKILL is delivered asynchronously: allow a generous moment for a killed process to go.
bool GoneSoon(pid_t pid) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!ProcessGone(pid)) {
        if (std::chrono::steady_clock::now() > until) return false;
        ::usleep(10000);
    }
    return true;
}

}  // namespace

TEST(RunAndWait, ReportsExitCodesAndPassesArgumentsVerbatim) {
    auto ok = RunAndWait({"true"});
    EXPECT_TRUE(ok.Succeeded());

    auto three = RunAndWait({"/bin/sh", "-c", "exit 3"});
    EXPECT_TRUE(three.started);
    EXPECT_TRUE(three.exited);
    EXPECT_EQ(three.exitCode, 3);
    EXPECT_FALSE(three.Succeeded());
    EXPECT_EQ(three.Describe("tool"), "tool ended with exit code 3");

    RunOptions show;
    show.showConsole = true;
    // No shell parses the arguments: blanks, quotes and '$' arrive as given.
    auto echo = RunAndWait({"/bin/sh", "-c", "printf '%s|' \"$@\"; echo err >&2", "sh", "a b", "$HOME", "'q'"}, show);
    EXPECT_TRUE(echo.Succeeded());
    EXPECT_EQ(echo.output, "a b|$HOME|'q'|err\n");

    auto hidden = RunAndWait({"/bin/sh", "-c", "echo hidden"});
    EXPECT_TRUE(hidden.Succeeded());
    EXPECT_EQ(hidden.output, "");
}

TEST(RunAndWait, MissingProgramIsNotStarted) {
    auto r = RunAndWait({"/nonexistent/tool", "x"});
    EXPECT_FALSE(r.started);
    EXPECT_FALSE(r.error.empty());
    EXPECT_NE(r.Describe("tool").find("could not be started"), std::string::npos);
    EXPECT_FALSE(RunAndWait({}).started);
}

TEST(RunAndWait, SetCancelFlagStartsNothing) {
    TempDir dir;
    CancelFlag cancel;
    cancel.Request();
    RunOptions opts;
    opts.cancel = &cancel;
    auto marker = dir.path / "ran";
    auto r = RunAndWait({"/bin/sh", "-c", "touch \"$1\"", "sh", marker.string()}, opts);
    EXPECT_FALSE(r.started);
    EXPECT_TRUE(r.canceled);
    EXPECT_FALSE(fs::exists(marker));
}

TEST(RunAndWait, ChildRunsInItsOwnGroupAtLowPriority) {
    RunOptions opts;
    opts.showConsole = true;
    auto r = RunAndWait({"/bin/sh", "-c", "cat /proc/$$/stat"}, opts);
    ASSERT_TRUE(r.Succeeded());
    // Fields after the parenthesised name: state ppid pgrp ... with nice the 17th after it.
    std::istringstream in(r.output.substr(r.output.rfind(')') + 2));
    std::vector<std::string> f;
    for (std::string s; in >> s;) f.push_back(s);
    ASSERT_GT(f.size(), 17u);
    pid_t pid = std::stoi(r.output);
    EXPECT_EQ(std::stoi(f[2]), pid);
    EXPECT_NE(std::stoi(f[2]), getpgrp());
    EXPECT_EQ(std::stoi(f[16]), 19);
}

TEST(RunAndWait, CancelEndsTheToolAndItsChildren) {
    TempDir dir;
    auto pidFile = dir.path / "pids";
    CancelFlag cancel;
    RunOptions opts;
    opts.cancel = &cancel;
    int pumps = 0;
    opts.pump = [&] {
        ++pumps;
        if (ReadText(pidFile).find('\n') != std::string::npos) cancel.Request();
    };
    // The tool ignores SIGTERM and leaves a child behind that does so too.
    const char* script = "trap '' TERM; sleep 1000 & echo $$ $! > \"$1\"; wait";
    auto start = std::chrono::steady_clock::now();
    auto r = RunAndWait({"/bin/sh", "-c", script, "sh", pidFile.string()}, opts);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(r.started);
    EXPECT_TRUE(r.canceled);
    EXPECT_FALSE(r.Succeeded());
    EXPECT_GE(pumps, 1);
    EXPECT_LT(took, std::chrono::seconds(30));
    std::istringstream ids(ReadText(pidFile));
    pid_t tool = 0, child = 0;
    ids >> tool >> child;
    ASSERT_GT(child, 0);
    EXPECT_TRUE(GoneSoon(tool));
    EXPECT_TRUE(GoneSoon(child));
}

TEST(RunAndWait, PumpFailureStillEndsTheChild) {
    TempDir dir;
    auto pidFile = dir.path / "pid";
    RunOptions opts;
    opts.pump = [&] {
        if (!ReadText(pidFile).empty()) throw std::runtime_error("pump");
    };
    EXPECT_THROW(RunAndWait({"/bin/sh", "-c", "echo $$ > \"$1\"; exec sleep 1000", "sh", pidFile.string()}, opts),
                 std::runtime_error);
    EXPECT_TRUE(GoneSoon(std::stoi(ReadText(pidFile))));
}
