#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <functional>

#include "platform/errors.h"
#include "platform/replace_file.h"
#include "platform_test_util.h"

namespace fs = std::filesystem;
using jx::test::Mode;
using jx::test::ReadText;
using jx::test::WriteText;

namespace {

class ReplaceFileTest : public ::testing::Test {
protected:
    static void Replace(const std::string& path, const std::string& text) {
        jx::ReplaceFileBytes(path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    }
    // Only the named entries are in the folder: no temporary stayed behind.
    void ExpectOnly(std::initializer_list<std::string> names) const {
        std::size_t count = 0;
        for (const auto& e : fs::directory_iterator(dir_.path)) {
            ++count;
            EXPECT_NE(std::find(names.begin(), names.end(), e.path().filename().string()), names.end()) << e.path();
        }
        EXPECT_EQ(count, names.size());
    }
    // Expects the replace to fail with a message containing the text.
    void ExpectRefused(const std::string& path, const std::string& text) {
        try {
            Replace(path, "x");
            ADD_FAILURE() << "no error for " << path;
        } catch (const jx::PlatformError& e) {
            EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
        }
    }

    jx::test::TempDir dir_;
};

}  // namespace

TEST_F(ReplaceFileTest, KeepsModeAndOwnerOfTheFileReplaced) {
    const std::string f = dir_ / "secret.png";
    WriteText(f, "old");
    ::chmod(f.c_str(), 0600);
    Replace(f, "new");
    EXPECT_EQ(ReadText(f), "new");
    EXPECT_EQ(Mode(f), 0600u);

    // A new file gets the usual mode for new files.
    const mode_t mask = ::umask(022);
    Replace(dir_ / "fresh.png", "x");
    ::umask(mask);
    EXPECT_EQ(Mode(dir_ / "fresh.png"), 0644u);

    if (::geteuid() == 0) {
        // Run by root on another user's file, the file stays that user's.
        ASSERT_EQ(::chown(f.c_str(), 65534, 65534), 0);
        ::chmod(f.c_str(), 06640);
        Replace(f, "by root");
        struct stat st {};
        ASSERT_EQ(::stat(f.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, 65534u);
        EXPECT_EQ(st.st_mode & 07777, 06640u);
    }
    ExpectOnly({"secret.png", "fresh.png"});
}

TEST_F(ReplaceFileTest, ALinkedDestinationHasItsTargetReplaced) {
    fs::create_directory(dir_ / "real");
    const std::string target = dir_ / "real/a.png";
    WriteText(target, "old");
    ::chmod(target.c_str(), 0640);
    fs::create_symlink("real/a.png", dir_ / "rel");      // relative to the link's folder
    fs::create_symlink(target, dir_ / "abs");             // absolute
    fs::create_symlink(dir_ / "rel", dir_ / "chain");     // a link to a link

    for (const char* link : {"rel", "abs", "chain"}) {
        EXPECT_EQ(jx::ResolveDestination(dir_ / link), target);
        Replace(dir_ / link, link);
        EXPECT_TRUE(fs::is_symlink(dir_ / link));
        EXPECT_EQ(ReadText(target), link);
        EXPECT_EQ(Mode(target), 0640u);
    }
    // A dangling link gets its target created.
    fs::create_symlink("real/b.png", dir_ / "dangling");
    Replace(dir_ / "dangling", "b");
    EXPECT_TRUE(fs::is_symlink(dir_ / "dangling"));
    EXPECT_EQ(ReadText(dir_ / "real/b.png"), "b");

    fs::create_symlink("loop2", dir_ / "loop1");
    fs::create_symlink("loop1", dir_ / "loop2");
    EXPECT_THROW(Replace(dir_ / "loop1", "x"), jx::PlatformError);
}

TEST_F(ReplaceFileTest, FailuresLeaveTheOldFileAndNoTemporary) {
    const std::string f = dir_ / "a.png";
    WriteText(f, "old");
    EXPECT_THROW(jx::ReplaceFile(f, [](int, const std::string&) { throw std::runtime_error("encoder failed"); }),
                 std::runtime_error);
    EXPECT_EQ(ReadText(f), "old");
    ExpectOnly({"a.png"});

    // Not a regular file: never replaced (a device or folder named as output stays what it is).
    fs::create_directory(dir_ / "folder.png");
    ExpectRefused(dir_ / "folder.png", "folder.png\": it is not a regular file");
    ExpectRefused(dir_ / "no/such/x.png", "Cannot write \"" + (dir_ / "no/such/x.png") + "\": No such file or directory");
    ExpectOnly({"a.png", "folder.png"});
}

TEST_F(ReplaceFileTest, StaleTemporariesOfAKilledRunAreRemoved) {
    const std::string f = dir_ / "a.png";
    WriteText(f, "old");
    // Another file's is not ours to judge; one that a running writer holds stays, however old.
    const std::string stale = dir_ / ".a.png.jx-Ab12Cd", recent = dir_ / ".a.png.jx-Zz99Yy",
                      other = dir_ / ".b.png.jx-Ab12Cd", held = dir_ / ".a.png.jx-Held00";
    // The user's own files look alike but lack the mark (or its exact shape): never touched.
    const std::vector<std::string> users = {dir_ / ".a.png.backup", dir_ / ".a.png.abc123", dir_ / ".a.png.draft2",
                                            dir_ / ".a.png.jx-abc",  dir_ / ".a.png.jx-abc1234"};
    for (const auto& p : {stale, recent, other, held}) WriteText(p, "partial");
    for (const auto& p : users) WriteText(p, "mine");
    for (const auto& p : {stale, other, held}) ASSERT_TRUE(jx::test::Age(p, 120));
    for (const auto& p : users) ASSERT_TRUE(jx::test::Age(p, 120));
    const int fd = ::open(held.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);

    // A replace sweeps before it writes, and its own temporary has the mark.
    jx::ReplaceFile(f, [&](int, const std::string& temp) {
        EXPECT_EQ(fs::path(temp).filename().string().rfind(".a.png.jx-", 0), 0u) << temp;
    });
    ::close(fd);
    EXPECT_FALSE(fs::exists(stale));
    for (const auto& p : {recent, other, held}) EXPECT_TRUE(fs::exists(p)) << p;
    for (const auto& p : users) EXPECT_EQ(ReadText(p), "mine") << p;
}

TEST_F(ReplaceFileTest, AWriteProtectedFileIsRefusedAndKept) {
    // Also under root, who may write anything: the file's own mode is what the user set.
    const std::string f = dir_ / "locked.png";
    WriteText(f, "old");
    ::chmod(f.c_str(), 0444);
    ExpectRefused(f, "Cannot write \"" + f + "\": the file is write-protected");
    EXPECT_EQ(ReadText(f), "old");
    EXPECT_EQ(Mode(f), 0444u);
    // Through a link too: the target is what would be replaced.
    fs::create_symlink("locked.png", dir_ / "link.png");
    ExpectRefused(dir_ / "link.png", "write-protected");
    EXPECT_EQ(ReadText(f), "old");
    ExpectOnly({"locked.png", "link.png"});
}

TEST_F(ReplaceFileTest, AnInterruptHangupQuitOrBrokenPipeDuringTheWriteRemovesTheTemporary) {
    for (const int sig : {SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
        SCOPED_TRACE(sig);
        const std::string f = dir_ / "a.png";
        WriteText(f, "old");
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::signal(sig, SIG_DFL);  // as a terminal's program gets it, whatever the test runner ignores
            const struct rlimit noCore {0, 0};
            ::setrlimit(RLIMIT_CORE, &noCore);  // SIGQUIT would dump one
            jx::RemoveTemporariesOnInterrupt();
            jx::ReplaceFile(f, [&](int fd, const std::string&) {
                (void)!::write(fd, "partial", 7);
                (void)!::write(ready[1], "r", 1);
                for (;;) ::pause();
            });
            ::_exit(0);
        }
        char c;
        ASSERT_EQ(::read(ready[0], &c, 1), 1);
        ::close(ready[0]);
        ::close(ready[1]);
        ::kill(pid, sig);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig);
        EXPECT_EQ(ReadText(f), "old");
        ExpectOnly({"a.png"});
    }
}

TEST_F(ReplaceFileTest, ScratchFilesNeverFollowAPlantedLink) {
    const std::string victim = dir_ / "victim";
    WriteText(victim, "precious");
    const std::string scratch = dir_ / "1.png";
    fs::create_symlink(victim, scratch);
    const uint8_t bytes[] = {1, 2, 3};
    jx::WriteScratchFile(scratch, bytes);
    EXPECT_FALSE(fs::is_symlink(scratch));
    EXPECT_EQ(Mode(scratch), 0600u);
    EXPECT_EQ(fs::file_size(scratch), 3u);
    EXPECT_EQ(ReadText(victim), "precious");
}

// A rewrite of what was read replaces the file only while it is still that file: another
// content, another time or another file at the name is left as it is, without a temporary.
TEST_F(ReplaceFileTest, AFileChangedSinceItWasReadIsNotReplaced) {
    const std::string f = dir_ / "a.png";
    WriteText(f, "read");
    const auto read = jx::IdentityOf(f);
    ASSERT_TRUE(read);
    EXPECT_FALSE(jx::IdentityOf(dir_ / "missing"));
    const std::string rewritten = "rewritten";
    const std::span bytes(reinterpret_cast<const uint8_t*>(rewritten.data()), rewritten.size());
    const struct timespec later[2] = {{read->modifiedSeconds + 5, 0}, {read->modifiedSeconds + 5, 0}};
    const std::function<void()> changes[] = {
        [&] { WriteText(f, "a newer image"); },                                    // size
        [&] { ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), later, 0), 0); },          // time
        [&] {                                                                        // file
            WriteText(dir_ / "other", "read");
            const struct timespec same[2] = {{read->modifiedSeconds, read->modifiedNanoseconds},
                                             {read->modifiedSeconds, read->modifiedNanoseconds}};
            ASSERT_EQ(::utimensat(AT_FDCWD, (dir_ / "other").c_str(), same, 0), 0);
            ASSERT_EQ(::rename((dir_ / "other").c_str(), f.c_str()), 0);
        },
        [&] { fs::remove(f); },
    };
    for (size_t i = 0; i < std::size(changes); ++i) {
        WriteText(f, "read");
        const auto before = jx::IdentityOf(f);
        ASSERT_TRUE(before);
        EXPECT_NO_THROW(jx::ReplaceFileBytes(f, bytes, &*before)) << i;  // unchanged: replaced
        EXPECT_EQ(ReadText(f), rewritten);
        WriteText(f, "read");
        const auto identity = jx::IdentityOf(f);
        changes[i]();
        const std::string now = fs::exists(f) ? ReadText(f) : "";
        EXPECT_THROW(jx::ReplaceFileBytes(f, bytes, &*identity), jx::FileChangedError) << i;
        EXPECT_EQ(fs::exists(f) ? ReadText(f) : "", now) << i;
        if (fs::exists(f)) ExpectOnly({"a.png"});
        else ExpectOnly({});
    }
}
