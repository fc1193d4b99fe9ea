#pragma once
// Icon (.ico) and cursor (.cur) files split into one file per frame in the session folder, and
// written back from a chosen list of frames. The icon dialog drives this with plain arguments.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fileio/save_image.h"
#include "imaging/engine_state.h"

namespace jx {

struct TIconFrames {
    std::array<uint8_t, 16> Entry{};  // the directory entry as read
    std::string FrameFile;            // the frame as a PNG or BMP file
    bool IsPng = false;
    bool Edited = false;              // saved from the main window into EditedFile
    std::string EditedFile;
    int32_t Height = 0;
    int32_t Width = 0;
    uint8_t Bits = 0;
    int32_t MaskSize = 0;             // bytes of the AND mask, kept in the mask side file
    std::string MaskFile;             // empty without a mask
    // Why the frame cannot be opened ("frame 2 has an impossible size or depth."), empty when it
    // can. A damaged frame is listed with its entry's size and depth, and has no files.
    std::string Damage;

    // The list row's texts: "W x H" as "WxH", the bits, "png" or "dib".
    std::string Dimension() const { return std::to_string(Width) + "x" + std::to_string(Height); }
    std::string Format() const { return IsPng ? "png" : "dib"; }
};

// What a frame's own bytes say about it. The reader, the writer (on what it is about to write)
// and the open dialog's preview all take frames through CheckIconFrame, so they cannot disagree.
struct TIconFrameInfo {
    bool IsPng = false;
    int32_t Width = 0;
    int32_t Height = 0;
    uint8_t Bits = 0;
    int32_t MaskSize = 0;
    uint64_t PixelOffset = 0;  // bitmap frames: the info header and colour table come first
};

// The bytes of a frame's start that CheckIconFrame reads.
constexpr size_t kIconFrameHead = 40;

// Checks one frame from its first min(size, kIconFrameHead) bytes, its size and the low byte of
// its entry's bit count (a PNG frame's depth). Returns what is wrong, as the rest of a sentence
// that begins "frame N" (" has an impossible size."), or an empty string and fills info.
std::string CheckIconFrame(std::span<const uint8_t> head, uint64_t size, uint8_t entryBits, TIconFrameInfo& info);

// One directory entry of a file that ReadIconDirectory accepted.
struct TIconEntry {
    std::array<uint8_t, 16> Entry{};
    uint64_t Offset = 0;
    uint64_t Size = 0;
    TIconFrameInfo Info;
    uint32_t SharesWith = 0;  // the first entry on the same bytes; its own index when none before
    std::string Damage;       // "frame N ..." when this frame cannot be read; Info is then empty
};

struct TIconDirectory {
    uint16_t Type = 0;  // 1 icon, 2 cursor
    std::vector<TIconEntry> Entries;
};

// Checks an icon or cursor file's header, its directory and every frame, and that the frame
// files would not outgrow the icon by much. Raises FileIoError naming fileName (when not empty)
// for a damaged header or directory, or when no frame can be read; a damaged frame among sound
// ones is only marked (its Damage), so that the others still open.
TIconDirectory ReadIconDirectory(std::span<const uint8_t> file, const std::string& fileName);

// A bitmap frame's frame file: a BMP file header, then the frame without its mask and with the
// height of its pixels in place of the doubled one. A 32-bit frame keeps its mask, after the size
// the file header gives.
std::vector<uint8_t> BitmapFrameFile(const TIconEntry& entry, std::span<const uint8_t> file);

// The name WriteIconFile writes: fileName with ".ico" (filterIndex 1) or ".cur" (2) for its extension.
std::string IconSaveName(const std::string& fileName, int32_t filterIndex);

class TIconFile {
public:
    // Frame files go into sessionFolder (with or without a trailing '/').
    explicit TIconFile(std::string sessionFolder);
    ~TIconFile();
    TIconFile(const TIconFile&) = delete;
    TIconFile& operator=(const TIconFile&) = delete;

    // Deletes the previous frame files, then splits fileName into frame files. A file that is no
    // icon or cursor, whose directory is cut short, or that holds no readable frame raises
    // FileIoError and leaves no frames. A damaged frame among readable ones is listed with its
    // Damage and no files. Every frame has its own names, even frames of equal size and depth.
    void ReadIconFile(const std::string& fileName);

    // Writes the frames given by index, in that order, as an icon (filterIndex 1, ".ico") or
    // cursor (2, ".cur"); the name's extension is replaced. Entries whose bytes came from one
    // image (one frame file, or one edited file) point at one copy of it. The file's size and
    // every frame are checked before anything is written, and one frame at a time is held in
    // memory; a file past the format's 4 GB, a damaged frame, or a frame the reader would refuse, raises
    // FileIoError and leaves the destination as it was. Written to a temporary name and renamed.
    // Clears Modified. Returns the name written.
    std::string WriteIconFile(const std::string& fileName, int32_t filterIndex, const std::vector<int32_t>& frames);

    // Saves the working image as frame `index`'s edited file, always as PNG whatever the save
    // dialog's filter, and marks the frame edited and the icon modified.
    TSaveResult SaveEditedFrame(EngineState& state, int32_t index, TSaveRequest request);

    // Deletes every frame file, mask file and edited file; no frames remain.
    void DeleteFrameFiles();

    // The frame shown first: the last readable one, in order, larger in both height and width
    // than the choice so far, or deeper in bits. 0 without frames.
    int32_t InitialFrame() const;

    // Rows checked when the list is filled: the readable 32-bit frames.
    bool CheckedByDefault(int32_t index) const {
        const TIconFrames& f = frames_.at(size_t(index));
        return f.Bits == 32 && f.Damage.empty();
    }

    const std::vector<TIconFrames>& Frames() const { return frames_; }
    uint16_t Type() const { return type_; }  // 1 icon, 2 cursor
    bool Modified = false;

private:
    std::vector<TIconFrames> WriteFrameFiles(std::span<const uint8_t> file, const TIconDirectory& directory);

    std::string folder_;
    uint16_t type_ = 0;
    std::vector<TIconFrames> frames_;
};

}  // namespace jx
