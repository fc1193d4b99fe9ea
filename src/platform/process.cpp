#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
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

// The program file for argv[0]: as given when it holds a '/', else the first executable match on
// PATH. Resolved before fork so the child only makes async-signal-safe calls.
std::string ResolveProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* env = std::getenv("PATH");
    std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        std::string dir = path.substr(start, end - start);
        start = end + 1;
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

// The pipes made before fork: the output pipe when output is captured (its read end does not
// block), and the one that reports a failed exec from the child, which closes by itself when the
// exec succeeds.
struct TChildPipes {
    Fd readEnd;
    Fd writeEnd;
    Fd execError;
    Fd execErrorWrite;
};

bool OpenPipes(bool captureOutput, TChildPipes& pipes, std::string& error) {
    int p[2];
    if (captureOutput) {
        if (::pipe2(p, O_CLOEXEC) != 0) {
            error = std::strerror(errno);
            return false;
        }
        pipes.readEnd.Reset(p[0]);
        pipes.writeEnd.Reset(p[1]);
        ::fcntl(pipes.readEnd.Get(), F_SETFL, ::fcntl(pipes.readEnd.Get(), F_GETFL) | O_NONBLOCK);
    }
    if (::pipe2(p, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    pipes.execError.Reset(p[0]);
    pipes.execErrorWrite.Reset(p[1]);
    return true;
}

// Runs in the forked child, so it makes async-signal-safe calls only and allocates nothing:
// everything it needs was prepared before fork. Never returns.
[[noreturn]] void ExecChild(pid_t parent, const char* program, char* const* args, int outFd, int errFd) {
    // A tool never outlives the program that waits for it: killed with it, even by SIGKILL.
    // The signal is tied to the forking thread, which stays in the wait loop while the child
    // runs. A parent gone before the tie was made is seen as a new parent id.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    // A group of its own (so cancelling reaches its children too), nice 19 before the program
    // runs, signals as a fresh process sees them, output to /dev/null or the pipe.
    ::setpgid(0, 0);
    ::setpriority(PRIO_PROCESS, 0, 19);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    int devNull = ::open("/dev/null", O_RDWR);
    if (devNull >= 0) {
        ::dup2(devNull, 0);
        ::dup2(outFd >= 0 ? outFd : devNull, 1);
        ::dup2(outFd >= 0 ? outFd : devNull, 2);
    }
    ::execve(program, args, environ);
    int e = errno;
    ssize_t ignored = ::write(errFd, &e, sizeof e);
    (void)ignored;
    ::_exit(127);
}

// Whether the child reported a failed exec; it is reaped then and r.error says why.
bool ExecFailed(int execErrorFd, pid_t pid, RunResult& r) {
    int childErrno = 0;
    ssize_t got;
    while ((got = ::read(execErrorFd, &childErrno, sizeof childErrno)) < 0 && errno == EINTR) {
    }
    if (got != static_cast<ssize_t>(sizeof childErrno)) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.error = std::strerror(childErrno);
    return true;
}

// Waits for the started child, keeping the caller's events live, collecting its output, and ending
// its group on cancel, time-out or a failing pump.
void WaitForChild(pid_t pid, int outFd, const RunOptions& options, RunResult& r) {
    Fd pidFd(OpenPidFd(pid));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeLimitMs);

    try {
        for (;;) {
            if (options.pump) options.pump();
            if (options.cancel && options.cancel->IsRequested()) {
                r.canceled = true;
                KillGroup(pid, r);
                break;
            }
            if (options.timeLimitMs > 0 && std::chrono::steady_clock::now() >= deadline) {
                r.timedOut = true;
                r.timeLimitMs = options.timeLimitMs;
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
            WaitTick(pidFd.Get(), outFd, PollIntervalMs, r.output);
        }
    } catch (...) {
        // The pump failed: never leave a child behind.
        KillGroup(pid, r);
        throw;
    }
    Drain(outFd, r.output);
}

}  // namespace

std::string RunResult::Describe(const std::string& program) const {
    if (canceled) return program + " was canceled";
    if (!started) return program + " could not be started" + (error.empty() ? "" : ": " + error);
    if (timedOut) {
        const std::string limit = timeLimitMs % 1000 == 0 ? std::to_string(timeLimitMs / 1000) + " s"
                                                           : std::to_string(timeLimitMs) + " ms";
        return program + " did not finish in " + limit;
    }
    if (exited) return program + " ended with exit code " + std::to_string(exitCode);
    return program + " was killed by signal " + std::to_string(signal);
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

    const std::string program = ResolveProgram(argv[0]);
    if (program.empty()) {
        r.error = std::strerror(ENOENT);
        return r;
    }
    TChildPipes pipes;
    if (!OpenPipes(options.showConsole, pipes, r.error)) return r;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    const pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) {
        r.error = std::strerror(errno);
        return r;
    }
    if (pid == 0) ExecChild(parent, program.c_str(), args.data(), pipes.writeEnd.Get(), pipes.execErrorWrite.Get());
    ::setpgid(pid, pid);  // also from here, so the group exists before any kill below
    pipes.writeEnd.Reset();
    pipes.execErrorWrite.Reset();
    if (ExecFailed(pipes.execError.Get(), pid, r)) return r;
    r.started = true;
    WaitForChild(pid, pipes.readEnd.Get(), options, r);
    return r;
}

}  // namespace jx
