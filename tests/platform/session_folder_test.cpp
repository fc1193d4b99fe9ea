#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>

#include <vector>

#include "platform/errors.h"
#include "platform/session.h"
#include "platform/start_mode.h"
#include "platform_test_util.h"

namespace fs = std::filesystem;
using jx::test::Age;

namespace {

class SessionTest : public ::testing::Test {
protected:
    // A session made by a process that then dies without cleaning up, as after a crash.
    std::string CrashedSession() {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            auto* s = new jx::SessionFolder(base_);
            s->WriteFile("0.png", "x", 1);
            (void)!::write(fds[1], s->Path().data(), s->Path().size());
            ::_exit(0);
        }
        ::close(fds[1]);
        char buf[4096];
        std::string path;
        for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) path.append(buf, static_cast<std::size_t>(n));
        ::close(fds[0]);
        ::waitpid(pid, nullptr, 0);
        return path;
    }

    jx::test::TempDir dir_;
    const std::string base_ = dir_.path.string();
};

TEST_F(SessionTest, FolderIsPrivateNamedAndLocked) {
    jx::SessionFolder s(base_);
    const std::string& p = s.Path();
    ASSERT_EQ(p.back(), '/');
    const std::string name = fs::path(p.substr(0, p.size() - 1)).filename();
    EXPECT_EQ(name.size(), 19u);
    EXPECT_EQ(name.rfind("JX_session_", 0), 0u);
    struct stat st {};
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_NE(jx::SessionFolder(base_).Path(), p);
    EXPECT_THROW(jx::SessionFolder(base_ + "/no/such/folder"), jx::PlatformError);

    // The lock is held: nobody else can take it while the session lives.
    const int fd = ::open(s.FilePath("session.lock").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    ::close(fd);
}

TEST_F(SessionTest, WriteFileReplacesNeverFollowsALinkAndStaysInside) {
    jx::SessionFolder s(base_);
    s.WriteFile("0.png", "abc", 3);
    s.WriteFile("0.png", "de", 2);
    EXPECT_EQ(fs::file_size(s.FilePath("0.png")), 2u);
    EXPECT_EQ(jx::test::Mode(s.FilePath("0.png")), 0600u);

    const std::string outside = base_ + "/outside.txt";
    jx::test::WriteText(outside, "keep");
    fs::create_symlink(outside, s.FilePath("1.png"));
    s.WriteFile("1.png", "new", 3);
    EXPECT_FALSE(fs::is_symlink(s.FilePath("1.png")));
    EXPECT_EQ(jx::test::ReadText(outside), "keep");

    for (const char* bad : {"../escape", "a/b", "", "session.lock"})
        EXPECT_THROW(s.WriteFile(bad, "x", 1), jx::PlatformError) << bad;
    EXPECT_FALSE(fs::exists(base_ + "/escape"));
}

TEST_F(SessionTest, RemoveAllLeavesNothingBehindButNoLinkTarget) {
    fs::create_directory(base_ + "/outside");
    jx::test::WriteText(base_ + "/outside/keep", "x");
    std::string path;
    {
        jx::SessionFolder s(base_);
        path = s.Path();
        s.WriteFile("Quillox", "x", 1);
        fs::create_directories(path + "batch/a/b");
        jx::test::WriteText(path + "batch/a/b/0.png", "x");
        fs::create_directory_symlink(base_ + "/outside", path + "batch/link");
        EXPECT_TRUE(s.RemoveFile("Quillox"));
        EXPECT_TRUE(s.RemoveFile("missing"));
        EXPECT_TRUE(s.RemoveAll());
        EXPECT_TRUE(s.RemoveAll());
        EXPECT_THROW(s.WriteFile("late", "x", 1), jx::PlatformError);
    }
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(fs::exists(base_ + "/outside/keep"));
    fs::remove_all(base_ + "/outside");

    {
        jx::SessionFolder s(base_);  // the destructor cleans up too
        s.WriteFile("ScreenShot.bmp", "x", 1);
    }
    EXPECT_TRUE(fs::is_empty(base_));
}

TEST_F(SessionTest, SweepRemovesOnlyStaleSessionsOfThisUser) {
    jx::SessionFolder live(base_);
    live.WriteFile("0.png", "x", 1);
    const std::string crashed = CrashedSession();
    ASSERT_FALSE(crashed.empty());
    ASSERT_TRUE(fs::exists(crashed + "0.png"));
    // A stale folder goes whole, sub-folders included.
    fs::create_directories(crashed + "frames/deep");
    jx::test::WriteText(crashed + "frames/deep/1.bmp", "x");
    ASSERT_TRUE(Age(crashed + "session.lock") && Age(crashed));
    // One that crashed a moment ago might still be a start-up in progress: it stays for now.
    const std::string recent = CrashedSession();

    // Names with the prefix but not exactly eight characters after it are not ours.
    fs::create_directory(base_ + "/JX_session_1234567");
    fs::create_directory(base_ + "/JX_session_123456789");
    // A link with a session name must not lead the sweep into its target.
    fs::create_directory(base_ + "/target");
    jx::test::WriteText(base_ + "/target/precious", "x");
    fs::create_directory_symlink(base_ + "/target", base_ + "/JX_session_LINKLINK");
    // A plain file with a session name is left alone.
    jx::test::WriteText(base_ + "/JX_session_FILEFILE", "x");
    // A folder without a lock goes only when old.
    const std::string young = base_ + "/JX_session_YOUNG000", old = base_ + "/JX_session_OLD00000";
    fs::create_directory(young);
    fs::create_directory(old);
    jx::test::WriteText(old + "/left.img", "x");
    ASSERT_TRUE(Age(old));

    EXPECT_EQ(jx::DeleteStaleSessions(base_), 2);
    EXPECT_FALSE(fs::exists(crashed));
    EXPECT_FALSE(fs::exists(old));
    EXPECT_TRUE(fs::exists(young));
    EXPECT_TRUE(fs::exists(recent + "0.png"));
    EXPECT_TRUE(fs::exists(live.FilePath("0.png")));
    for (const char* kept : {"JX_session_1234567", "JX_session_123456789", "target/precious", "JX_session_LINKLINK",
                             "JX_session_FILEFILE"})
        EXPECT_TRUE(fs::exists(base_ + "/" + kept)) << kept;
    EXPECT_TRUE(fs::is_symlink(base_ + "/JX_session_LINKLINK"));
}

// Start-ups that sweep while others are making their folders: none fails, none loses its folder.
TEST_F(SessionTest, RacingStartUpsKeepTheirFolders) {
    constexpr int kProcesses = 6;
    constexpr int kRounds = 60;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            int code = 0;
            for (int round = 0; round < kRounds && code == 0; ++round) {
                try {
                    jx::SessionFolder s(base_);
                    // No age grace here, so the lock alone must protect the folder.
                    jx::DeleteStaleSessions(base_, 0);
                    s.WriteFile("0.png", "x", 1);
                    if (!fs::exists(s.FilePath(jx::SessionFolder::kLockName))) code = 2;
                } catch (const std::exception&) {
                    code = 3;
                }
            }
            ::_exit(code);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_TRUE(fs::is_empty(base_));
}

TEST_F(SessionTest, SecondInstanceIsTheOneThatCannotTakeTheLock) {
    {
        jx::InstanceLock first(base_);
        EXPECT_FALSE(first.SecondInstance());
        jx::InstanceLock second(base_);
        EXPECT_TRUE(second.SecondInstance());

        // Another process sees the same.
        const pid_t pid = ::fork();
        if (pid == 0) {
            jx::InstanceLock other(base_);
            ::_exit(other.SecondInstance() ? 0 : 1);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    jx::InstanceLock after(base_);
    EXPECT_FALSE(after.SecondInstance());
}

TEST(RuntimeFolder, IsPrivate) {
    const std::string dir = jx::RuntimeFolder();
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(st.st_mode & 077, 0u);
}

TEST(StartMode, BatchWordInAnyCaseOrSeveralArgumentsOrAFolder) {
    using jx::IsBatchMode;
    for (const char* w : {"batch", "BATCH", "-Batch", "/batch", "--BATCH"}) EXPECT_TRUE(IsBatchMode({w})) << w;
    for (const char* w : {"batches", "-b", "/no/such/file.png", ""}) EXPECT_FALSE(IsBatchMode({w})) << w;
    EXPECT_FALSE(IsBatchMode({}));
    EXPECT_TRUE(IsBatchMode({"a.png", "b.png"}));

    jx::test::TempDir dir;
    EXPECT_TRUE(IsBatchMode({dir.path.string()}));
    jx::test::WriteText(dir / "a.png", "x");
    EXPECT_FALSE(IsBatchMode({dir / "a.png"}));
}

}  // namespace
