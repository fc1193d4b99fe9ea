#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>

#include "platform/process.h"
#include "platform_test_util.h"

using jx::CancelFlag;
using jx::RunAndWait;
using jx::RunOptions;
using jx::test::ReadText;

namespace {

// Gone once it has vanished or only its zombie is left. SIGKILL is delivered asynchronously,
// hence the generous wait.
bool GoneSoon(pid_t pid) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        const std::string line = ReadText("/proc/" + std::to_string(pid) + "/stat");
        const auto close = line.rfind(')');
        if (line.empty() || (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z'))
            return true;
        if (std::chrono::steady_clock::now() > until) return false;
        ::usleep(10000);
    }
}

}  // namespace

TEST(RunAndWait, ReportsExitCodesAndPassesArgumentsVerbatim) {
    EXPECT_TRUE(RunAndWait({"true"}).Succeeded());
    auto three = RunAndWait({"/bin/sh", "-c", "exit 3"});
    EXPECT_TRUE(three.started && three.exited);
    EXPECT_FALSE(three.Succeeded());
    EXPECT_EQ(three.Describe("tool"), "tool ended with exit code 3");

    RunOptions show;
    show.showConsole = true;
    // No shell parses the arguments: blanks, quotes and '$' arrive as given.
    auto echo = RunAndWait({"/bin/sh", "-c", "printf '%s|' \"$@\"; echo err >&2", "sh", "a b", "$HOME", "'q'"}, show);
    EXPECT_EQ(echo.output, "a b|$HOME|'q'|err\n");
    EXPECT_EQ(RunAndWait({"/bin/sh", "-c", "echo hidden"}).output, "");
}

TEST(RunAndWait, MissingProgramOrSetCancelFlagStartsNothing) {
    auto r = RunAndWait({"/nonexistent/tool", "x"});
    EXPECT_FALSE(r.started);
    EXPECT_NE(r.Describe("tool").find("could not be started"), std::string::npos);
    EXPECT_FALSE(RunAndWait({}).started);

    jx::test::TempDir dir;
    CancelFlag cancel;
    cancel.Request();
    RunOptions opts;
    opts.cancel = &cancel;
    r = RunAndWait({"/bin/sh", "-c", "touch \"$1\"", "sh", dir / "ran"}, opts);
    EXPECT_FALSE(r.started);
    EXPECT_TRUE(r.canceled);
    EXPECT_FALSE(std::filesystem::exists(dir / "ran"));
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
    EXPECT_EQ(std::stoi(f[2]), std::stoi(r.output));
    EXPECT_EQ(std::stoi(f[16]), 19);
}

TEST(RunAndWait, CancelOrAFailingPumpEndsTheToolAndItsChildren) {
    jx::test::TempDir dir;
    const std::string pidFile = dir / "pids";
    CancelFlag cancel;
    RunOptions opts;
    opts.cancel = &cancel;
    opts.pump = [&] {
        if (ReadText(pidFile).find('\n') != std::string::npos) cancel.Request();
    };
    // The tool ignores SIGTERM and leaves a child behind that does so too.
    auto r = RunAndWait({"/bin/sh", "-c", "trap '' TERM; sleep 1000 & echo $$ $! > \"$1\"; wait", "sh", pidFile}, opts);
    EXPECT_TRUE(r.started && r.canceled);
    EXPECT_FALSE(r.Succeeded());
    std::istringstream ids(ReadText(pidFile));
    pid_t tool = 0, child = 0;
    ids >> tool >> child;
    ASSERT_GT(child, 0);
    EXPECT_TRUE(GoneSoon(tool));
    EXPECT_TRUE(GoneSoon(child));

    const std::string one = dir / "pid";
    RunOptions failing;
    failing.pump = [&] {
        if (!ReadText(one).empty()) throw std::runtime_error("pump");
    };
    EXPECT_THROW(RunAndWait({"/bin/sh", "-c", "echo $$ > \"$1\"; exec sleep 1000", "sh", one}, failing),
                 std::runtime_error);
    EXPECT_TRUE(GoneSoon(std::stoi(ReadText(one))));
}

TEST(RunAndWait, TheToolDiesWithTheProgramThatStartedIt) {
    // The program is killed outright while it waits: nothing of it runs to end the tool.
    jx::test::TempDir dir;
    const std::string pidFile = dir / "pid";
    const pid_t program = ::fork();
    ASSERT_GE(program, 0);
    if (program == 0) {
        RunAndWait({"/bin/sh", "-c", "echo $$ > \"$1.part\" && mv \"$1.part\" \"$1\"; exec sleep 1000", "sh", pidFile});
        ::_exit(0);
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ReadText(pidFile).empty() && std::chrono::steady_clock::now() < until) ::usleep(10000);
    const std::string id = ReadText(pidFile);
    ::kill(program, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(program, &status, 0), program);
    ASSERT_FALSE(id.empty());
    const pid_t tool = std::stoi(id);
    EXPECT_TRUE(GoneSoon(tool));
    ::kill(tool, SIGKILL);  // a stray one is not left behind by a failure
}
