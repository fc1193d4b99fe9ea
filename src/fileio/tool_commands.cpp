#include "fileio/tool_commands.h"

#include <array>
#include <cctype>

#include "fileio/errors.h"

namespace jx {
namespace {

std::string Num(int v) { return std::to_string(v); }

std::string Join(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& p : parts) {
        if (!out.empty()) out += ' ';
        out += p;
    }
    return out;
}

PngChainStep Run(std::string tool, std::string target, std::vector<std::string> argv, bool shown = false) {
    PngChainStep step;
    step.command.argv = std::move(argv);
    step.tool = std::move(tool);
    step.target = std::move(target);
    step.shown = shown;
    return step;
}

// The cjpeg options in the order the encoder settings name them, each switch and value its own item.
std::vector<std::string> CjpegOptions(JpegEncodeSettings& s, const std::string& stem) {
    std::vector<std::string> a{"-outfile", stem + ".jpg", "-quality", Num(s.quality)};
    if (s.rgb) {
        s.subsampling = 0;
        s.chromaQuality = 0;
        a.push_back("-rgb");
    }
    if (s.chromaQuality != 0 && s.chromaQuality != s.quality) {
        a[3] += ',';
        a[3] += Num(s.chromaQuality);
    }
    static const char* const samplings[] = {"1x1", "2x1", "2x2"};
    if (s.subsampling < 3) {
        a.push_back("-sample");
        a.push_back(samplings[s.subsampling]);
    }
    if (s.smooth != 0) {
        a.push_back("-smooth");
        a.push_back(Num(s.smooth));
    }
    if (s.optimize) a.push_back("-optimize");
    if (!s.progressive) a.push_back("-baseline");
    if (s.arithmetic) a.push_back("-arithmetic");
    if (!s.trellis) a.push_back("-notrellis");
    if (s.grayscale) a.push_back("-grayscale");
    a.push_back("-quant-table");
    a.push_back(Num(s.quantTable));
    return a;
}

using QuantTable = std::array<int, 64>;

// ITU-T T.81 Annex K; cjpeg uses it when no tables are given.
constexpr QuantTable AnnexKLuma{16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                                14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                                18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                                49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr QuantTable AnnexKChroma{17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                                  24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                                  99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                  99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
constexpr QuantTable Flat = [] {
    QuantTable t{};
    for (auto& v : t) v = 16;
    return t;
}();
// N. Robidoux's table, used for luminance and chrominance alike.
constexpr QuantTable Robidoux{16, 16, 16,  18,  25,  37,  56,  85,  16, 17, 20,  27,  34,  40,  53,  75,
                              16, 20, 24,  31,  43,  62,  91,  135, 18, 27, 31,  40,  53,  74,  106, 156,
                              25, 34, 43,  53,  69,  94,  131, 189, 37, 40, 62,  74,  94,  124, 169, 238,
                              56, 53, 91,  106, 131, 169, 226, 311, 85, 75, 135, 156, 189, 238, 311, 418};

void AppendTable(std::string& out, const char* title, const QuantTable& t) {
    out += "# ";
    out += title;
    out += '\n';
    for (int row = 0; row < 8; ++row) {
        for (int col = 0; col < 8; ++col) {
            if (col) out += ' ';
            out += Num(t[row * 8 + col]);
        }
        out += '\n';
    }
}

}  // namespace

std::string ToolCommand::Text() const { return Join(argv); }

std::string TrimBlanks(const std::string& s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string FolderPrefix(const std::string& folder) {
    if (!folder.empty() && folder.back() == '/') return folder;
    return folder + "/";
}

int ParseIterations(const std::string& text) {
    std::string t = TrimBlanks(text);
    bool digits = !t.empty() && t.size() <= 4;
    for (char c : t) digits = digits && c >= '0' && c <= '9';
    int n = digits ? std::stoi(t) : 0;
    if (n < 1 || n > 1000) throw FileIoError("Iter must be a whole number from 1 to 1000, not \"" + text + "\".");
    return n;
}

std::vector<PngChainStep> PngChainSteps(const PngChainOptions& o, const std::string& sessionFolder, bool deflOpt,
                                        const std::string& script) {
    const std::string s = FolderPrefix(sessionFolder);
    const std::string zero = s + "0.png";
    const std::string one = s + "1.png";
    auto quillox = [&](const char* level) {
        std::vector<std::string> argv{s + "quillox", "-quiet", "-y"};
        if (o.forcedRgb) argv.push_back("-nc");
        argv.push_back(level);
        argv.push_back(zero);
        return Run("quillox", zero, std::move(argv));
    };
    auto advdef = [&](std::vector<std::string> extra) {
        std::vector<std::string> argv{s + "advdef", "-z", "-f", "-q"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(one);
        return Run("advdef", one, std::move(argv));
    };
    auto deflopt = [&](const std::string& file) { return Run("deflopt", file, {s + "deflopt", file}); };

    std::vector<PngChainStep> steps;
    switch (o.level) {
        case PngLevelFast:
        case PngLevelNormal:
            steps.push_back(quillox(o.level == PngLevelFast ? "-o1" : "-o4"));
            if (deflOpt) steps.push_back(deflopt(zero));
            break;
        case PngLevelSlow:
        case PngLevelVerySlow: {
            steps.push_back(quillox("-o4"));
            PngChainStep copy;
            copy.kind = PngChainStep::Kind::CopyZeroToOne;
            copy.target = one;
            steps.push_back(copy);
            if (o.level == PngLevelSlow) {
                steps.push_back(advdef({"-3"}));
            } else {
                steps.push_back(advdef({"-4", "-i", Num(ParseIterations(o.iter))}));
            }
            if (deflOpt) {
                steps.push_back(deflopt(zero));
                steps.push_back(deflopt(one));
            }
            break;
        }
        case PngLevelScript:
            if (script.empty()) throw FileIoError("No script given for \"External script\".");
            steps.push_back(Run("script", zero, {script, zero}, o.showConsole));
            break;
        default:
            throw FileIoError("Unknown PNG optimization level " + Num(o.level) + ".");
    }
    return steps;
}

bool NeedsQuantTableFile(uint8_t quantTable) { return quantTable != 0; }

bool QuantTableAvailable(uint8_t quantTable) { return quantTable == 0 || quantTable == 1 || quantTable == 3; }

std::string QuantTableFileText(uint8_t quantTable) {
    std::string out;
    switch (quantTable) {
        case 0:
            AppendTable(out, "luminance", AnnexKLuma);
            AppendTable(out, "chrominance", AnnexKChroma);
            break;
        case 1:
            AppendTable(out, "luminance", Flat);
            AppendTable(out, "chrominance", Flat);
            break;
        case 3:
            AppendTable(out, "luminance", Robidoux);
            AppendTable(out, "chrominance", Robidoux);
            break;
        default:
            throw FileIoError("JPEG quantization table " + Num(quantTable) + " is not available.");
    }
    return out;
}

ToolCommand CjpegCommand(const std::string& encoder, JpegEncodeSettings& s, const std::string& stem,
                         const std::string& qtablesFile) {
    std::vector<std::string> options = CjpegOptions(s, stem);
    ToolCommand cmd;
    cmd.argv.push_back(encoder);
    for (std::size_t i = 0; i < options.size(); ++i) {
        const std::string& o = options[i];
        if (o == "-quant-table") {
            if (NeedsQuantTableFile(s.quantTable)) {
                cmd.argv.push_back("-qtables");
                cmd.argv.push_back(qtablesFile);
            }
            ++i;
        } else if (o == "-notrellis" || o == "-baseline") {
            // Not known to this cjpeg, or meaning something else there: non-progressive is its default.
        } else if (o == "-optimize" && s.arithmetic) {
            // Huffman tables do not exist in an arithmetic-coded file.
        } else {
            cmd.argv.push_back(o);
        }
    }
    if (s.progressive) cmd.argv.push_back("-progressive");
    cmd.argv.push_back(stem + ".bmp");
    return cmd;
}

ToolCommand CwebpCommand(const std::string& encoder, const WebpEncodeSettings& s, const std::string& stem) {
    static const char* const alphaFilters[] = {"none", "fast", "best"};
    if (s.alphaFilter > 2) throw FileIoError("Unknown WebP alpha filter " + Num(s.alphaFilter) + ".");
    if (s.preset.empty()) throw FileIoError("No WebP preset given.");
    ToolCommand cmd;
    cmd.argv = {encoder, "-preset", s.preset, "-o", stem + ".webp", "-mt"};
    if (s.lossless) {
        cmd.argv.push_back("-lossless");
    } else {
        for (auto& v : {std::pair<const char*, int>{"-q", s.quality},
                        {"-alpha_q", s.alphaQuality},
                        {"-f", s.filterStrength},
                        {"-sns", s.spatialNoiseShaping},
                        {"-m", s.method}}) {
            cmd.argv.push_back(v.first);
            cmd.argv.push_back(Num(v.second));
        }
        cmd.argv.push_back("-alpha_filter");
        cmd.argv.push_back(alphaFilters[s.alphaFilter]);
    }
    if (s.autoFilter) cmd.argv.push_back("-af");
    if (s.alphaCleanup) cmd.argv.push_back("-alpha_cleanup");
    cmd.argv.push_back(stem + ".png");
    return cmd;
}

ToolCommand DwebpCommand(const std::string& decoder, const std::string& stem) {
    return ToolCommand{{decoder, stem + ".webp", "-o", stem + ".png"}};
}

}  // namespace jx
