#include "pngopt/program.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ctime>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <system_error>

#include "platform/ascii.h"
#include "pngopt/chunks.h"
#include "pngopt/image.h"
#include "pngenc/png_image.h"
#include "pngopt/output.h"
#include "pngopt/parallel_files.h"
#include "pngopt/trials.h"
#include "platform/errors.h"
#include "platform/replace_file.h"

namespace jx::quillox {
namespace fs = std::filesystem;

namespace {

std::string NamePart(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderPart(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Absolute(const std::string& path, const std::string& currentDir) {
    if (path.empty() || path[0] == '/' || currentDir.empty()) return path;
    return currentDir + (currentDir.back() == '/' ? "" : "/") + path;
}

bool IsRegularFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

class Console {
public:
    Console(std::ostream& out, std::ostream& err, bool quiet) : out_(out), err_(err), quiet_(quiet) {}
    Console& operator<<(const std::string& text) {
        if (!quiet_) {
            out_ << text;
            out_.flush();
        }
        return *this;
    }
    bool quiet() const { return quiet_; }
    std::ostream* stream() { return quiet_ ? nullptr : &out_; }
    // A failure is told whatever "/quiet" says; a warning only when not quiet.
    void Error(const std::string& subject, const std::string& message) {
        err_ << subject + "\n" + message + "\n";
        err_.flush();
    }
    void Warning(const std::string& subject, const std::string& message) {
        if (!quiet_) Error(subject, message);
    }

private:
    std::ostream& out_;
    std::ostream& err_;
    bool quiet_;
};

const char* ColorTypeName(int n) {
    static const char* const kNames[] = {"Grayscale", "Indexed greyscale", "RGB", "Indexed",
                                         "Grayscale & Alpha", "Indexed greyscale & alpha", "RGB & Alpha",
                                         "Indexed & alpha"};
    return n >= 0 && n < 8 ? kNames[n] : "Unknown";
}

int ReportedColorType(int colorType, const std::vector<PaletteEntry>& palette, bool hasTrns) {
    if (colorType != kPngPalette) return colorType;
    bool grey = std::all_of(palette.begin(), palette.end(), [](const PaletteEntry& e) { return e.r == e.g && e.g == e.b; });
    if (hasTrns) return grey ? 5 : 7;
    return grey ? 1 : 3;
}

uint64_t DistinctColors(const WorkImage& image) {
    std::vector<uint64_t> packed;
    packed.reserve(image.rgba.size() / 4);
    for (uint64_t i = 0; i < image.rgba.size(); i += 4) {
        const uint16_t* p = &image.rgba[i];
        packed.push_back(uint64_t(p[0]) << 48 | uint64_t(p[1]) << 32 | uint64_t(p[2]) << 16 | p[3]);
    }
    std::sort(packed.begin(), packed.end());
    return uint64_t(std::unique(packed.begin(), packed.end()) - packed.begin());
}

void PrintInputReport(Console& console, const std::string& input, const WorkImage& image, bool info) {
    if (console.quiet()) return;
    console << "Input file: " + input + " | " + std::to_string(image.fileSize) + " bytes\n";
    std::string line = "Image: " + std::to_string(image.width) + "x" + std::to_string(image.height) + " pixels | " +
                       std::to_string(image.pngBitDepth) + " bits/sample | ";
    if (image.interlaced) line += "Interlaced | ";
    line += ColorTypeName(ReportedColorType(image.pngColorType, image.palette, image.hasTrns));
    if (info) line += " | " + std::to_string(DistinctColors(image)) + " color(s)\n";
    else line += "\n\r";
    console << line;
    int used = 0, last = 0;
    for (int f = 0; f < 5 && f < int(image.filtersUsed.size()); ++f)
        if (image.filtersUsed[size_t(f)]) ++used, last = f;
    static const char* const kFilterNames[] = {"None", "Sub", "Up", "Average", "Paeth", "Mixed"};
    console << std::string("Delta filter: ") + kFilterNames[used > 1 ? 5 : last] + "\n";
    if (info) {
        std::string rows;
        for (uint8_t f : image.rowFilters) rows += char('0' + std::min<int>(f, 9));
        console << "Filter per scanline:\n" + rows + "\n";
    }
    console << ChunkReport(image.chunkNames);
}

std::string OutputFormatLine(const OutputImage& out) {
    std::string line = "\nOutput format: " + std::to_string(out.bitDepth) + " bits/sample | ";
    if (out.interlace) line += "Interlaced | ";
    return line + ColorTypeName(ReportedColorType(out)) + "\n\r";
}

std::vector<std::string> OutputChunkNames(const OutputImage& out) {
    std::vector<std::string> names;
    if (out.hasGamma) names.push_back("gAMA");
    if (out.hasKey || std::any_of(out.palette.begin(), out.palette.end(), [](const PaletteEntry& e) { return e.a != 255; }))
        names.push_back("tRNS");
    for (const PngChunk& c : out.chunks) names.push_back(c.Name);
    return names;
}

void WriteLogRecord(const std::string& logFile, const std::string& input, const WorkImage& image,
                    const OutputImage& out, const TrialResult& r) {
    std::ofstream log(logFile, std::ios::app | std::ios::binary);
    if (!log) throw PngError("Cannot open the log file " + logFile + ": " + std::strerror(errno));
    char stamp[64];
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%x %X", &local);
    std::string line = std::string(stamp) + "\n" + input + "\t";
    line += image.analysis.colorCount > 256 ? std::string("clr:tc\t") : "clr:" + std::to_string(image.analysis.colorCount) + "\t";
    if (image.kind == InputKind::Png) {
        line += "c:" + std::to_string(image.pngColorType) + "/" + std::to_string(out.colorType) + "\t";
        line += "b:" + std::to_string(image.pngBitDepth) + "/" + std::to_string(out.bitDepth) + "\t";
    }
    line += "zc:" + std::to_string(r.level) + "\tzm:" + std::to_string(r.memLevel) + "\tzs:" + std::to_string(r.strategy) + "\t";
    line += r.filterIndex > 4 ? "fs:" + std::to_string(r.heuristic) + "\t" : std::string("fs:-\t");
    line += "f:" + std::to_string(r.filterIndex) + "\tIDAT=" + std::to_string(r.idatSize) + "\tfile=" +
            std::to_string(r.fileSize) + "\n\r";
    log << line;
    log.flush();
    if (!log) throw PngError("Cannot write the log file " + logFile);
}

std::string WithPngExtension(std::string name) {
    size_t slash = name.rfind('/');
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        if (AsciiLower(name.substr(dot)) == ".png") return name;  // "X.PNG" stays itself
        name.resize(dot);
    }
    return name + ".png";
}

bool ChunkOnlyCopy(const Options& options) { return options.chunkOnlyCopy && options.chunkList.has_value(); }

// The name a result is written under: PNG inputs keep theirs, others gain ".png".
std::string FinalOutputName(const std::string& output, const Options& options) {
    if (ChunkOnlyCopy(options)) return WithPngExtension(output);
    if (AsciiLower(output.size() >= 4 ? output.substr(output.size() - 4) : output) != ".png") return output + ".png";
    return output;
}

std::string Normal(const std::string& path) { return fs::path(path).lexically_normal().string(); }

void CopyTimes(const struct stat& from, const std::string& to) {
    struct timespec times[2] = {from.st_atim, from.st_mtim};
    utimensat(AT_FDCWD, to.c_str(), times, 0);
}

}  // namespace

bool MatchesMask(const std::string& name, const std::string& mask) {
    // Iterative wildcard match with one backtrack point.
    size_t n = 0, m = 0, starM = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || mask[m] == name[n])) {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == '*') {
            starM = m++;
            starN = n;
        } else if (starM != std::string::npos) {
            m = starM + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

void SearchFiles(const std::string& folder, const std::string& mask, bool recurse, std::vector<std::string>& inputs) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return;
    std::vector<fs::directory_entry> entries;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        entries.push_back(*it);
    }
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
    const std::string prefix = folder == "/" ? "" : folder;
    for (const fs::directory_entry& e : entries) {
        const std::string name = e.path().filename().string();
        std::error_code typeError;
        if (e.is_directory(typeError)) {
            if (recurse && !e.is_symlink(typeError)) SearchFiles(prefix + "/" + name, mask, recurse, inputs);
            continue;
        }
        if (!e.is_regular_file(typeError)) continue;
        if (InputKindOf(name) == InputKind::Unsupported) continue;
        if (MatchesMask(AsciiLower(name), mask)) inputs.push_back(prefix + "/" + name);
    }
}

void WriteFileAtomically(const std::string& target, const std::vector<uint8_t>& bytes,
                         const FileIdentity* unchanged) {
    try {
        ReplaceFileBytes(target, bytes, unchanged);
    } catch (const FileChangedError&) {
        throw;
    } catch (const PlatformError& e) {
        throw PngError(e.what());
    }
}

namespace {

// A link at the name whose target is missing: writing would create a file elsewhere.
bool IsDanglingLink(const std::string& path) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(path, ec)) && !fs::exists(fs::status(path, ec));
}

// An output left unwritten because a file of its name exists fails the run, told also under "/quiet".
void TellNotReplaced(Console& console, const std::string& output) {
    if (IsDanglingLink(output))
        console.Error(output, "The name is a link that leads to no file and was not written through; nothing was "
                              "written (\"/y\" writes through it)");
    else console.Error(output, "The file exists and was not replaced; nothing was written (\"/y\" replaces it)");
}

// Only a result that replaces its own input goes unasked without "/y": a converted file's name
// ("a.bmp.png") may be a file of the user's.
bool MayReplace(const std::string& output, const std::string& input, const Options& options,
                ProgramContext& context, Console& console) {
    if ((options.inPlaceNoPrompt && output == input) || ConfirmOverwrite(output, options, context)) return true;
    TellNotReplaced(console, output);
    return false;
}

}  // namespace

bool ConfirmOverwrite(const std::string& name, const Options& options, ProgramContext& context) {
    std::error_code ec;
    // A link to nothing counts as a file: a write would go through it to wherever it points.
    if (options.noPrompt || !fs::exists(fs::symlink_status(name, ec))) return true;
    if (options.quiet) return false;  // asks nothing and so overwrites nothing
    // On the error stream, so that a report sent to a file never hides the question.
    context.err << name + ": Do you really want to overwrite the existing file? (y/n):";
    context.err.flush();
    std::string answer;
    if (!std::getline(context.in, answer)) return false;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

namespace {

// Whether writing output replaces the input itself: the same name, or another name of that file.
bool ReplacesInput(const std::string& output, const std::string& input, const std::optional<FileIdentity>& read) {
    if (Normal(output) == Normal(input)) return true;
    const std::optional<FileIdentity> now = IdentityOf(output);
    return read && now && now->device == read->device && now->inode == read->inode;
}

// A result that is to replace its input is measured against it and written only while the input
// is still the file that was read: a newer image copied over it meanwhile stays.
void CheckUnchanged(const std::string& input, const std::optional<FileIdentity>& read, ProgramContext& context) {
    if (context.beforeReplacingInput) context.beforeReplacingInput(input);
    if (!read || IdentityOf(input) != *read) throw FileChangedError("changed");
}

void WriteResult(const std::string& output, const std::vector<uint8_t>& bytes, bool inPlace,
                 const std::optional<FileIdentity>& read) {
    WriteFileAtomically(output, bytes, inPlace && read ? &*read : nullptr);
}

}  // namespace

FileOutcome OptimizeFile(const std::string& input, const std::string& outputName, const Options& options,
                         ProgramContext& context) {
    Console console(context.out, context.err, options.quiet);
    struct stat times {};
    bool haveTimes = options.keepTimes && stat(input.c_str(), &times) == 0;
    // Taken before the read, so that any change from here on keeps the input from being replaced.
    const std::optional<FileIdentity> read = IdentityOf(input);
    // One name whether the result is written or the input copied ("/out x" is "x.png" either way).
    const std::string output = FinalOutputName(outputName, options);
    const bool inPlace = ReplacesInput(output, input, read);
    try {
        const InputKind kind = InputKindOf(input);
        if (kind == InputKind::Unsupported) throw InputError("Unsupported file type");
        if (options.info && kind != InputKind::Png) return FileOutcome::EndRun;
        if (ChunkOnlyCopy(options)) {
            bool write = false;
            std::vector<std::string> warnings;
            std::vector<uint8_t> copied = CopyChunksOnly(ReadInputBytes(input), options, &write, &warnings);
            for (const std::string& w : warnings) console.Warning(input, w);
            if (!write) return FileOutcome::AlreadyOptimized;  // "/md keep all": nothing to change
            if (!MayReplace(output, input, options, context, console)) return FileOutcome::Skipped;
            if (inPlace) CheckUnchanged(input, read, context);
            WriteResult(output, copied, inPlace, read);
            return FileOutcome::Written;
        }
        const size_t threads = context.pool ? context.pool->Size() : 1;
        WorkImage image = ReadInputFile(input, ReadSettings{options.gammaMode, options.cleanTransparent, threads});
        for (const std::string& w : image.warnings) console.Warning(input, w);
        if (options.info) {
            PrintInputReport(console, input, image, true);
            return FileOutcome::EndRun;
        }
        if (kind == InputKind::Png) PrintInputReport(console, input, image, false);

        OutputImage out = BuildOutputImage(image, options, console.stream(), context.pool);
        console << OutputFormatLine(out);
        std::vector<std::string> chunkWarnings, resultWarnings;
        CopyMetadataChunks(image, out, options, &chunkWarnings);
        for (const std::string& w : chunkWarnings) {
            // What the written file's background is, told only once there is such a file.
            if (w == kNearestBackgroundWarning) resultWarnings.push_back(w);
            else console.Warning(input, w);
        }
        if (kind == InputKind::Png) console << ChunkReport(OutputChunkNames(out));
        console << "\ntry...\n";
        const std::atomic<size_t>* left = context.filesLeft;
        const bool shared = context.poolShared;
        TrialResult result = RunTrialSearch(out, options, context.encode, context.pool, console.stream(),
                                            [shared, left] {
                                                return (!shared || (left && left->load() <= 1)) &&
                                                       !OtherProcessesKeepCoresBusy();
                                            });
        if (!options.logFile.empty()) WriteLogRecord(Absolute(options.logFile, context.currentDir), input, image, out, result);

        if (inPlace) CheckUnchanged(input, read, context);
        std::error_code ec;
        uint64_t inputSize = fs::file_size(input, ec);
        if (ec) throw InputError("Cannot read the size of the input: " + ec.message());
        // A BMP or PPM input always becomes a PNG, whatever its size.
        const bool write = result.fileSize < inputSize || options.force || kind != InputKind::Png;
        FileOutcome outcome;
        if (write) {
            std::string why;
            if (!DecodesToSamePixels(result.best.bytes, image, options, &why))
                throw PngError("Internal error: the optimised image differs from the input (" + why + ")");
            std::string line = "\nbest:\nzc:" + std::to_string(result.level) + "\tzm:" + std::to_string(result.memLevel) +
                               "\tzs:" + std::to_string(result.strategy) + "\t";
            line += result.filterIndex > 4 ? "fs:" + std::to_string(result.heuristic) + "\t" : std::string("fs:-\t");
            line += result.filterIndex > 5 ? std::string("f:5e\t") : "f:" + std::to_string(result.filterIndex) + "\t";
            line += "IDAT=" + std::to_string(result.idatSize) + "\tfile=" + std::to_string(result.fileSize) + "\n\r";
            console << line;
            if (!MayReplace(output, input, options, context, console)) return FileOutcome::Skipped;
            WriteResult(output, result.best.bytes, inPlace, read);
            for (const std::string& w : resultWarnings) console.Warning(input, w);
            outcome = FileOutcome::Written;
        } else {
            console << "\n" + NamePart(input) + " is already optimized.\n";
            outcome = FileOutcome::AlreadyOptimized;
            if (output != input) {
                console << "Output file " + NamePart(output) + "\n";
                if (!MayReplace(output, input, options, context, console)) return FileOutcome::Skipped;
                WriteFileAtomically(output, ReadInputBytes(input));
            }
        }
        if (haveTimes && (outcome == FileOutcome::Written || output != input)) CopyTimes(times, output);
        return outcome;
    } catch (const FileChangedError&) {
        console.Error(input, "The file changed while it was optimised; left as it is");
    } catch (const std::bad_alloc&) {
        console.Error(input, "Not enough memory");
    } catch (const std::exception& e) {
        console.Error(input, e.what());
    }
    return FileOutcome::Failed;
}

namespace {

// The outcomes that make the run's exit code 1: nothing or not all was written for the file.
bool Unfinished(FileOutcome outcome) {
    return outcome == FileOutcome::Failed || outcome == FileOutcome::Skipped;
}

Options ParseCommandLine(const std::vector<std::string>& args, const ProgramContext& context) {
    ParseEnvironment env;
    env.currentDir = context.currentDir;
    env.exists = [&](const std::string& p) {
        std::error_code ec;
        return fs::exists(Absolute(p, context.currentDir), ec);
    };
    return ParseOptions(args, env);
}

// "d/", "." and ".." name folders; an output file of that name would become "d/.png" or "..png".
bool NamesFolder(const std::string& path) {
    const std::string name = NamePart(path);
    return name.empty() || name == "." || name == "..";
}

// Faults of the command line itself, told before anything is read or written.
bool CommandLineIsSound(const Options& options, const ProgramContext& context, Console& console) {
    for (const std::string& option : options.missingValues)
        console.Error(option, "The option needs a value, and it was empty or missing; nothing was read or written");
    for (const std::string& line : options.badValues) {
        context.err << line + "; nothing was read or written\n";
        context.err.flush();
    }
    if (!options.missingValues.empty() || !options.badValues.empty()) return false;
    if (!options.outputFile.empty() && !options.outputDir.empty()) {
        console.Error("/dir", "\"/out\" names one output file and \"/dir\" a folder for the outputs: give only one; "
                              "nothing was read or written");
        return false;
    }
    std::error_code ec;
    if (!options.outputFile.empty() &&
        (NamesFolder(options.outputFile) || fs::is_directory(Absolute(options.outputFile, context.currentDir), ec))) {
        console.Error(Absolute(options.outputFile, context.currentDir),
                      "The output file names a folder (\"/dir\" writes into a folder); nothing was read or written");
        return false;
    }
    return true;
}

// What stands under a name that is not a regular file; nullptr when nothing does.
const char* NonFileKind(const std::string& path) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec))) return nullptr;
    switch (fs::status(path, ec).type()) {
        case fs::file_type::not_found:
        case fs::file_type::none: return "a link that leads to no file";
        case fs::file_type::directory: return "a folder";
        case fs::file_type::fifo: return "a pipe";
        case fs::file_type::socket: return "a socket";
        case fs::file_type::block:
        case fs::file_type::character: return "a device";
        default: return "an entry of an unknown kind";
    }
}

struct InputList {
    std::vector<std::string> inputs;
    bool unmatched = false;     // a name or mask found nothing: the run stops before any file
    bool skipped = false;       // a name was no regular file: told and left out, the run fails
    bool firstSkipped = false;  // ... and it came before every input
};

InputList CollectInputs(const Options& options, const ProgramContext& context, Console& console) {
    InputList list;
    std::set<std::string> seen;  // normalised, so that "d.png" and "./d.png" are one file
    for (const std::string& candidate : options.files) {
        const std::string path = Absolute(candidate, context.currentDir);
        const bool regular = IsRegularFile(path);
        if (const char* kind = regular ? nullptr : NonFileKind(path)) {
            console.Error(candidate, std::string("It is not a regular file (") + kind + "); skipped");
            list.firstSkipped = list.firstSkipped || list.inputs.empty();
            list.skipped = true;
            continue;
        }
        std::vector<std::string> found;
        if (regular) found.push_back(path);
        else SearchFiles(FolderPart(path), AsciiLower(NamePart(path)), options.recurse, found);
        // The same file named twice (a name and a mask) is optimised once.
        for (std::string& f : found)
            if (seen.insert(Normal(f)).second) list.inputs.push_back(std::move(f));
        if (found.empty()) {
            // A parameter shaped like an option that names no file is most likely a mistyped option.
            const bool optionLike = !candidate.empty() && (candidate[0] == '-' ||
                                    (candidate[0] == '/' && candidate.find('/', 1) == std::string::npos));
            console.Error(candidate, optionLike ? "No such file, and no file matches it, nor is it an option"
                                                : "No such file, and no file matches it");
            list.unmatched = true;
        }
    }
    return list;
}

// Whether a file begins as an image of a kind these programs read or write.
bool BeginsAsImage(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[12] = {};
    in.read(head, sizeof head);
    const std::string h(head, size_t(in.gcount()));
    auto starts = [&](const char* sig, size_t n) { return h.size() >= n && h.compare(0, n, sig, n) == 0; };
    return starts("\x89PNG\r\n\x1a\n", 8) || starts("GIF8", 4) || starts("\xff\xd8\xff", 3) || starts("BM", 2) ||
           starts("8BPS", 4) || starts("\0\0\1\0", 4) || starts("\0\0\2\0", 4) ||
           (starts("RIFF", 4) && h.size() >= 12 && h.compare(8, 4, "WEBP") == 0) ||
           (h.size() >= 3 && h[0] == 'P' && h[1] >= '1' && h[1] <= '6' && std::isspace(static_cast<unsigned char>(h[2])));
}

// One file under both names: the same name, or the same file reached by two.
bool SameFile(const std::string& a, const std::string& b) {
    if (Normal(a) == Normal(b)) return true;
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

// The log is appended to: it must not be one of the images of the run, nor any image (a "/log"
// followed by a shell's "*.png" takes the first PNG as the log).
bool LogFileOpens(const Options& options, const ProgramContext& context, Console& console,
                  const std::vector<std::pair<std::string, std::string>>& files) {
    if (options.logFile.empty()) return true;
    const std::string log = Absolute(options.logFile, context.currentDir);
    for (const auto& [input, output] : files)
        if (SameFile(log, input) || SameFile(log, FinalOutputName(output, options))) {
            console.Error(log, "The log file is one of the images of this run; nothing was read or written");
            return false;
        }
    if (BeginsAsImage(log)) {
        console.Error(log, "The log file is an image; nothing was read or written");
        return false;
    }
    if (std::ofstream(log, std::ios::app | std::ios::binary)) return true;
    console.Error(log, std::string("Cannot open the log file: ") + std::strerror(errno));
    return false;
}

// "/dir" made absolute, without a trailing "/"; empty without "/dir".
std::string OutputFolder(const Options& options, const ProgramContext& context) {
    if (options.outputDir.empty()) return "";
    std::string outputDir = Absolute(options.outputDir, context.currentDir);
    while (outputDir.size() > 1 && outputDir.back() == '/') outputDir.pop_back();
    return outputDir;
}

// The output folder created when missing; false when it cannot be.
bool PrepareOutputFolder(const std::string& outputDir, Console& console) {
    if (outputDir.empty()) return true;
    std::error_code ec;
    fs::create_directories(outputDir, ec);
    if (ec || !fs::is_directory(outputDir)) {
        console.Error(outputDir, "Failed to create output directory");
        return false;
    }
    return true;
}

// Every input with its output: the one output file, beside itself, or flat into the output folder.
std::vector<std::pair<std::string, std::string>> OutputsOf(const std::vector<std::string>& inputs,
                                                           const std::string& outputDir, const Options& options,
                                                           const ProgramContext& context) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const std::string& input : inputs) {
        std::string output = input;
        if (!options.outputFile.empty()) output = Absolute(options.outputFile, context.currentDir);
        else if (!outputDir.empty()) output = (outputDir == "/" ? "" : outputDir) + "/" + NamePart(input);
        files.emplace_back(input, output);
    }
    return files;
}

FileOutcome RunOne(const std::string& input, const std::string& output, const Options& options,
                   ProgramContext& context, Console& console, bool& failed) {
    const FileOutcome outcome = OptimizeFile(input, output, options, context);
    if (Unfinished(outcome)) failed = true;
    console << "\n";
    return outcome;
}

// One file after another. Two inputs that map to one output (same name from two folders under
// "/dir") must not overwrite each other, nor may a result overwrite an input still to be read.
void RunInOrder(const std::vector<std::pair<std::string, std::string>>& files, const Options& options,
                ProgramContext& context, Console& console, bool& failed) {
    std::set<std::string> pending, claimed;
    for (const auto& file : files) pending.insert(Normal(file.first));
    for (const auto& [input, output] : files) {
        const std::string target = Normal(FinalOutputName(output, options));
        pending.erase(Normal(input));
        if (claimed.count(target) || (pending.count(target) && target != Normal(input))) {
            console.Error(input, "Output file " + target +
                                     (claimed.count(target) ? " was already written in this run" : " is another input of this run") +
                                     "; nothing written");
            failed = true;
            console << "\n";
            continue;
        }
        const FileOutcome outcome = RunOne(input, output, options, context, console, failed);
        if (outcome == FileOutcome::Written || outcome == FileOutcome::AlreadyOptimized) claimed.insert(target);
        if (outcome == FileOutcome::EndRun) break;
    }
}

// Every input into its output.
void RunInputs(const std::vector<std::pair<std::string, std::string>>& files, const Options& options,
               ProgramContext& context, Console& console, bool& failed) {
    // The parallel run needs outputs that meet no other file's input or output, by final name.
    std::vector<std::pair<std::string, std::string>> finalNames;
    for (const auto& [input, output] : files) finalNames.emplace_back(Normal(input), Normal(FinalOutputName(output, options)));
    if (CanOptimizeFilesInParallel(options, context, finalNames)) {
        for (FileOutcome outcome : OptimizeFilesInParallel(files, options, context))
            if (Unfinished(outcome)) failed = true;
        return;
    }
    RunInOrder(files, options, context, console, failed);
}

}  // namespace

int RunProgram(const std::vector<std::string>& args, ProgramContext& context) {
    if (args.empty()) {
        PrintBanner(context.out);
        PrintUsage(context.out);
        return 0;
    }
    Options options = ParseCommandLine(args, context);
    Console console(context.out, context.err, options.quiet);
    if (!options.quiet) PrintBanner(context.out);
    if (!CommandLineIsSound(options, context, console)) return 1;

    // A parameter that finds nothing is most likely a mistyped option or name: nothing is
    // touched until the command line is sound.
    const InputList list = CollectInputs(options, context, console);
    if (list.unmatched) return 1;
    if (list.inputs.empty()) {
        if (list.skipped) return 1;  // each name was told already
        if (!options.quiet) {
            PrintBanner(context.out);
            PrintUsage(context.out);
        }
        console.Error("quillox", "No input file given");
        return 1;
    }
    const std::string outputDir = OutputFolder(options, context);
    const auto files = OutputsOf(list.inputs, outputDir, options, context);
    if (!LogFileOpens(options, context, console, files) || !PrepareOutputFolder(outputDir, console)) return 1;
    if (options.outputFile.empty() && outputDir.empty()) options.inPlaceNoPrompt = true;

    bool failed = list.skipped;
    if (!options.outputFile.empty()) {
        // The output file is the first name's; when that one was no file, nothing is written. Each
        // input left out is told, so that none goes unseen.
        for (size_t i = list.firstSkipped ? 0 : 1; i < files.size(); ++i) {
            console.Error(files[i].first, "Left out: \"/out\" names one output file, for the first input only; "
                                          "nothing was written for this file");
            failed = true;
        }
        if (!list.firstSkipped) RunOne(files.front().first, files.front().second, options, context, console, failed);
        return failed ? 1 : 0;
    }
    RunInputs(files, options, context, console, failed);
    return failed ? 1 : 0;
}

}  // namespace jx::quillox
