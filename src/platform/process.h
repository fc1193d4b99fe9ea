#pragma once
#include <functional>
#include <string>
#include <vector>

#include "platform/cancel_flag.h"

namespace jx {

struct RunOptions {
    // Capture the child's standard output and error into RunResult::output (else they go to /dev/null).
    bool showConsole = false;
    // Called about every 100 ms while the child runs, so the caller's event loop stays live.
    std::function<void()> pump;
    // When set (before or during the run) nothing is started, or the child's whole group is ended.
    const CancelFlag* cancel = nullptr;
    // A child still running after this many milliseconds has its whole group ended (0: no limit).
    int timeLimitMs = 0;
};

struct RunResult {
    bool started = false;   // false: not run (cancelled beforehand, or the program could not be spawned)
    bool canceled = false;  // the run was cut short by the cancel flag
    bool timedOut = false;  // the run was cut short by the time limit
    int timeLimitMs = 0;    // that limit
    bool exited = false;    // the child ended by itself through exit()
    int exitCode = -1;      // valid when exited
    int signal = 0;         // the terminating signal when the child was killed
    std::string error;      // why it did not start
    std::string output;     // captured output with showConsole (its first MaxCapturedOutput bytes)

    bool Succeeded() const { return started && !canceled && !timedOut && exited && exitCode == 0; }
    // A one-line account of a run that did not succeed, naming the program.
    std::string Describe(const std::string& program) const;
};

inline constexpr std::size_t MaxCapturedOutput = 1 << 20;

// Runs argv[0] (a path, or a name looked up on PATH) with the given arguments, no shell involved, in
// a process group of its own at nice 19, and waits for it. The caller judges success.
RunResult RunAndWait(const std::vector<std::string>& argv, const RunOptions& options = {});

}  // namespace jx
