#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

extern char** environ;

namespace jx {
namespace {

constexpr int PollIntervalMs = 100;
constexpr int TermGraceMs = 200;

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Reset(); }
    int Get() const { return fd_; }
    void Reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// Wakes the wait loop as soon as the child ends instead of at the next 100 ms tick.
int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    long fd = ::syscall(SYS_pidfd_open, pid, 0);
    return fd >= 0 ? static_cast<int>(fd) : -1;
#else
    return -1;
#endif
}

void Drain(int fd, std::string& out) {
    if (fd < 0) return;
    char buf[4096];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            std::size_t room = MaxCapturedOutput - std::min(out.size(), MaxCapturedOutput);
            out.append(buf, std::min(static_cast<std::size_t>(n), room));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return;  // EOF, EAGAIN or an error: nothing more for now
    }
}

// Sleeps up to timeoutMs, returning early when the child ends or output arrives.
void WaitTick(int pidFd, int outFd, int timeoutMs, std::string& out) {
    pollfd fds[2];
    nfds_t n = 0;
    if (pidFd >= 0) fds[n++] = {pidFd, POLLIN, 0};
    if (outFd >= 0) fds[n++] = {outFd, POLLIN, 0};
    ::poll(fds, n, timeoutMs);
    Drain(outFd, out);
}

void Record(int status, RunResult& r) {
    if (WIFEXITED(status)) {
        r.exited = true;
        r.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        r.signal = WTERMSIG(status);
    }
}

bool LeaderEnded(pid_t pid) {
    siginfo_t info{};
    // WNOWAIT leaves the zombie in place, which keeps the group id reserved for the SIGKILL below.
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// Ends the child and everything it started: SIGTERM first, then SIGKILL for whatever lingers.
void KillGroup(pid_t pid, RunResult& r) {
    ::kill(-pid, SIGTERM);
    for (int waited = 0; waited < TermGraceMs && !LeaderEnded(pid); waited += 10) ::poll(nullptr, 0, 10);
    ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    Record(status, r);
}

class SpawnSetup {
public:
    SpawnSetup() {
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawnattr_init(&attr);
    }
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attr);
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
};

}  // namespace

std::string RunResult::Describe(const std::string& program) const {
    if (!started) return program + " could not be started" + (error.empty() ? "" : ": " + error);
    if (canceled) return program + " was canceled";
    if (exited) return program + " ended with exit code " + std::to_string(exitCode);
    return program + " was ended by signal " + std::to_string(signal);
}

RunResult RunAndWait(const std::vector<std::string>& argv, const RunOptions& options) {
    RunResult r;
    if (options.cancel && options.cancel->IsRequested()) {
        r.canceled = true;
        r.error = "canceled";
        return r;
    }
    if (argv.empty() || argv[0].empty()) {
        r.error = "no program given";
        return r;
    }

    SpawnSetup setup;
    Fd readEnd;
    Fd writeEnd;
    if (options.showConsole) {
        int p[2];
        if (::pipe2(p, O_CLOEXEC) != 0) {
            r.error = std::strerror(errno);
            return r;
        }
        readEnd.Reset(p[0]);
        writeEnd.Reset(p[1]);
        ::fcntl(readEnd.Get(), F_SETFL, ::fcntl(readEnd.Get(), F_GETFL) | O_NONBLOCK);
        ::posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
        ::posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.Get(), 1);
        ::posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.Get(), 2);
    } else {
        ::posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
        ::posix_spawn_file_actions_addopen(&setup.actions, 1, "/dev/null", O_WRONLY, 0);
        ::posix_spawn_file_actions_adddup2(&setup.actions, 1, 2);
    }
    // A group of its own so that cancelling reaches the tool's children too; signals as a fresh
    // process sees them, whatever this process ignores or blocks.
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    ::posix_spawnattr_setpgroup(&setup.attr, 0);
    ::posix_spawnattr_setsigdefault(&setup.attr, &all);
    ::posix_spawnattr_setsigmask(&setup.attr, &none);
    ::posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t pid = 0;
    int rc = ::posix_spawnp(&pid, args[0], &setup.actions, &setup.attr, args.data(), environ);
    writeEnd.Reset();
    if (rc != 0) {
        r.error = std::strerror(rc);
        return r;
    }
    r.started = true;
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(pid), 19);  // best effort: idle-like priority
    Fd pidFd(OpenPidFd(pid));

    try {
        for (;;) {
            if (options.pump) options.pump();
            if (options.cancel && options.cancel->IsRequested()) {
                r.canceled = true;
                KillGroup(pid, r);
                break;
            }
            int status = 0;
            pid_t w = ::waitpid(pid, &status, WNOHANG);
            if (w == pid) {
                Record(status, r);
                break;
            }
            if (w < 0 && errno != EINTR) {
                r.error = std::strerror(errno);
                break;
            }
            WaitTick(pidFd.Get(), readEnd.Get(), PollIntervalMs, r.output);
        }
    } catch (...) {
        // The pump failed: never leave a child behind.
        KillGroup(pid, r);
        throw;
    }
    Drain(readEnd.Get(), r.output);
    return r;
}

}  // namespace jx
