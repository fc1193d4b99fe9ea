#pragma once
// Command lines of the outside tools. Each builder gives the argument vector that is run; Text() is
// the same command as one line (arguments joined by blanks, paths unquoted), the form users and logs see.
#include <cstdint>
#include <string>
#include <vector>

namespace jx {

struct ToolCommand {
    std::vector<std::string> argv;
    std::string Text() const;
};

// The session folder as a prefix: always ends in '/'.
// The text without leading and trailing white space.
std::string TrimBlanks(const std::string& s);
std::string FolderPrefix(const std::string& folder);

// ---- PNG optimisation chain ----

inline constexpr int PngLevelFast = 0;
inline constexpr int PngLevelNormal = 1;
inline constexpr int PngLevelSlow = 2;
inline constexpr int PngLevelVerySlow = 3;
inline constexpr int PngLevelScript = 4;

// The options dialog's PNG settings, as the chain reads them.
struct PngChainOptions {
    int level = PngLevelNormal;  // "PNG Optimization": "Fast", "Normal", "Slow", "Very slow", "External script"
    bool forcedRgb = false;      // "Force RGB"
    std::string iter = "15";     // advdef iterations at "Very slow"
    std::string ownScript;       // "External script" path
    bool showConsole = false;    // "Show console"
};

// The "Iter" text as a count: blanks around it are allowed; empty, non-numeric or outside 1..1000
// is refused with FileIoError.
int ParseIterations(const std::string& text);

struct PngChainStep {
    enum class Kind { Run, CopyZeroToOne };
    Kind kind = Kind::Run;
    ToolCommand command;     // Kind::Run
    std::string tool;        // short name for messages ("quillox", "advdef", "deflopt", "script")
    std::string target;      // the file the tool rewrites in place
    bool shown = false;      // run with its output captured for the user
};

// The steps of one level, in order. `script` is the already checked script (level 4), `deflOpt`
// says whether the session folder holds a DeflOpt; without one its steps are left out.
std::vector<PngChainStep> PngChainSteps(const PngChainOptions& options, const std::string& sessionFolder,
                                        bool deflOpt, const std::string& script = {});

// ---- cjpeg ----

struct JpegEncodeSettings {
    uint8_t quality = 75;
    uint8_t chromaQuality = 75;
    uint8_t subsampling = 2;  // 0 "1x1", 1 "2x1", 2 "2x2"
    bool optimize = true;
    bool progressive = true;
    uint8_t quantTable = 3;
    bool rgb = false;
    uint8_t smooth = 0;
    bool arithmetic = false;
    bool trellis = true;
    bool grayscale = false;
};


// The command for the installed cjpeg, which knows neither "-quant-table" nor "-notrellis":
// a non-standard table pair is passed as "-qtables <qtablesFile>" (the caller writes that file with
// QuantTableFileText), output is progressive only when asked, and "-optimize" is left out with
// "-arithmetic". Applies the same `rgb` adjustment to `s`.
ToolCommand CjpegCommand(const std::string& encoder, JpegEncodeSettings& s, const std::string& stem,
                         const std::string& qtablesFile);
// Whether CjpegCommand wants a tables file for this pair (pair 0 is cjpeg's own).
bool NeedsQuantTableFile(uint8_t quantTable);
// Whether the installed cjpeg can be given pair `quantTable` (the others are offered disabled).
bool QuantTableAvailable(uint8_t quantTable);
// The luminance and chrominance tables of pair `quantTable` in cjpeg's "-qtables" text form;
// FileIoError for a pair this build does not carry.
std::string QuantTableFileText(uint8_t quantTable);

// ---- cwebp and dwebp ----

struct WebpEncodeSettings {
    std::string preset = "default";
    uint8_t quality = 75;
    uint8_t alphaQuality = 100;
    uint8_t filterStrength = 0;
    uint8_t spatialNoiseShaping = 80;
    bool autoFilter = false;
    bool lossless = false;
    uint8_t alphaFilter = 1;  // 0 "none", 1 "fast", 2 "best"
    bool alphaCleanup = true;
    uint8_t method = 4;
};

// Reads stem + ".png", writes stem + ".webp". FileIoError for an alpha filter past 2 or no preset.
ToolCommand CwebpCommand(const std::string& encoder, const WebpEncodeSettings& s, const std::string& stem);
// Reads stem + ".webp", writes stem + ".png".
ToolCommand DwebpCommand(const std::string& decoder, const std::string& stem);

}  // namespace jx
