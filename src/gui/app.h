#pragma once

namespace jx {

// The whole life of the window program: mode choice, instance lock, settings folder, session
// folder and sweep, the main window and its message loop, the clean-up. Returns the exit code.
int RunJx(int argc, char** argv);

}  // namespace jx
