#pragma once
// Icon (.ico) and cursor (.cur) files split into one file per frame in the session folder, and
// written back from a chosen list of frames. The icon dialog drives this with plain arguments.
#include <array>
#include <cstdint>
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

    // The list row's texts: "W x H" as "WxH", the bits, "png" or "dib".
    std::string Dimension() const { return std::to_string(Width) + "x" + std::to_string(Height); }
    std::string Format() const { return IsPng ? "png" : "dib"; }
};

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
    // icon or cursor, or whose directory points outside the file, raises FileIoError and leaves no
    // frames. Every frame has its own names, even frames of equal size and depth.
    void ReadIconFile(const std::string& fileName);

    // Writes the frames given by index, in that order, as an icon (filterIndex 1, ".ico") or
    // cursor (2, ".cur"); the name's extension is replaced. Written to a temporary name and
    // renamed. Clears Modified. Returns the name written.
    std::string WriteIconFile(const std::string& fileName, int32_t filterIndex, const std::vector<int32_t>& frames);

    // Saves the working image as frame `index`'s edited file, always as PNG whatever the save
    // dialog's filter, and marks the frame edited and the icon modified.
    TSaveResult SaveEditedFrame(EngineState& state, int32_t index, TSaveRequest request);

    // Deletes every frame file, mask file and edited file; no frames remain.
    void DeleteFrameFiles();

    // The frame shown first: the last one, in order, larger in both height and width than the
    // choice so far, or deeper in bits. 0 without frames.
    int32_t InitialFrame() const;

    // Rows checked when the list is filled: the 32-bit frames.
    bool CheckedByDefault(int32_t index) const { return frames_.at(size_t(index)).Bits == 32; }

    const std::vector<TIconFrames>& Frames() const { return frames_; }
    uint16_t Type() const { return type_; }  // 1 icon, 2 cursor
    bool Modified = false;

private:
    std::string folder_;
    uint16_t type_ = 0;
    std::vector<TIconFrames> frames_;
};

}  // namespace jx
