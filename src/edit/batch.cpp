#include "edit/batch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <optional>
#include <unordered_set>

#include "edit/errors.h"
#include "fileio/open_decoders.h"
#include "fileio/open_image.h"
#include "fileio/save_image.h"
#include "imaging/alpha_commands.h"
#include "imaging/metrics.h"
#include "imaging/quantize.h"
#include "platform/file_times.h"
#include "platform/replace_file.h"

namespace jx {
namespace fs = std::filesystem;

namespace {

fs::path Normal(const std::string& p) {
    std::error_code ec;
    fs::path abs = fs::absolute(p, ec);
    if (ec) abs = fs::path(p);
    fs::path canon = fs::weakly_canonical(abs, ec);
    fs::path out = (ec ? abs : canon).lexically_normal();
    // "/a/b/" and "/a/b" are one folder.
    if (!out.has_filename() && out.has_parent_path() && out != out.root_path()) out = out.parent_path();
    return out;
}

// The folder a source lies in as the user named it: a link at the source itself is not followed,
// so its output lands beside the link. A ".." is resolved by the system, links included.
fs::path NamedFolder(const std::string& source) {
    std::error_code ec;
    fs::path abs = fs::absolute(source, ec);
    if (ec) abs = fs::path(source);
    const fs::path folder = abs.parent_path();
    fs::path out = folder.lexically_normal();
    if (std::any_of(folder.begin(), folder.end(), [](const fs::path& c) { return c == ".."; })) {
        fs::path canon = fs::weakly_canonical(folder, ec);
        if (!ec) out = canon;
    }
    // "/a/./" and "/a" are one folder.
    if (!out.has_filename() && out.has_parent_path() && out != out.root_path()) out = out.parent_path();
    return out;
}

std::string ErrnoText() { return std::strerror(errno); }

// Copies source over destination through the replace routine (temporary, flush, rename).
void CopyReplacing(const std::string& source, const std::string& destination) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw EditError("Cannot read " + source + ": " + ErrnoText());
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{in};
    ReplaceFile(destination, [&](int fd, const std::string&) {
        char buf[1 << 16];
        for (;;) {
            const ssize_t n = ::read(in, buf, sizeof buf);
            if (n < 0) {
                if (errno == EINTR) continue;
                throw EditError("Cannot read " + source + ": " + ErrnoText());
            }
            if (n == 0) break;
            if (!WriteAll(fd, buf, static_cast<size_t>(n)))
                throw EditError("Cannot write " + destination + ": " + ErrnoText());
        }
    });
}

bool FilesEqual(const std::string& a, const std::string& b) {
    FILE* fa = std::fopen(a.c_str(), "rb");
    FILE* fb = std::fopen(b.c_str(), "rb");
    bool same = fa && fb;
    char ba[1 << 15], bb[1 << 15];
    while (same) {
        const size_t na = std::fread(ba, 1, sizeof ba, fa);
        const size_t nb = std::fread(bb, 1, sizeof bb, fb);
        if (na != nb || std::memcmp(ba, bb, na) != 0) same = false;
        if (na == 0) break;
    }
    if (same && (std::ferror(fa) || std::ferror(fb))) same = false;
    if (fa) std::fclose(fa);
    if (fb) std::fclose(fb);
    return same;
}

// The written PNG must decode before anything depends on it.
std::string PngProblem(const std::string& path) {
    try {
        if (DecodePngFile(path).Pixels.Empty()) return path + " holds no image";
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

void Stamp(const std::string& path, int64_t time) {
    if (time != 0) SetFileModificationTime(path, time);
}

// Keeps only what the row shows: the damage an opened file was read past.
class QuietOpen : public OpenImageObserver {
public:
    explicit QuietOpen(std::vector<std::string>& warnings) : warnings_(warnings) {}
    void OpenWarning(const std::string& text) override { warnings_.push_back(text); }

private:
    std::vector<std::string>& warnings_;
};

TBatchRowResult Failed(TBatchRowResult r, const std::string& why) {
    r.Outcome = TBatchOutcome::Error;
    r.Loss = why;
    return r;
}

// The source as the row read it. Another program may save over it while the row runs; the row
// then holds the old picture, and replacing or deleting the source would lose the new one.
bool Unchanged(const std::string& path, const FileIdentity& read) { return IdentityOf(path) == read; }

std::string ChangedSource(const std::string& source, const char* what) {
    return source + " was not " + what + ": it changed while its row ran";
}

// What remains after the source is gone: a failed delete is told, the row stands.
std::string DeleteSource(const std::string& source, const FileIdentity& read) {
    if (!Unchanged(source, read)) return "; " + ChangedSource(source, "deleted");
    std::error_code ec;
    fs::remove(source, ec);
    return ec ? "; " + source + " was not deleted: " + ec.message() : std::string();
}

}  // namespace

bool BatchExtensionPasses(const std::string& fileName) {
    static const char* const kExtensions[] = {".png", ".gif", ".bmp", ".tga", ".webp", ".jpg", ".jpeg"};
    const std::string ext = LowerExtension(fileName);
    return std::any_of(std::begin(kExtensions), std::end(kExtensions), [&](const char* e) { return ext == e; });
}

std::optional<TBatchItem> MakeBatchItem(const std::string& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return std::nullopt;
    TBatchItem item;
    item.Name = fs::path(path).filename().string();
    item.Path = path;
    const uintmax_t size = fs::file_size(path, ec);
    item.Size = ec ? 0 : static_cast<int64_t>(size);
    item.Time = FileModificationTime(path).value_or(0);
    return item;
}

namespace {

// False once an abort was seen.
bool Scan(const fs::path& folder, std::vector<TBatchItem>& rows, const CancelFlag* abort) {
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(*it);
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
    for (const fs::directory_entry& e : entries) {
        if (abort && abort->IsRequested()) return false;
        std::error_code sec;
        if (e.is_symlink(sec) && fs::is_directory(e.path(), sec)) continue;
        if (e.is_directory(sec)) {
            if (!Scan(e.path(), rows, abort)) return false;
        } else if (BatchExtensionPasses(e.path().filename().string())) {
            if (auto item = MakeBatchItem(e.path().string())) rows.push_back(std::move(*item));
        }
    }
    return !(abort && abort->IsRequested());
}

}  // namespace

void ScanBatchFolder(const std::string& folder, std::vector<TBatchItem>& rows, const CancelFlag* abort) {
    Scan(fs::path(folder), rows, abort);
}

std::string BatchRowKey(const std::string& path) {
    std::error_code ec;
    fs::path abs = fs::absolute(path, ec);
    if (ec) abs = fs::path(path);
    const fs::path name = abs.filename();
    fs::path folder = fs::weakly_canonical(abs.parent_path(), ec);
    if (ec) folder = abs.parent_path().lexically_normal();
    return (folder / name).string();
}

void DropListedRows(const std::vector<TBatchItem>& listed, std::vector<TBatchItem>& rows) {
    std::unordered_set<std::string> seen;
    for (const TBatchItem& it : listed) seen.insert(BatchRowKey(it.Path));
    std::vector<TBatchItem> kept;
    for (TBatchItem& it : rows)
        if (seen.insert(BatchRowKey(it.Path)).second) kept.push_back(std::move(it));
    rows = std::move(kept);
}

void AddBatchPaths(const std::vector<std::string>& paths, std::vector<TBatchItem>& rows, const CancelFlag* abort) {
    const auto first = static_cast<std::ptrdiff_t>(rows.size());
    for (const std::string& p : paths) {
        if (abort && abort->IsRequested()) break;
        std::error_code ec;
        if (fs::is_directory(p, ec)) {
            ScanBatchFolder(p, rows, abort);
        } else if (BatchExtensionPasses(p)) {
            if (auto item = MakeBatchItem(p)) rows.push_back(std::move(*item));
        }
    }
    std::vector<TBatchItem> added(std::make_move_iterator(rows.begin() + first), std::make_move_iterator(rows.end()));
    rows.resize(static_cast<size_t>(first));
    DropListedRows(rows, added);
    rows.insert(rows.end(), std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
}

bool FolderContains(const std::string& folder, const std::string& path) {
    const fs::path f = Normal(folder), p = Normal(path);
    auto fi = f.begin(), pi = p.begin();
    for (; fi != f.end(); ++fi, ++pi) {
        if (fi->empty()) continue;  // a trailing separator
        if (pi == p.end() || *fi != *pi) return false;
    }
    return true;
}

std::string BatchOutputFolder(const std::string& sourcePath, const std::string& destination) {
    const fs::path sourceFolder = NamedFolder(sourcePath);
    if (destination.empty()) return sourceFolder.string();
    const fs::path dest = Normal(destination);
    if (FolderContains(dest.string(), sourceFolder.string()) || FolderContains(sourceFolder.string(), dest.string()))
        return dest.string();
    const std::string parent = sourceFolder.filename().string();
    return parent.empty() ? dest.string() : (dest / parent).string();
}

std::string BatchOutputName(const std::string& sourceName) {
    if (LowerExtension(sourceName) == ".png") return sourceName;
    return fs::path(sourceName).stem().string() + ".png";
}

std::string BatchOutputPath(const std::string& folder, const std::string& sourceName) {
    const std::string name = BatchOutputName(sourceName);
    const std::string stem = name.substr(0, name.size() - 4);
    // "Photo.PNG" already there is the output of "Photo.bmp", not a neighbour for a "Photo.png".
    // The name's own spelling of the extension is tried first.
    std::vector<std::string> spellings{name.substr(name.size() - 4)};
    for (int upper = 0; upper < 8; ++upper) {
        std::string ext = ".";
        for (int i = 0; i < 3; ++i) ext += (upper >> i & 1) ? "PNG"[i] : "png"[i];
        if (ext != spellings.front()) spellings.push_back(ext);
    }
    for (const std::string& ext : spellings) {
        const fs::path candidate = fs::path(folder) / (stem + ext);
        std::error_code ec;
        if (fs::exists(fs::symlink_status(candidate, ec))) return candidate.string();
    }
    return (fs::path(folder) / name).string();
}

bool BatchOutputCollides(const std::string& target, const std::string& source) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(target, ec);
    if (ec || !fs::exists(st)) return false;
    return !SameFile(target, source);
}

TBatchStartCheck CheckBatchStart(const std::string& destination, bool quantize,
                                 const std::vector<std::string>& sources) {
    if (destination.empty()) return quantize ? TBatchStartCheck::AskNoDestination : TBatchStartCheck::Go;
    std::error_code ec;
    if (!fs::is_directory(destination, ec)) return TBatchStartCheck::DestinationMissing;
    if (!quantize) return TBatchStartCheck::Go;
    // The outputs of a source lying in the destination itself land beside it, as with no destination.
    const fs::path dest = Normal(destination);
    std::unordered_set<std::string> seen;
    for (const std::string& s : sources) {
        const fs::path folder = NamedFolder(s);
        if (!seen.insert(folder.string()).second) continue;
        if (folder == dest || fs::equivalent(folder, dest, ec)) return TBatchStartCheck::AskNoDestination;
    }
    return TBatchStartCheck::Go;
}

std::string BatchOutCell(const TBatchRowResult& r) {
    switch (r.Outcome) {
        case TBatchOutcome::Kept:
        case TBatchOutcome::Skipped:
            return std::to_string(r.NewSize);
        case TBatchOutcome::Error:
            return "error";
        case TBatchOutcome::Aborted:
            return "aborted";
        default:
            return "-----";
    }
}

std::string BatchRatioCell(const TBatchRowResult& r) {
    switch (r.Outcome) {
        case TBatchOutcome::Kept:
            return std::to_string(static_cast<int64_t>(
                       std::nearbyint(static_cast<double>(r.NewSize) / static_cast<double>(r.OldSize) * 100.0))) +
                   "%";
        case TBatchOutcome::Skipped:
            return "skip";
        case TBatchOutcome::Error:
            return "error";
        case TBatchOutcome::Aborted:
            return "aborted";
        default:
            return "-----";
    }
}

std::string BatchLossCell(const TBatchRowResult& r) {
    // Said in the cell, not only in the tooltip; last, where a narrow cell still shows it.
    if (r.SourceKept && (r.Outcome == TBatchOutcome::Kept || r.Outcome == TBatchOutcome::Skipped))
        return r.Loss.empty() ? "the source is kept" : r.Loss + "; the source is kept";
    return r.Loss.empty() ? "-" : r.Loss;
}

const std::array<const char*, 7>& BatchTotalsCaptions() {
    static const std::array<const char*, 7> captions = {
        " Files processed",       " Errors", " Skipped files", " Size before processing",
        " Size after processing", " Saving", " Ratio"};
    return captions;
}

std::array<std::string, 7> BatchTotalsCells(const TBatchTotals& t) {
    char ratio[64] = "-";
    if (t.Before != 0) {
        const double r = std::nearbyint(static_cast<double>(t.After) / static_cast<double>(t.Before) * 10000.0) / 100.0;
        std::snprintf(ratio, sizeof ratio, "%.2f%%", r);
    }
    return {std::to_string(t.Processed) + " ", std::to_string(t.Errors) + " ", std::to_string(t.Skipped) + " ",
            std::to_string(t.Before) + " ",    std::to_string(t.After) + " ",  std::to_string(t.Before - t.After) + " ",
            std::string(ratio) + " "};
}

namespace {

// A GIF of several frames opens as one picture, every frame painted in order, and an animated PNG
// as its still image: the file holds what the picture cannot, so the row says so and the source is
// never deleted or replaced. True for such a source.
bool NoteFrames(const TBatchItem& item, TBatchRowResult& r) {
    const std::string ext = LowerExtension(item.Path);
    if (ext == ".gif") {
        const int frames = CountGifFrames(item.Path);
        if (frames <= 1) return false;
        r.Warnings.push_back(item.Name + ": " + std::to_string(frames) +
                             " frames drawn as one still picture; the source is kept");
        return r.SourceKept = true;
    }
    if (ext == ".png") {
        const uint32_t frames = CountPngFrames(item.Path);
        if (frames <= 1) return false;
        r.Warnings.push_back(item.Name + ": an animation of " + std::to_string(frames) +
                             " frames, of which only the still image is converted; the source is kept");
        return r.SourceKept = true;
    }
    return false;
}

// The row's own engine work: the source opened as the window opens it, then turned into alpha
// when the settings ask. False when the file is no image.
bool LoadSource(EngineState& state, TQuantizerSettings& settings, bool toAlpha, OpenImageObserver& observer,
                const std::string& source, const TOpenTools& tools) {
    TOpenedFile current;
    TOpenTarget target{state, settings, observer, current, /*BatchMode=*/true};
    target.Tools = tools;
    if (!OpenImage(target, source)) return false;
    if (toAlpha) {
        AlphaCommandImage(state, TAlphaMode::ImageToAlpha);
        Quantize(state, settings, observer);
        state.PaletteSize = -1;
    }
    return true;
}

TSaveResult SaveScratch(EngineState& state, const std::string& temp, const TBatchOptions& options, bool forcedRgb,
                        CancelFlag& cancel, const std::function<void()>& relay) {
    TSaveRequest request;
    request.fileName = temp;
    request.filterIndex = sfPng;
    request.png.sessionFolder = options.SessionFolder;
    request.png.options = options.Png;
    request.png.options.forcedRgb = options.Png.forcedRgb || forcedRgb;
    request.png.cancel = &cancel;
    request.png.pump = relay;
    request.pump = relay;
    return SaveImage(state, request);
}

// A result that does not pay: the source stays, and with a destination it is copied there.
TBatchRowResult FinishSkipped(TBatchRowResult& r, const TBatchItem& item, const TBatchOptions& options,
                              const std::string& folder, const FileIdentity& read) {
    const std::string& source = item.Path;
    r.Outcome = TBatchOutcome::Skipped;
    // Without a destination the source simply stays where it is.
    if (options.Destination.empty()) return r;
    const std::string copy = (fs::path(folder) / item.Name).string();
    if (SameFile(copy, source)) {
        r.Output = source;
        return r;
    }
    if (BatchOutputCollides(copy, source)) return Failed(r, copy + " already exists");
    CopyReplacing(source, copy);
    if (options.PreserveDateTime) Stamp(copy, item.Time);
    if (!FilesEqual(source, copy)) return Failed(r, "The copy " + copy + " differs from its source");
    r.Output = copy;
    if (options.DeleteSource && r.Warnings.empty() && !SameFile(copy, source)) {
        const std::string note = DeleteSource(source, read);
        if (!note.empty()) r.Loss = note.substr(2);
    }
    return r;
}

// A smaller result (or an alpha conversion): the scratch is copied to the output, checked, and
// only then may the source go.
TBatchRowResult FinishKept(EngineState& state, TBatchRowResult& r, const TBatchItem& item,
                           const TBatchOptions& options, const std::string& temp, const std::string& output,
                           const FileIdentity& read) {
    const std::string& source = item.Path;
    if (BatchOutputCollides(output, source)) return Failed(r, output + " already exists");
    const bool replacesSource = SameFile(output, source);
    if (replacesSource && !Unchanged(source, read)) return Failed(r, ChangedSource(source, "replaced"));
    CopyReplacing(temp, output);
    if (options.PreserveDateTime) Stamp(output, item.Time);
    if (const std::string problem = PngProblem(output); !problem.empty()) return Failed(r, problem);
    r.Output = output;
    r.Outcome = TBatchOutcome::Kept;
    r.Loss = ShowErrorMetrics(state, TErrorMetric::Rmse, 0, true).BatchRmse;
    // A damaged source stays: the output holds only what could be read of it.
    if (options.DeleteSource && r.Warnings.empty() && !replacesSource && !SameFile(output, source))
        r.Loss += DeleteSource(source, read);
    return r;
}

TBatchRowResult Aborted(TBatchRowResult r) {
    r.Outcome = TBatchOutcome::Aborted;
    return r;
}

}  // namespace

TBatchRowResult ProcessBatchRow(EngineState& state, const TBatchItem& item, const TBatchOptions& options,
                                const CancelFlag& stop, const std::function<void()>& pump) {
    TBatchRowResult r;
    const std::string source = item.Path;
    const std::string temp = options.SessionFolder + kBatchTempName;
    try {
        // A scratch left from the last row must never pass for this row's output.
        if (::unlink(temp.c_str()) != 0 && errno != ENOENT)
            return Failed(r, "Cannot delete " + temp + ": " + ErrnoText());

        std::error_code ec;
        const uintmax_t oldSize = fs::file_size(source, ec);
        if (ec) return Failed(r, "Cannot read " + source + ": " + ec.message());
        r.OldSize = static_cast<int64_t>(oldSize);
        if (r.OldSize == 0) return Failed(r, source + " is empty");

        const bool quantize = options.Quantize.has_value();
        TQuantizerSettings settings = options.Quantize.value_or(TQuantizerSettings{});
        const bool toAlpha = quantize && settings.ConvertToAlpha;
        struct Restore {
            EngineState& s;
            bool was;
            ~Restore() { s.BatchQuantize = was; }
        } restore{state, state.BatchQuantize};
        state.BatchQuantize = quantize;
        QuietOpen observer(r.Warnings);
        CancelFlag toolCancel;
        const auto relay = [&] {
            if (pump) pump();
            if (stop.IsRequested()) toolCancel.Request();
        };
        const TOpenTools tools{options.SessionFolder, &toolCancel, relay};
        const std::optional<FileIdentity> read = IdentityOf(source);
        if (!read) return Failed(r, "Cannot read " + source + ": " + ErrnoText());
        if (!LoadSource(state, settings, toAlpha, observer, source, tools))
            return Failed(r, source + " cannot be opened as an image");
        const bool animated = NoteFrames(item, r);

        const std::string folder = BatchOutputFolder(source, options.Destination);
        fs::create_directories(folder, ec);
        if (ec || !fs::is_directory(folder)) return Failed(r, "Cannot make the folder " + folder + ": " + ec.message());
        const std::string output = BatchOutputPath(folder, item.Name);
        if (animated && SameFile(output, source)) return FinishSkipped(r, item, options, folder, *read);

        if (stop.IsRequested()) return Aborted(r);
        const TSaveResult saved = SaveScratch(state, temp, options, quantize && settings.ForcedRGB, toolCancel, relay);
        if (stop.IsRequested()) return Aborted(r);
        if (saved.png.outcome == PngChainResult::Outcome::Canceled) return Failed(r, "Canceled...");
        if (saved.png.outcome == PngChainResult::Outcome::ScriptNotFound)
            return Failed(r, saved.png.message.empty() ? saved.png.status : saved.png.message);

        const uintmax_t newSize = fs::file_size(temp, ec);
        if (ec || newSize == 0) return Failed(r, "No output was written for " + source);
        if (const std::string problem = PngProblem(temp); !problem.empty()) return Failed(r, problem);
        r.NewSize = static_cast<int64_t>(newSize);
        // Pending events run before any file is touched, as between rows.
        if (pump) pump();
        if (stop.IsRequested()) return Aborted(r);

        if (r.NewSize >= r.OldSize && !toAlpha) return FinishSkipped(r, item, options, folder, *read);
        return FinishKept(state, r, item, options, temp, output, *read);
    } catch (const std::exception& e) {
        return Failed(r, e.what());
    }
}

TBatchTotals RunBatch(EngineState& state, std::vector<TBatchItem>& rows, const TBatchOptions& options,
                      const CancelFlag& stop, const TBatchHooks& hooks) {
    TBatchTotals t;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (stop.IsRequested()) {
            t.Stopped = true;
            break;
        }
        TBatchItem& item = rows[i];
        if (item.Checked) {
            if (hooks.Row) {
                TBatchRowResult running;
                running.Outcome = TBatchOutcome::Running;
                running.OldSize = item.Size;
                hooks.Row(i, running);
            }
            const TBatchRowResult r = ProcessBatchRow(state, item, options, stop, hooks.Pump);
            if (hooks.Row) hooks.Row(i, r);
            if (r.Outcome == TBatchOutcome::Aborted) {
                t.Stopped = true;
                break;
            }
            if (r.Outcome == TBatchOutcome::Error) {
                ++t.Errors;
            } else {
                item.Checked = false;
                t.Before += r.OldSize;
                t.After += r.Outcome == TBatchOutcome::Skipped ? r.OldSize : r.NewSize;
                if (r.Outcome == TBatchOutcome::Skipped) ++t.Skipped;
            }
        }
        ++t.Processed;
        if (hooks.Pump) hooks.Pump();
    }
    ::unlink((options.SessionFolder + kBatchTempName).c_str());
    return t;
}

}  // namespace jx
