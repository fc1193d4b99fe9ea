#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "platform/standard_streams.h"

namespace {

// In a child, so that the test program's own streams stay as they are: closes the given
// descriptors, runs the helper, and exits 0 only when each of 0, 1, 2 is open and the closed ones
// lead to /dev/null, with the next file opened above them.
int ChildWithClosed(std::initializer_list<int> closed) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (int fd : closed) ::close(fd);
        jx::OpenClosedStandardStreams();
        struct stat null {};
        if (::stat("/dev/null", &null) != 0) ::_exit(2);
        for (int fd = 0; fd <= 2; ++fd) {
            struct stat st {};
            if (::fstat(fd, &st) != 0) ::_exit(3);
            const bool wasClosed = std::find(closed.begin(), closed.end(), fd) != closed.end();
            if (wasClosed && st.st_rdev != null.st_rdev) ::_exit(4);
        }
        const int next = ::open("/dev/null", O_RDONLY);
        ::_exit(next > 2 ? 0 : 5);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(StandardStreams, ClosedOnesLeadToDevNullSoNoFileTakesThem) {
    EXPECT_EQ(ChildWithClosed({2}), 0);
    EXPECT_EQ(ChildWithClosed({1}), 0);
    EXPECT_EQ(ChildWithClosed({0, 2}), 0);
    EXPECT_EQ(ChildWithClosed({0, 1, 2}), 0);
    EXPECT_EQ(ChildWithClosed({}), 0);  // open ones are left as they are
}
