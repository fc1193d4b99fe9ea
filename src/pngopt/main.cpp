// quillox: the console PNG optimiser.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "platform/replace_file.h"
#include "platform/standard_streams.h"
#include "pngopt/program.h"

int main(int argc, char** argv) {
    // Started with a closed stream (2>&-), a result file could otherwise get descriptor 2 and
    // collect another file's error message.
    jx::OpenClosedStandardStreams();
    // Ctrl-C, Ctrl-\, a kill or a closed output pipe while a result is written must not leave its
    // temporary beside the target.
    jx::RemoveTemporariesOnInterrupt();
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string cwd;
    if (char* dir = getcwd(nullptr, 0)) {
        cwd = dir;
        free(dir);
    }
    jx::quillox::ThreadPool pool;
    jx::quillox::ProgramContext context{std::cout, std::cin, cwd};
    context.pool = &pool;
    try {
        return jx::quillox::RunProgram(args, context);
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}
