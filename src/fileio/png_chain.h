#pragma once
// The PNG optimisation chain: the image written as "0.png" in the session folder, the tools of the
// chosen level run on it, the smaller valid result copied to the destination.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "fileio/tool_commands.h"
#include "platform/cancel_flag.h"

namespace jx {

// From imaging/engine_state.h, declared here so the chain's users do not compile the engine state.
struct TPixelRec;
template <class T>
class TGrid;
using TPixelImage = TGrid<TPixelRec>;

inline const char* const ScriptNotFoundMessage = "Batch file is not found.\n\rCheck the settings are correct.";
// The message for a script CheckedScript refuses, naming the path it looked for (ScriptNotFoundMessage
// when none is set).
std::string ScriptNotFoundText(const std::string& ownScript);

struct PngChainJob {
    std::string sessionFolder;
    PngChainOptions options;
    CancelFlag* cancel = nullptr;   // cleared when the chain starts; Esc or "Stop" set it
    std::function<void()> pump;     // the caller's event processing while a tool runs
    // Before each step of the chain (done of total), and once with done == total at the end.
    std::function<void(size_t done, size_t total)> progress;
};

struct PngChainResult {
    enum class Outcome { Written, Canceled, ScriptNotFound };
    Outcome outcome = Outcome::Written;
    std::string status;                 // status panel text: "Write (png): N bytes", "Canceled...", "Error...";
                                        // a written file's text goes on with the first warning
    std::string message;                // a message box to show (the script check)
    std::string infoLine;               // "Write: N bytes (T ms)" for the quantizer settings' info box
    int32_t size = 0;                   // bytes at the destination
    std::vector<std::string> warnings;  // tools whose work was discarded, and why
    std::string consoleOutput;          // the script's output with "Show console"
};

// The image as jx writes every PNG: 8-bit RGB, or RGB + alpha when `hasAlpha`, through the encoder
// layer with jx's defaults.
std::vector<uint8_t> EncodeJxPng(const TPixelImage& image, bool hasAlpha);
std::vector<uint8_t> EncodeJxPng(uint32_t width, uint32_t height, bool hasAlpha, std::span<const uint8_t> rgba);

// The script path as the chain runs it: blanks around it trimmed. Empty when it names no regular
// file that is executable or ends in ".sh".
std::string CheckedScript(const std::string& ownScript);

// Writes `png` (the image, encoded by the caller) to fileName in folder through the chain of
// job.options.level. A tool that fails, or leaves a missing, empty or different image, has its work
// undone and the chain goes on. Fails with FileIoError when the destination cannot be written or
// when `png` is not a valid PNG; the destination is then unchanged.
PngChainResult WritePngOptimized(std::span<const uint8_t> png, const std::string& fileName, const std::string& folder,
                                 const PngChainJob& job);
// The working image, encoded by EncodeJxPng as "0.png".
PngChainResult WritePngOptimized(const TPixelImage& workingImage, bool hasAlpha, const std::string& fileName,
                                 const std::string& folder, const PngChainJob& job);
// The same, with the image encoded by `encode` once the settings are checked and the clock runs.
PngChainResult WritePngOptimized(const std::function<std::vector<uint8_t>()>& encode, const std::string& fileName,
                                 const std::string& folder, const PngChainJob& job);

}  // namespace jx
