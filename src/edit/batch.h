#pragma once
// Batch conversion: a list of picture files, each opened as the window opens it, optionally
// quantized (and turned into alpha), written as an optimised PNG, and kept only when it pays.
//
// Whatever happens, no source file is lost and no other file is overwritten: an output lands only
// on a free name or on its own source, a source is deleted only once its replacement has been
// written under its final name and decodes, a source is replaced or deleted only while it is still
// the file the row read (device, inode, size, modification time), and a file is never copied onto
// itself.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fileio/tool_commands.h"
#include "imaging/engine_state.h"
#include "imaging/settings.h"
#include "platform/cancel_flag.h"

namespace jx {

// The one scratch output in the session folder, rewritten for every file.
inline constexpr const char* kBatchTempName = "tmp.png";

inline constexpr const char* kBatchNoDestinationQuestion =
    "Destination folder is not selected! The files will be overwritten without possibility of recovery! "
    "Are you sure you want to continue?";
inline constexpr const char* kBatchDestinationMissing = "Destination folder does not exist!";

// One row of the list.
struct TBatchItem {
    std::string Name;   // the directory entry's name ("File name")
    std::string Path;   // the full path that is opened
    int64_t Size = 0;   // bytes ("In")
    int64_t Time = 0;   // modification time in nanoseconds since 1970, 0 when unknown
    bool Checked = true;
};

// The extensions the batch takes, matched whole and in any case: ".png", ".gif", ".bmp", ".tga",
// ".webp", ".jpg", ".jpeg".
bool BatchExtensionPasses(const std::string& fileName);

// A row for one regular file (links followed); none for a missing file or a folder. The extension
// is not tested: the open dialog's choice is taken as it is.
std::optional<TBatchItem> MakeBatchItem(const std::string& path);

// Appends the files of a folder that pass the extension test, depth first, each folder's entries
// in name order. Links to folders are not followed (no loops); links to files are taken. An abort
// request ends this and every enclosing level with the rows found so far.
void ScanBatchFolder(const std::string& folder, std::vector<TBatchItem>& rows, const CancelFlag* abort = nullptr);

// Command-line parameters and dropped names: a folder is scanned, a file passing the extension
// test adds a row, a name that names nothing adds nothing. A file already in `rows` (or found
// twice) is not added again: see BatchRowKey.
void AddBatchPaths(const std::vector<std::string>& paths, std::vector<TBatchItem>& rows,
                   const CancelFlag* abort = nullptr);

// What makes two rows one file: the folder as the system resolves it (links, ".", "..", doubled
// separators) and the name as given. A link to a file stays a row of its own, as its output
// lands beside the link.
std::string BatchRowKey(const std::string& path);
// Rows whose file is already listed, or listed earlier among `rows`, are dropped.
void DropListedRows(const std::vector<TBatchItem>& listed, std::vector<TBatchItem>& rows);

// Whether path is folder itself or lies inside it, by whole path components ("/pics" does not
// contain "/pics2/x"). Both are made absolute and normal, links resolved where they exist.
bool FolderContains(const std::string& folder, const std::string& path);

// Where a source's output goes: without a destination, the folder the source is named in (a
// linked source's output lands beside the link, not beside its target); with one, the destination
// itself when it and the source folder contain one another, else the destination's subfolder named
// after the source's parent folder. No trailing '/'.
std::string BatchOutputFolder(const std::string& sourcePath, const std::string& destination);
// The source's name (its case kept) with ".png" in place of its extension; a PNG keeps its own
// name, ".PNG" included.
std::string BatchOutputName(const std::string& sourceName);
// The output file in `folder`: a file there whose name differs from BatchOutputName only in the
// extension's case is the same output.
std::string BatchOutputPath(const std::string& folder, const std::string& sourceName);

// True when writing `target` would overwrite a file other than `source` (a dangling link counts).
bool BatchOutputCollides(const std::string& target, const std::string& source);

// Before a run: a destination that is not an existing folder gets kBatchDestinationMissing. With
// quantizing, kBatchNoDestinationQuestion is asked when there is no destination or when it is the
// folder of any of `sources` (the same folder however it is spelled), as both overwrite in place.
enum class TBatchStartCheck { Go, AskNoDestination, DestinationMissing };
TBatchStartCheck CheckBatchStart(const std::string& destination, bool quantize,
                                 const std::vector<std::string>& sources = {});

struct TBatchOptions {
    std::string Destination;       // empty: each file's own folder
    bool DeleteSource = false;     // "Delete source"
    bool PreserveDateTime = false; // "Preserve Date and Time"
    std::string SessionFolder;     // the scratch output and the tools; ends in '/'
    PngChainOptions Png;           // the optimisation level and its settings
    // With settings every image is quantized by them (and, with ConvertToAlpha, turned into
    // alpha first); without, each keeps its colours.
    std::optional<TQuantizerSettings> Quantize;
};

enum class TBatchOutcome { Pending, Running, Kept, Skipped, Error, Aborted };

struct TBatchRowResult {
    TBatchOutcome Outcome = TBatchOutcome::Pending;
    int64_t OldSize = 0;
    int64_t NewSize = 0;
    std::string Loss;    // the rmse of a kept file, or the reason of an error
    std::string Output;  // the file written or copied (empty when none)
    // The source opened but was damaged (a cut-short JPEG, a dropped PNG chunk), or it holds
    // frames that one picture cannot keep: the row is marked with these texts, whatever its
    // outcome, and the source is never deleted.
    std::vector<std::string> Warnings;
    // The source holds frames the output cannot: it stays as it is, and the row's text says so.
    bool SourceKept = false;
};

// The "Out", "Ratio" and "Loss" cells of a row.
std::string BatchOutCell(const TBatchRowResult& r);
std::string BatchRatioCell(const TBatchRowResult& r);
std::string BatchLossCell(const TBatchRowResult& r);

struct TBatchTotals {
    int32_t Processed = 0;  // rows passed, checked or not
    int32_t Errors = 0;
    int32_t Skipped = 0;
    int64_t Before = 0;
    int64_t After = 0;
    bool Stopped = false;
};

// The totals grid: captions of column 0 and the values of column 1, row by row.
const std::array<const char*, 7>& BatchTotalsCaptions();
std::array<std::string, 7> BatchTotalsCells(const TBatchTotals& t);

struct TBatchHooks {
    // Called with Running when a row starts and with its result when it ends.
    std::function<void(size_t index, const TBatchRowResult& result)> Row;
    // The caller's event processing: between rows and while a tool runs.
    std::function<void()> Pump;
};

// One row, start to end; never throws (a failure is an Error row). `stop` is only read; a stop
// seen once the output is written makes the row Aborted and changes no file but the scratch.
// `pump` runs while tools run and once more between the scratch output and any change to a file.
TBatchRowResult ProcessBatchRow(EngineState& state, const TBatchItem& item, const TBatchOptions& options,
                                const CancelFlag& stop, const std::function<void()>& pump = {});

// The whole list from the top, while `stop` is not requested. Checked rows are processed; kept
// and skipped rows are unchecked afterwards, so a second run retries only the failures. The
// scratch output is deleted before each row and at the end.
TBatchTotals RunBatch(EngineState& state, std::vector<TBatchItem>& rows, const TBatchOptions& options,
                      const CancelFlag& stop, const TBatchHooks& hooks = {});

}  // namespace jx
