#include "fileio/png_chain.h"

#include <unistd.h>

#include <cctype>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "fileio/errors.h"
#include "fileio/exchange_files.h"
#include "fileio/file_bytes.h"
#include "fileio/png_probe.h"
#include "fileio/replace_file.h"
#include "fileio/tool_commands.h"
#include "imaging/engine_state.h"
#include "platform/ascii.h"
#include "platform/file_size.h"
#include "pngenc/errors.h"
#include "pngenc/png_image.h"
#include "platform/process.h"

namespace fs = std::filesystem;

namespace jx {
namespace {

bool EndsWithShellExtension(const std::string& path) {
    return AsciiLower(fs::path(path).extension().string()) == ".sh";
}

// A failed copy leaves the old destination whole.
void CopyIntoPlace(const std::string& from, const fs::path& dest) {
    ReplaceFileWithBytes(dest.string(), ReadFileBytes(from));
}

}  // namespace

std::vector<uint8_t> EncodeJxPng(uint32_t width, uint32_t height, bool hasAlpha, std::span<const uint8_t> rgba) {
    if (rgba.size() != std::size_t{width} * height * 4) throw FileIoError("Pixel data does not match the image size.");
    try {
        PngImage png(width, height, hasAlpha ? kPngRgba : kPngRgb, 8);
        const unsigned channels = hasAlpha ? 4 : 3;
        for (uint32_t y = 0; y < height; ++y) {
            uint8_t* row = png.Row(y);
            const uint8_t* in = rgba.data() + std::size_t{y} * width * 4;
            for (uint32_t x = 0; x < width; ++x, row += channels, in += 4) std::memcpy(row, in, channels);
        }
        png.UseJxDefaults();
        return png.Encode();
    } catch (const PngError& e) {
        throw FileIoError(e.what());
    }
}

std::vector<uint8_t> EncodeJxPng(const TPixelImage& image, bool hasAlpha) {
    std::vector<uint8_t> rgba(static_cast<std::size_t>(image.Count()) * 4);
    std::size_t i = 0;
    for (const TPixelRec& p : image.Vector()) {
        rgba[i++] = p.R;
        rgba[i++] = p.G;
        rgba[i++] = p.B;
        rgba[i++] = p.A;
    }
    return EncodeJxPng(static_cast<uint32_t>(image.Width()), static_cast<uint32_t>(image.Height()), hasAlpha, rgba);
}

PngChainResult WritePngOptimized(const TPixelImage& workingImage, bool hasAlpha, const std::string& fileName,
                                 const std::string& folder, const PngChainJob& job) {
    return WritePngOptimized([&] { return EncodeJxPng(workingImage, hasAlpha); }, fileName, folder, job);
}

std::string CheckedScript(const std::string& ownScript) {
    std::string script = TrimBlanks(ownScript);
    std::error_code ec;
    if (script.empty() || !fs::is_regular_file(script, ec)) return {};
    if (::access(script.c_str(), X_OK) != 0 && !EndsWithShellExtension(script)) return {};
    return script;
}

std::string ScriptNotFoundText(const std::string& ownScript) {
    const std::string script = TrimBlanks(ownScript);
    if (script.empty()) return ScriptNotFoundMessage;
    return "Batch file is not found: \"" + script + "\".\n\rCheck the settings are correct.";
}

PngChainResult WritePngOptimized(std::span<const uint8_t> png, const std::string& fileName, const std::string& folder,
                                 const PngChainJob& job) {
    return WritePngOptimized([png] { return std::vector<uint8_t>(png.begin(), png.end()); }, fileName, folder, job);
}

PngChainResult WritePngOptimized(const std::function<std::vector<uint8_t>()>& encode, const std::string& fileName,
                                 const std::string& folder, const PngChainJob& job) {
    PngChainResult result;
    std::string script;
    if (job.options.level == PngLevelScript) {
        script = CheckedScript(job.options.ownScript);
        if (script.empty()) {
            result.outcome = PngChainResult::Outcome::ScriptNotFound;
            result.message = ScriptNotFoundText(job.options.ownScript);
            result.status = "Error...";
            return result;
        }
    }
    const std::string s = FolderPrefix(job.sessionFolder);
    const bool deflOpt = ::access((s + "deflopt").c_str(), X_OK) == 0;
    // Every setting is checked before anything is written.
    std::vector<PngChainStep> steps = PngChainSteps(job.options, s, deflOpt, script);
    if (!script.empty() && ::access(script.c_str(), X_OK) != 0) {
        steps.front().command.argv.insert(steps.front().command.argv.begin(), "/bin/sh");
    }
    const fs::path dest = fs::path(folder) / fileName;
    std::error_code ec;
    if (!fs::is_directory(dest.parent_path().empty() ? fs::path(".") : dest.parent_path(), ec)) {
        throw FileIoError("Cannot write \"" + dest.string() + "\": the folder does not exist.");
    }

    if (job.cancel) job.cancel->Clear();
    const auto t0 = std::chrono::steady_clock::now();
    const std::vector<uint8_t> png = encode();
    std::optional<RgbaImage> reference = DecodePngRgba(png);
    if (!reference) throw FileIoError("The image to write is not a valid PNG.");
    const std::string zero = s + "0.png";
    const std::string one = s + "1.png";
    ExchangeFilesGuard cleanup({zero, one});
    WriteFileBytes(zero, png);

    RunOptions run;
    run.cancel = job.cancel;
    run.pump = job.pump;
    bool canceled = false;
    for (size_t i = 0; i < steps.size(); ++i) {
        const PngChainStep& step = steps[i];
        if (job.progress) job.progress(i, steps.size());
        if (step.kind == PngChainStep::Kind::CopyZeroToOne) {
            WriteFileBytes(one, ReadFileBytes(zero));
            continue;
        }
        // The file as it was before this tool: known to be good, and put back if the tool spoils it.
        std::vector<uint8_t> before = ReadFileBytes(step.target);
        RunOptions opts = run;
        opts.showConsole = step.shown;
        RunResult r = RunAndWait(step.command.argv, opts);
        result.consoleOutput += r.output;
        if (r.canceled || (job.cancel && job.cancel->IsRequested())) {
            canceled = true;
            break;
        }
        const std::string name = fs::path(step.target).filename().string();
        std::string problem;
        if (!r.Succeeded()) {
            problem = r.Describe(step.tool);
        } else {
            std::optional<RgbaImage> after = DecodePngFileRgba(step.target);
            if (!after) {
                problem = step.tool + " left no valid " + name;
            } else if (!SameImage(*after, *reference)) {
                problem = step.tool + " changed the image in " + name;
            }
        }
        if (!problem.empty()) {
            WriteFileBytes(step.target, before);
            result.warnings.push_back(problem + "; " + name + " was kept as it was.");
        }
    }
    if (job.progress) job.progress(steps.size(), steps.size());
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();

    if (canceled || (job.cancel && job.cancel->IsRequested())) {
        result.outcome = PngChainResult::Outcome::Canceled;
        result.status = "Canceled...";
        return result;
    }
    const int32_t a = FileSizeOf(zero);
    if (a < 0) throw FileIoError("The optimized PNG is 2 GB or larger.");
    if (a == 0) throw FileIoError("The optimized PNG is missing: " + zero);
    const bool haveOne = job.options.level == PngLevelSlow || job.options.level == PngLevelVerySlow;
    int32_t b = haveOne ? FileSizeOf(one) : INT32_MAX;
    if (b <= 0) b = INT32_MAX;  // missing or too large: never chosen
    CopyIntoPlace(a < b ? zero : one, dest);

    const int32_t n = FileSizeOf(dest.string());
    result.size = n;
    result.infoLine = "Write: " + std::to_string(n) + " bytes (" + std::to_string(elapsed) + "ms)";
    result.status = "Write (png): " + std::to_string(n) + " bytes";
    // A tool whose work was undone: the file is written, but not as optimised as asked.
    if (!result.warnings.empty()) {
        result.status += "; " + result.warnings.front();
        if (result.warnings.size() > 1) result.status += " (" + std::to_string(result.warnings.size() - 1) + " more)";
    }
    return result;
}

}  // namespace jx
