#pragma once
// The optimiser's command line: every option value, with its defaults, and the parser.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace jx::quillox {

// What becomes of the input's gAMA ("/g").
enum class GammaMode : uint8_t { Remove = 0, ApplyAndRemove = 1, Keep = 2 };

}  // namespace jx::quillox

namespace jx::quillox {

constexpr int kFilterSetCount = 30;

struct Options {
    std::array<bool, kFilterSetCount> filters{};  // indices of the filter-set table
    std::array<bool, 10> levels{};                // 1..9
    std::array<bool, 10> memLevels{};             // 1..9
    std::array<bool, 5> strategies{};             // 0..4
    int levelMin = 9, levelMax = 9;
    int memMin = 8, memMax = 9;
    int strategyMin = 0, strategyMax = 3;
    int windowBits = 15;
    int heuristic = 2;
    bool heuristicByColorType = false;
    GammaMode gammaMode = GammaMode::Keep;
    int32_t interlace = -1;  // negative: as the input; odd: none; even: Adam7
    bool cleanTransparent = true;
    bool optimizeTransparent = false;
    bool keepColorType = false;
    bool keepPalette = false;
    bool chunkOnlyCopy = false;
    bool chunkKeep = true;
    std::optional<std::vector<std::string>> chunkList;
    bool quantize = false;
    int32_t colorCount = 256;
    int32_t ditherAmount = 0;
    int lossyQuality = 0;
    int lossyMethod = 0;
    bool quiet = false;
    bool force = false;
    bool info = false;
    bool noPrompt = false;
    // Set by the program block when neither "/out" nor "/dir" is given: a result that replaces its
    // own input is written unasked; any other existing file is still asked about.
    bool inPlaceNoPrompt = false;
    bool recurse = false;
    bool keepTimes = false;
    bool compressText = false;
    std::string outputFile;
    std::string outputDir;
    std::string logFile;
    std::vector<std::string> files;  // file names and masks, command-line order, found or not
    // Options that need a value and were given an empty one or none, as typed; the run refuses them.
    std::vector<std::string> missingValues;
    // Values that are none of their option's ("/jx c=abc", "/o a.png" where a.png is a file), each
    // told as "option: value is not ..."; the run refuses them.
    std::vector<std::string> badValues;
};

// What the parser needs to know about the file system; tests fake it.
struct ParseEnvironment {
    std::string currentDir;
    std::function<bool(const std::string&)> exists;  // file or folder
};

Options SetDefaultOptions();
Options ParseOptions(const std::vector<std::string>& args, const ParseEnvironment& env);

// Fills flags[low..high] from "1,3-5"-style text; false (flags untouched) when nothing was listed.
// flags must hold at least high + 1 entries.
bool ParseValueList(const std::string& text, int low, int high, bool* flags);
int FindEnabledIndex(const bool* flags, int low, int high, int direction);

// A signed number, decimal or hexadecimal after "$" or "0x"; ok is false when the text is not
// wholly a number, and value then holds what was read before the first bad character.
struct ParsedNumber {
    int64_t value = 0;
    bool ok = false;
};
ParsedNumber ParseNumber(const std::string& text);

void PrintBanner(std::ostream& out);
void PrintUsage(std::ostream& out);

}  // namespace jx::quillox
