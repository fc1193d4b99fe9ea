#pragma once
// The program block: options, the input list, and the per-file driver.
#include <atomic>
#include <functional>
#include <iostream>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "pngopt/encoder.h"
#include "pngopt/options.h"
#include "pngopt/thread_pool.h"
#include "platform/replace_file.h"

namespace jx::quillox {

struct ProgramContext {
    std::ostream& out;
    std::istream& in;
    std::string currentDir;  // relative names are taken from here
    PngEncodeFn encode = DefaultPngEncoder();
    ThreadPool* pool = nullptr;
    std::ostream& err = std::cerr;  // failures and warnings, also under "/quiet"
    bool poolShared = false;  // other files run on the pool at the same time
    // With poolShared: the files of the run not finished yet; at 1 the pool is this file's.
    const std::atomic<size_t>* filesLeft = nullptr;
    // Called with the input's name after it was read and optimised, before its result is measured
    // against it and replaces it in place; tests change the file here.
    std::function<void(const std::string&)> beforeReplacingInput{};
};

// The whole run; returns the exit code (1 when any parameter or file failed).
int RunProgram(const std::vector<std::string>& args, ProgramContext& context);

// Appends every file of folder whose lower-cased name matches mask ("*", "?") and whose
// extension is ".png", ".bmp" or ".ppm" in any case; recurses into subfolders when asked.
void SearchFiles(const std::string& folder, const std::string& mask, bool recurse, std::vector<std::string>& inputs);
bool MatchesMask(const std::string& lowerName, const std::string& mask);

// EndRun: the run ends after this file ("/inf"). Skipped: an existing output was not to be
// replaced, so nothing was written; the run fails.
enum class FileOutcome { Written, AlreadyOptimized, Skipped, Failed, EndRun };

FileOutcome OptimizeFile(const std::string& input, const std::string& output, const Options& options,
                         ProgramContext& context);

bool ConfirmOverwrite(const std::string& name, const Options& options, ProgramContext& context);

// Writes bytes to a temporary name beside target, then renames it into place; with `unchanged`,
// only while target is still that file (FileChangedError otherwise).
void WriteFileAtomically(const std::string& target, const std::vector<uint8_t>& bytes,
                         const FileIdentity* unchanged = nullptr);

}  // namespace jx::quillox
