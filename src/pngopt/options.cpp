#include "pngopt/options.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "platform/ascii.h"

namespace jx::quillox {
namespace {

int32_t ClampTo32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

void SetAllFilters(Options& o, bool on) { o.filters.fill(on); }

void SetDeflatePreset(Options& o, bool allMemLevels) {
    o.levels.fill(false);
    o.levels[9] = true;
    o.memLevels.fill(false);
    for (int m = allMemLevels ? 1 : 8; m <= 9; ++m) o.memLevels[m] = true;
    o.strategies.fill(false);
    for (int s = 0; s <= 3; ++s) o.strategies[s] = true;
    o.levelMin = o.levelMax = 9;
    o.memMin = allMemLevels ? 1 : 8;
    o.memMax = 9;
    o.strategyMin = 0;
    o.strategyMax = 3;
}

void RemoveAllChunks(Options& o) {
    o.chunkKeep = false;
    o.chunkList = std::vector<std::string>{"all"};
}

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return parts;
}

// A "/md" list as it may be written: chunk names of four letters and group words.
bool IsChunkList(const std::string& text) {
    for (const std::string& item : SplitCommas(text)) {
        const bool name = item.size() == 4 && std::all_of(item.begin(), item.end(), [](char c) {
                              return AsciiLower(c) >= 'a' && AsciiLower(c) <= 'z';
                          });
        if (!name && item != "color" && item != "text" && item != "misc" && item != "animation" && item != "all")
            return false;
    }
    return true;
}

// Parses the parameters left to right; `next` hands out the following parameter and consumes it.
class Parser {
public:
    Parser(const std::vector<std::string>& args, const ParseEnvironment& env) : args_(args), env_(env) {}

    Options Run() {
        Options o = SetDefaultOptions();
        for (pos_ = 0; pos_ < args_.size(); ++pos_) {
            start_ = pos_;
            One(o, args_[pos_]);
        }
        o.missingValues = std::move(missing_);
        o.badValues = std::move(bad_);
        return o;
    }

private:
    bool HasNext() const { return pos_ + 1 < args_.size(); }
    std::string TakeNext() { return HasNext() ? args_[++pos_] : std::string(); }
    const std::string* PeekNext() const { return HasNext() ? &args_[pos_ + 1] : nullptr; }

    // Value after `skip` characters, or the next parameter when the option stands alone.
    std::string Value(const std::string& p, const std::string& key, size_t skip) {
        if (key.size() == skip && key == key.substr(0, skip)) return TakeNext();
        return p.substr(std::min(skip, p.size()));
    }

    // An empty value (an empty script variable, a trailing option) would silently change the
    // meaning of the run, "/out" into rewriting the input in place: it is noted for the run to refuse.
    std::string Needed(const std::string& raw, std::string value) {
        if (value.empty()) missing_.push_back(raw);
        return value;
    }

    bool IsFileParameter(const std::string& p) const {
        if (p.empty() || (p[0] != '/' && p[0] != '-')) return false;
        const bool exists = env_.exists && env_.exists(p);
        // "-l.png" beside "photo.png" (a shell's "*.png") is a file, never lossy mode.
        if (p[0] == '-') return exists;
        // "/dir/tmp/o" is the folder option with its value glued on, unless it names a path.
        const std::string k4 = AsciiLower(p.substr(0, 4));
        if (!exists && (k4 == "/dir" || k4 == "/out" || k4 == "/log")) return false;
        return exists || p.find('/', 1) != std::string::npos;
    }

    void AddFile(Options& o, const std::string& p) {
        std::string name = p;
        if (name.find('/') == std::string::npos && !env_.currentDir.empty()) {
            std::string dir = env_.currentDir;
            if (dir.back() != '/') dir += '/';
            name = dir + name;
        }
        o.files.push_back(name);  // the program block refuses names that find nothing
    }

    // Reads up to two following "x=" parameters of the given letters. None of their values counts
    // below zero: an empty one (an unset script variable), one that is no number or a negative one
    // is noted for the run to refuse rather than read as 0 and clamped into a lossy setting.
    template <typename Fn>
    void KeyedValues(const std::string& option, char first, const char* firstWhat, char second,
                     const char* secondWhat, Fn&& apply) {
        for (int i = 0; i < 2; ++i) {
            const std::string* next = PeekNext();
            if (!next || next->size() < 2 || (*next)[1] != '=') return;
            const char letter = AsciiLower((*next)[0]);
            if (letter != first && letter != second) return;
            ++pos_;
            const ParsedNumber n = ParseNumber(AsciiLower(next->substr(2)));
            if (next->size() == 2) missing_.push_back(*next);
            else if (!n.ok || n.value < 0)
                bad_.push_back(option + ": " + *next + " is not " + (letter == first ? firstWhat : secondWhat));
            else apply(letter, n);
        }
    }

    // One parameter as the options see it: "-" read as "/", lower-cased for matching.
    struct TKey {
        const std::string& raw;
        std::string norm;  // as given but for the leading "/"
        std::string low;
        std::string k2, k4;  // its first two and (when it has them) four characters
        char third;          // its third character, or '\0'
    };

    static TKey KeyOf(const std::string& raw) {
        std::string norm = raw;
        if (!norm.empty() && norm[0] == '-') norm[0] = '/';
        std::string low = AsciiLower(norm);
        std::string k2 = low.substr(0, 2);
        std::string k4 = low.size() >= 4 ? low.substr(0, 4) : std::string();
        const char third = low.size() > 2 ? low[2] : '\0';
        return TKey{raw, std::move(norm), std::move(low), std::move(k2), std::move(k4), third};
    }

    // A value from the next parameter that is none of the option's values but names an existing
    // file is most likely a file the option swallowed ("/o a.png b.png"): it is noted for the run
    // to refuse, so that the file is neither left out unseen nor read as a setting.
    void RefuseSwallowedFile(const TKey& k, const std::string* taken, bool valid, const char* what) {
        if (valid || !taken || taken->empty() || !env_.exists || !env_.exists(*taken)) return;
        bad_.push_back(k.raw + ": " + *taken + " is not " + what);
    }
    // The parameter an option standing alone as its name of nameLength characters took as its
    // value; nullptr when the value was glued on or there was none.
    const std::string* Taken(const TKey& k, size_t nameLength) const {
        return k.low.size() == nameLength && pos_ > start_ ? &args_[pos_] : nullptr;
    }

    // The letters are tried in this order; an option whose first letters match a shorter one
    // ("/log" and "/l", "/fs:" and "/f") is kept out of the shorter one's branch.
    void One(Options& o, const std::string& raw) {
        if (IsFileParameter(raw)) {
            AddFile(o, raw);
            return;
        }
        const TKey k = KeyOf(raw);
        if (k.k2 == "/y") o.noPrompt = true;
        else if (k.k2 == "/r") o.recurse = true;
        else if (k.k2 == "/t" && k.third != 'z') o.keepTimes = true;
        else if (k.k2 == "/a") Transparency(o, k);
        else if (k.k2 == "/l" && k.k4 != "/log") Lossy(o, k);
        else if (k.k2 == "/i" && k.k4 != "/inf") Interlace(o, k);
        else if (k.k2 == "/g") Gamma(o, k);
        else if (k.k2 == "/t") o.compressText = true;
        else if (k.k2 == "/n") KeepAsIs(o, k);
        else if (k.k2 == "/m") Metadata(o, k);
        else if (k.k2 == "/o" && k.k4 != "/out") Level(o, k);
        else if (k.k2 == "/f" && k.k4 != "/for" && k.k4 != "/fs:") Filters(o, k);
        else if (k.k2 == "/z") Zlib(o, k);
        else if (k.k2 == "/j" && k.third == 'x') Quantize(o, k);
        else Word(o, k);
    }

    void Transparency(Options& o, const TKey& k) {
        std::string v = AsciiLower(Needed(k.raw, Value(k.norm, k.low, 2)));
        RefuseSwallowedFile(k, Taken(k, 2), v == "0" || v == "1", "0 or 1");
        if (v == "0") {
            o.cleanTransparent = true;
            o.optimizeTransparent = false;
        } else if (v == "1") {
            o.optimizeTransparent = true;
            o.cleanTransparent = false;
        }
    }

    void Lossy(Options& o, const TKey& k) {
        o.lossyQuality = 4;
        KeyedValues(k.raw, 'q', "a quality", 'm', "a method", [&](char letter, ParsedNumber n) {
            if (letter == 'q') o.lossyQuality = static_cast<int>(std::clamp<int64_t>(n.value, 0, 255));
            else o.lossyMethod = static_cast<int>(std::clamp<int64_t>(n.value, 0, 1));
        });
    }

    void Interlace(Options& o, const TKey& k) {
        ParsedNumber n = ParseNumber(AsciiLower(Needed(k.raw, Value(k.norm, k.low, 2))));
        RefuseSwallowedFile(k, Taken(k, 2), n.ok, "a number");
        int32_t v = ClampTo32(n.value);
        if (n.ok) o.interlace = v < 2 ? v + 1 : 0;
        else o.interlace = v;
    }

    void Gamma(Options& o, const TKey& k) {
        ParsedNumber n = ParseNumber(AsciiLower(Needed(k.raw, Value(k.norm, k.low, 2))));
        RefuseSwallowedFile(k, Taken(k, 2), n.ok, "a number");
        if (!n.ok) {
            o.gammaMode = GammaMode::Keep;
        } else {
            int b = static_cast<int>(static_cast<uint64_t>(n.value) & 0xFF);
            o.gammaMode = (b == 1 || b == 2) ? static_cast<GammaMode>(b) : GammaMode::Remove;
        }
    }

    // "/na", "/nc", "/np", "/nz": what the optimiser leaves as it is.
    void KeepAsIs(Options& o, const TKey& k) {
        std::string v = AsciiLower(Needed(k.raw, Value(k.norm, k.low, 2)));
        RefuseSwallowedFile(k, Taken(k, 2), v == "a" || v == "c" || v == "p" || v == "z", "a, c, p or z");
        if (v == "a") {
            o.cleanTransparent = false;
            o.optimizeTransparent = false;
        } else if (v == "c") {
            o.keepColorType = true;
        } else if (v == "p") {
            o.keepPalette = true;
        } else if (v == "z") {
            o.chunkOnlyCopy = true;
        }
    }

    // "/md keep|remove list": the action and the list are the next two parameters.
    void Metadata(Options& o, const TKey& k) {
        if (k.low.substr(2) != "d") return;
        std::string action = AsciiLower(TakeNext());
        const std::string* actionTaken = Taken(k, k.low.size());
        RefuseSwallowedFile(k, actionTaken, action == "keep" || action == "remove", "keep or remove");
        if (action == "keep") o.chunkKeep = true;
        else if (action == "remove") o.chunkKeep = false;
        const bool listGiven = HasNext();
        const std::string list = TakeNext();
        RefuseSwallowedFile(k, listGiven ? &args_[pos_] : nullptr, IsChunkList(list), "a list of chunks");
        if (listGiven) o.chunkList = SplitCommas(list);
        if (action.empty() || list.empty()) missing_.push_back(k.raw);
    }

    // "/o": each level adds to the one below it.
    void Level(Options& o, const TKey& k) {
        std::string v = AsciiLower(Needed(k.raw, Value(k.norm, k.low, 2)));
        static const char* const kLevels[] = {"0", "1", "2", "3", "4", "fast", "good", "best", "max"};
        RefuseSwallowedFile(k, Taken(k, 2), std::find(std::begin(kLevels), std::end(kLevels), v) != std::end(kLevels), "a level");
        if (v == "0") {
            RemoveAllChunks(o);
            o.chunkOnlyCopy = true;
        }
        if (v == "fast" || v == "1") {
            SetDeflatePreset(o, false);
            SetAllFilters(o, false);
            o.filters[0] = o.filters[5] = true;
        }
        if (v == "good" || v == "2" || v == "best" || v == "3" || v == "max" || v == "4") {
            SetDeflatePreset(o, true);
            SetAllFilters(o, false);
            for (int i = 0; i <= 5; ++i) o.filters[i] = true;
        }
        if (v == "best" || v == "3" || v == "max" || v == "4") SetAllFilters(o, true);
        if (v == "max" || v == "4") {
            o.interlace = 1;
            RemoveAllChunks(o);
            o.optimizeTransparent = true;
            o.cleanTransparent = false;
        }
    }

    void Filters(Options& o, const TKey& k) {
        if (k.third == 'e') {
            SetAllFilters(o, true);
            return;
        }
        std::array<bool, 6> list{};
        const bool listed = ParseValueList(AsciiLower(Needed(k.raw, Value(k.norm, k.low, 2))), 0, 5, list.data());
        RefuseSwallowedFile(k, Taken(k, 2), listed, "a list of filters");
        if (listed) std::copy(list.begin(), list.end(), o.filters.begin());
    }

    // "/zc", "/zm", "/zs", "/zw": the value glued on or the next parameter.
    void Zlib(Options& o, const TKey& k) {
        const char third = k.third;
        if (third == '\0') {
            missing_.push_back(k.raw);
            return;
        }
        if (third != 'c' && third != 'm' && third != 's' && third != 'w') {
            // Not an option: it must not swallow the next parameter, and is refused as a name.
            AddFile(o, k.raw);
            return;
        }
        std::string v = Needed(k.raw, k.low.size() > 3 ? k.low.substr(3) : AsciiLower(TakeNext()));
        {
            std::array<bool, 10> probe{};
            const int high = third == 'w' ? 7 : third == 's' ? 4 : 9;
            RefuseSwallowedFile(k, Taken(k, 3), ParseValueList(v, third == 'c' || third == 'm' ? 1 : 0, high, probe.data()),
                                "a list of values");
        }
        std::array<bool, 10> list{};
        if (third == 'c' && ParseValueList(v, 1, 9, list.data())) {
            o.levels = list;
            o.levelMin = FindEnabledIndex(o.levels.data(), 1, 9, +1);
            o.levelMax = FindEnabledIndex(o.levels.data(), 1, 9, -1);
        } else if (third == 'm' && ParseValueList(v, 1, 9, list.data())) {
            o.memLevels = list;
            o.memMin = FindEnabledIndex(o.memLevels.data(), 1, 9, +1);
            o.memMax = FindEnabledIndex(o.memLevels.data(), 1, 9, -1);
        } else if (third == 's' && ParseValueList(v, 0, 4, list.data())) {
            std::copy(list.begin(), list.begin() + 5, o.strategies.begin());
            o.strategyMin = FindEnabledIndex(o.strategies.data(), 0, 4, +1);
            o.strategyMax = FindEnabledIndex(o.strategies.data(), 0, 4, -1);
        } else if (third == 'w' && ParseValueList(v, 0, 7, list.data())) {
            o.windowBits = FindEnabledIndex(list.data(), 0, 7, +1) + 8;
        }
    }

    void Quantize(Options& o, const TKey& k) {
        o.quantize = true;
        KeyedValues(k.raw, 'c', "a colour count", 'd', "a dither amount", [&](char letter, ParsedNumber n) {
            if (letter == 'c') o.colorCount = ClampTo32(n.value);
            else o.ditherAmount = ClampTo32(n.value);
        });
        o.colorCount = std::clamp<int32_t>(o.colorCount, 2, 65536);
        o.ditherAmount = std::clamp<int32_t>(o.ditherAmount, 0, 100);
    }

    // The options named by a word rather than a letter; anything else is a file name.
    void Word(Options& o, const TKey& k) {
        if (k.k4 == "/sfs") {
            o.heuristicByColorType = true;
        } else if (k.k4 == "/fs:") {
            ParsedNumber n = ParseNumber(Needed(k.raw, k.low.substr(4)));
            if (n.ok) o.heuristic = static_cast<int>(static_cast<uint64_t>(n.value) & 0xFF);
        } else if (k.k4 == "/out") {
            o.outputFile = Needed(k.raw, Value(k.raw, k.low, 4));
        } else if (k.k4 == "/dir") {
            o.outputDir = Needed(k.raw, Value(k.raw, k.low, 4));
        } else if (k.k4 == "/log") {
            o.logFile = Needed(k.raw, Value(k.raw, k.low, 4));
        } else if (k.k4 == "/qui") {
            o.quiet = true;
        } else if (k.k4 == "/for") {
            o.force = true;
        } else if (k.k4 != "/inf") {
            AddFile(o, k.raw);
        } else {
            o.info = true;
        }
    }

    const std::vector<std::string>& args_;
    const ParseEnvironment& env_;
    size_t pos_ = 0;
    size_t start_ = 0;  // the parameter that holds the option being read
    std::vector<std::string> missing_;
    std::vector<std::string> bad_;
};

}  // namespace

ParsedNumber ParseNumber(const std::string& text) {
    ParsedNumber r;
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) {
        base = 16;
        i += 2;
    }
    size_t digitsStart = i;
    int64_t v = 0;
    constexpr int64_t kCap = int64_t(1) << 40;  // far past 32 bits; callers clamp
    for (; i < text.size(); ++i) {
        const char c = AsciiLower(text[i]);
        int d = (c >= '0' && c <= '9') ? c - '0' : (base == 16 && c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
        if (d < 0) break;
        v = std::min(v * base + d, kCap);
    }
    r.value = negative ? -v : v;
    r.ok = i == text.size() && i > digitsStart;
    return r;
}

bool ParseValueList(const std::string& text, int low, int high, bool* flags) {
    std::vector<bool> set(static_cast<size_t>(high) + 1, false);
    bool any = false;
    auto inRange = [&](int64_t v) { return v >= low && v <= high; };
    for (const std::string& item : SplitCommas(text)) {
        if (item.empty()) continue;
        size_t dash = item.find('-', 1);
        if (dash != std::string::npos) {
            ParsedNumber a = ParseNumber(item.substr(0, dash));
            ParsedNumber b = ParseNumber(item.substr(dash + 1));
            if (!a.ok || !b.ok || !inRange(a.value) || !inRange(b.value)) continue;
            for (int64_t v = std::min(a.value, b.value); v <= std::max(a.value, b.value); ++v) {
                set[static_cast<size_t>(v)] = true;
                any = true;
            }
        } else {
            ParsedNumber a = ParseNumber(item);
            if (!a.ok || !inRange(a.value)) continue;
            set[static_cast<size_t>(a.value)] = true;
            any = true;
        }
    }
    if (!any) return false;
    for (int i = low; i <= high; ++i) flags[i] = set[static_cast<size_t>(i)];
    return true;
}

int FindEnabledIndex(const bool* flags, int low, int high, int direction) {
    if (direction >= 0) {
        for (int i = low; i <= high; ++i)
            if (flags[i]) return i;
        return low;
    }
    for (int i = high; i >= low; --i)
        if (flags[i]) return i;
    return high;
}

Options SetDefaultOptions() {
    Options o;
    o.filters[0] = o.filters[5] = true;
    SetDeflatePreset(o, false);
    return o;
}

Options ParseOptions(const std::vector<std::string>& args, const ParseEnvironment& env) {
    return Parser(args, env).Run();
}

void PrintBanner(std::ostream& out) {
    out << "Quillox 0.6.0.0 : PNG Optimizer\n"
           "Written by the jx developers, 2024-2026\n"
           "Part of jx, the palette image editor\n"
           "\n";
    out.flush();
}

void PrintUsage(std::ostream& out) {
    static const char* const kLines[] = {
        "Quillox {options} files",
        "",
        "options:",
        "/f#\tPNG delta filters 0=None, 1=Sub, 2=Up, 3=Average, 4=Paeth, 5=Mixed",
        "/fe\tPNG extra filters, overrides /f switch",
        "/i#\tPNG interlace method 0=None, 1=Adam7 (default input)",
        "/g#\tPNG gamma 0=Remove, 1=Apply & Remove, 2=Keep (default)",
        "/a#\tPNG dirty transparency 0=Clean (default), 1=Optimize",
        "/na\tPNG don't change RGB values for fully transparent pixels",
        "/nc\tPNG don't change ColorType and BitDepth",
        "/np\tPNG don't change Palette",
        "/nz\tPNG don't recompress IDAT, works with /md switch",
        "/tz\tPNG compress tEXt chunk",
        "/md\tPNG handle metadata (chunks). After this parameter you need to specify",
        "\t    an action (keep or remove), then list of comma-separated chunks or",
        "\t    predefined keyword that means the group of chunks.",
        "\t    color=gAMA,cHRM,sRGB,iCCP",
        "\t    text=iTXt,tEXt,zTXt",
        "\t    misc=bKGD,pHYs,sBIT,sPLT,hIST,tIME",
        "\t    all=all of noncritical chunks, for example:",
        "\t    /md keep tEXt,bKGD,pHYs",
        "\t    /md remove all",
        "\t    /md remove color,text",
        "\t    /md keep color,bKGD,pHYs",
        "\t    if not used /nz, the chunk gAMA managed by the respective switch /g",
        "",
        "/jx\tPNG color quantization & dithering",
        "\t    c=<number of colors> in range 2..4096 (default c=256)",
        "\t    d=<dither amount> in range 0..100 (default d=0)",
        "\t    for example: /jx c=200 d=75",
        "",
        "/l\tPNG lossy",
        "\t    q=<quality> in range 0..255 (default q=4)",
        "\t    m=<method> in range 0..1 (default m=0)",
        "\t    for example: /l q=10 m=1",
        "",
        "\tImportant! This mode can greatly damage the image",
        "\tor file size can be larger than in a lossless mode.",
        "",
        "/zc#\tzlib compression level 1..9",
        "/zm#\tzlib memory level 1..9",
        "/zs#\tzlib compression strategy 0..3",
        "/zw#\tzlib window size 0..7 (where 0..7 corresponds 256,512,1024,2048,4096,",
        "\t     8192,16384,32768 respectively)",
        "",
        "/quiet\tquiet mode",
        "/force\twrite the file even if the size is greater than original",
        "/out <file>\twrite output file to <file>",
        "/dir <directory>\twrite output file(s) to <directory>",
        "/r\trecurse subdirectories",
        "/y\tconfirm overwriting file",
        "/t\tpreserve the date and time",
        "",
        "syntax:",
        "f,zc,zm,zs - these parameters can be taken as single values or composite if",
        "             necessary, these parameters can be combined, as shown below:",
        "/zc9     - \"zc = 9\"",
        "/zc1,2,3 - \"try zc = 1,2 and 3\"",
        "/zc7-9   - \"try zc = from 7 to 9\"",
        "/zc1,7-9 - \"try zc = 1 and from 7 to 9\"",
        "/f1,2,3 = /f1-3 = /f1,2-3",
        "",
        "options should begin with / or - and the values can be separated by space",
        "/f0,5 = /f 0,5 = -f0,5 = -f 0,5",
        "",
        "optimization level:",
        "/o0            = /nz /md remove all",
        "/o1 or /o fast = /zc9 /zm8-9 /zs0-3 /f0,5 (default)",
        "/o2 or /o good = /zc9 /zm1-9 /zs0-3 /f0-5",
        "/o3 or /o best = /zc9 /zm1-9 /zs0-3 /fe",
        "/o4 or /o max  = /zc9 /zm1-9 /zs0-3 /fe /a1 /i0 /md remove all",
        "",
        "examples:",
        "Quillox image.png - optimize image.png with default options",
        "Quillox image.png /o max - best result (slow)",
    };
    for (const char* line : kLines) out << line << '\n';
    out.flush();
}

}  // namespace jx::quillox
