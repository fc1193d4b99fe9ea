#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/errors.h"
#include "platform/replace_file.h"

namespace fs = std::filesystem;

namespace {

class ReplaceFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "jx_replace_XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        dir_ = templ;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    static void Put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    static std::string Text(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void Replace(const std::string& path, const std::string& text) {
        jx::ReplaceFileBytes(path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    }
    static mode_t Mode(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0);
        return st.st_mode & 07777;
    }
    // Only the named entries are in the folder: no temporary stayed behind.
    void ExpectOnly(std::initializer_list<std::string> names) const {
        std::size_t count = 0;
        for (const auto& e : fs::directory_iterator(dir_)) {
            ++count;
            EXPECT_NE(std::find(names.begin(), names.end(), e.path().filename().string()), names.end())
                << e.path();
        }
        EXPECT_EQ(count, names.size());
    }

    fs::path dir_;
};

}  // namespace

TEST_F(ReplaceFileTest, KeepsModeAndOwnerOfTheFileReplaced) {
    const std::string f = Path("secret.png");
    Put(f, "old");
    ::chmod(f.c_str(), 0600);
    Replace(f, "new");
    EXPECT_EQ(Text(f), "new");
    EXPECT_EQ(Mode(f), 0600u);

    ::chmod(f.c_str(), 0751);
    Replace(f, "newer");
    EXPECT_EQ(Mode(f), 0751u);

    // A new file gets the usual mode for new files.
    const mode_t mask = ::umask(022);
    Replace(Path("fresh.png"), "x");
    ::umask(mask);
    EXPECT_EQ(Mode(Path("fresh.png")), 0644u);

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
    const std::string target = Path("real/a.png");
    Put(target, "old");
    ::chmod(target.c_str(), 0640);
    fs::create_symlink("real/a.png", dir_ / "rel");      // relative to the link's folder
    fs::create_symlink(target, dir_ / "abs");             // absolute
    fs::create_symlink(dir_ / "rel", dir_ / "chain");     // a link to a link

    for (const char* link : {"rel", "abs", "chain"}) {
        EXPECT_EQ(jx::ResolveDestination(Path(link)), target);
        Replace(Path(link), link);
        EXPECT_TRUE(fs::is_symlink(dir_ / link));
        EXPECT_EQ(Text(target), link);
        EXPECT_EQ(Mode(target), 0640u);
    }
    // A dangling link gets its target created.
    fs::create_symlink("real/b.png", dir_ / "dangling");
    Replace(Path("dangling"), "b");
    EXPECT_TRUE(fs::is_symlink(dir_ / "dangling"));
    EXPECT_EQ(Text(Path("real/b.png")), "b");

    fs::create_symlink("loop2", dir_ / "loop1");
    fs::create_symlink("loop1", dir_ / "loop2");
    EXPECT_THROW(Replace(Path("loop1"), "x"), jx::PlatformError);
}

TEST_F(ReplaceFileTest, FailuresLeaveTheOldFileAndNoTemporary) {
    const std::string f = Path("a.png");
    Put(f, "old");
    EXPECT_THROW(jx::ReplaceFile(f, [](int, const std::string&) { throw std::runtime_error("encoder failed"); }),
                 std::runtime_error);
    EXPECT_EQ(Text(f), "old");
    ExpectOnly({"a.png"});

    // Not a regular file: never replaced (a device or folder named as output stays what it is).
    fs::create_directory(dir_ / "folder.png");
    try {
        Replace(Path("folder.png"), "x");
        ADD_FAILURE() << "no error";
    } catch (const jx::PlatformError& e) {
        EXPECT_NE(std::string(e.what()).find("folder.png\": it is not a regular file"), std::string::npos);
    }
    try {
        Replace(Path("no/such/folder/x.png"), "x");
        ADD_FAILURE() << "no error";
    } catch (const jx::PlatformError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot write \"" + Path("no/such/folder/x.png") + "\": No such file or directory");
    }
    ExpectOnly({"a.png", "folder.png"});
}

TEST_F(ReplaceFileTest, StaleTemporariesOfAKilledRunAreRemoved) {
    const std::string f = Path("a.png");
    Put(f, "old");
    const std::string stale = Path(".a.png.Ab12Cd");
    const std::string recent = Path(".a.png.Zz99Yy");
    const std::string other = Path(".b.png.Ab12Cd");  // another file's: not ours to judge
    for (const auto& p : {stale, recent, other}) Put(p, "partial");
    struct timespec old[2] = {{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, stale.c_str(), old, 0), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, other.c_str(), old, 0), 0);

    // One that a running writer holds stays, however old.
    const std::string held = Path(".a.png.Held00");
    Put(held, "writing");
    ASSERT_EQ(::utimensat(AT_FDCWD, held.c_str(), old, 0), 0);
    const int fd = ::open(held.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);

    EXPECT_EQ(jx::RemoveStaleTemporaries(f), 1);
    ::close(fd);
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(recent));
    EXPECT_TRUE(fs::exists(other));
    EXPECT_TRUE(fs::exists(held));
}

TEST_F(ReplaceFileTest, AnInterruptDuringTheWriteRemovesTheTemporary) {
    const std::string f = Path("a.png");
    Put(f, "old");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
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
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_EQ(Text(f), "old");
    ExpectOnly({"a.png"});
}

TEST_F(ReplaceFileTest, ScratchFilesNeverFollowAPlantedLink) {
    const std::string victim = Path("victim");
    Put(victim, "precious");
    const std::string scratch = Path("1.png");
    fs::create_symlink(victim, scratch);
    const uint8_t bytes[] = {1, 2, 3};
    jx::WriteScratchFile(scratch, bytes);
    EXPECT_FALSE(fs::is_symlink(scratch));
    EXPECT_EQ(Mode(scratch), 0600u);
    EXPECT_EQ(fs::file_size(scratch), 3u);
    EXPECT_EQ(Text(victim), "precious");
}
