#include "fileio/icon_file.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "fileio/file_bytes.h"
#include "fileio/replace_file.h"
#include "fileio/png_probe.h"
#include "platform/byte_order.h"

namespace jx {
namespace {

// Short names: the directory and frame headers read and write many fields.
constexpr auto Le16 = LittleEndian16;
constexpr auto Le32 = LittleEndian32;
constexpr auto Be32 = BigEndian32;
constexpr auto SetLe16 = PutLittleEndian16;
constexpr auto SetLe32 = PutLittleEndian32;

const uint8_t kPngSignature[4] = {0x89, 'P', 'N', 'G'};

// Honest frames are disjoint, so their files come to the icon's size plus a BMP file header each.
constexpr uint64_t kMaxFrameBytesPerIconByte = 4;

void Remove(const std::string& path) {
    if (path.empty()) return;
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

}  // namespace

TIconFile::TIconFile(std::string sessionFolder) : folder_(std::move(sessionFolder)) {
    if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
}

TIconFile::~TIconFile() { DeleteFrameFiles(); }

void TIconFile::DeleteFrameFiles() {
    for (const TIconFrames& f : frames_) {
        Remove(f.FrameFile);
        Remove(f.MaskFile);
        Remove(f.EditedFile);
    }
    frames_.clear();
}

void TIconFile::ReadIconFile(const std::string& fileName) {
    DeleteFrameFiles();
    type_ = 0;
    Modified = false;
    const std::vector<uint8_t> file = ReadFileBytes(fileName);
    const uint64_t fileSize = file.size();
    auto bad = [&](const std::string& why) { return FileIoError("Damaged icon file \"" + fileName + "\": " + why); };
    if (fileSize < 6 || Le16(&file[0]) != 0 || (Le16(&file[2]) != 1 && Le16(&file[2]) != 2))
        throw FileIoError("\"" + fileName + "\" is not an icon or cursor file.");
    const uint32_t count = Le16(&file[4]);
    if (6 + 16 * uint64_t(count) > fileSize) throw bad("its directory is cut short.");

    // Every frame is checked before any frame file is written.
    struct TPlan {
        TIconFrames frame;
        uint64_t offset = 0, size = 0;
        uint64_t pixelOffset = 0;  // BMP frames: where the pixels begin in the frame file
    };
    std::vector<TPlan> plans(count);
    for (uint32_t k = 0; k < count; ++k) {
        TPlan& plan = plans[k];
        TIconFrames& f = plan.frame;
        const uint8_t* e = &file[6 + 16 * size_t(k)];
        std::memcpy(f.Entry.data(), e, 16);
        plan.size = Le32(e + 8);
        plan.offset = Le32(e + 12);
        const std::string which = "frame " + std::to_string(k + 1);
        if (plan.offset + plan.size > fileSize || plan.size < 4) throw bad(which + " lies outside the file.");
        const uint8_t* d = &file[size_t(plan.offset)];
        f.IsPng = std::memcmp(d, kPngSignature, 4) == 0;
        if (f.IsPng) {
            if (plan.size < 24) throw bad(which + " is a cut-short PNG.");
            const uint32_t w = Be32(d + 16), h = Be32(d + 20);
            if (w == 0 || h == 0 || w > 65535 || h > 65535) throw bad(which + " has an impossible size.");
            f.Width = int32_t(w);
            f.Height = int32_t(h);
            f.Bits = e[6];
        } else {
            if (plan.size < 40) throw bad(which + " is a cut-short bitmap.");
            const uint32_t headerSize = Le32(d);
            const int32_t w = int32_t(Le32(d + 4));
            const int32_t h2 = int32_t(Le32(d + 8));
            const uint32_t bits = Le16(d + 14);
            const uint32_t compression = Le32(d + 16);
            uint32_t colors = Le32(d + 32);
            if (headerSize < 40 || headerSize > plan.size) throw bad(which + " has a bad bitmap header.");
            if (w <= 0 || w > 65535 || h2 <= 0 || h2 > 2 * 65535 || bits == 0 || bits > 32)
                throw bad(which + " has an impossible size or depth.");
            if (colors == 0 && bits <= 8) colors = 1u << bits;
            if (bits > 8 && colors > 256) colors = 0;  // a hint past the palette of a true-colour frame
            if (colors > 256) throw bad(which + " has a colour table of " + std::to_string(colors) + " entries.");
            uint64_t table = 4 * uint64_t(colors);
            if (headerSize == 40 && compression == 3) table += 12;  // bit-field masks
            f.Width = w;
            f.Height = h2 / 2;
            f.Bits = uint8_t(bits);
            f.MaskSize = bits == 32 ? 0 : int32_t((uint64_t(w) + 31) / 32 * 4 * uint64_t(f.Height));
            if (headerSize + table + uint64_t(f.MaskSize) > plan.size)
                throw bad(which + ": its colour table and mask do not fit its data.");
            plan.pixelOffset = 14 + headerSize + table;
        }
    }

    // Entries that point at the same bytes share one frame file, and the frame files together
    // may not outgrow the icon by much: overlapping entries could otherwise fill the disk.
    std::map<std::pair<uint64_t, uint64_t>, uint32_t> firstOf;
    std::vector<uint32_t> sharesWith(count);
    uint64_t toWrite = 0;
    for (uint32_t k = 0; k < count; ++k) {
        const auto [it, added] = firstOf.emplace(std::make_pair(plans[k].offset, plans[k].size), k);
        sharesWith[k] = it->second;
        if (added) toWrite += plans[k].size + 14;
    }
    if (toWrite > kMaxFrameBytesPerIconByte * fileSize)
        throw bad("its frames overlap; they would take " + std::to_string(toWrite) + " bytes to split out.");

    std::vector<TIconFrames> frames;
    try {
        for (uint32_t k = 0; k < count; ++k) {
            TPlan& plan = plans[k];
            TIconFrames f = plan.frame;
            // The index keeps frames of equal size and depth apart.
            const std::string base = std::to_string(f.Width) + "x" + std::to_string(f.Height) + "x" +
                                     std::to_string(f.Bits) + "-" + std::to_string(k + 1);
            if (sharesWith[k] != k) {
                // Each entry still has an edited file of its own.
                const TIconFrames& first = frames[sharesWith[k]];
                f.FrameFile = first.FrameFile;
                f.MaskFile = first.MaskFile;
                f.EditedFile = folder_ + "o" + base + ".png";
                frames.push_back(f);
                continue;
            }
            const uint8_t* d = &file[size_t(plan.offset)];
            if (f.IsPng) {
                f.FrameFile = folder_ + base + ".png";
                WriteFileBytes(f.FrameFile, std::span(d, size_t(plan.size)));
            } else {
                f.FrameFile = folder_ + base + ".bmp";
                const size_t bytes = size_t(plan.size) - size_t(f.MaskSize);
                std::vector<uint8_t> bmp(14 + bytes);
                bmp[0] = 'B';
                bmp[1] = 'M';
                SetLe32(&bmp[2], uint32_t(14 + bytes));
                SetLe32(&bmp[10], uint32_t(plan.pixelOffset));
                std::memcpy(&bmp[14], d, bytes);
                SetLe32(&bmp[14 + 8], uint32_t(f.Height));
                frames.push_back(f);  // listed before writing, so a failure removes what was written
                WriteFileBytes(f.FrameFile, bmp);
                if (f.MaskSize != 0) {
                    // The image reader pairs x.bmp with maskx.dat in the same folder.
                    frames.back().MaskFile = f.MaskFile = folder_ + "mask" + base + ".dat";
                    WriteFileBytes(f.MaskFile, std::span(d + bytes, size_t(f.MaskSize)));
                }
                frames.back().EditedFile = folder_ + "o" + base + ".png";
                continue;
            }
            f.EditedFile = folder_ + "o" + base + ".png";
            frames.push_back(f);
        }
    } catch (...) {
        frames_ = std::move(frames);
        DeleteFrameFiles();
        throw;
    }
    frames_ = std::move(frames);
    type_ = uint16_t(Le16(&file[2]));
}

std::string IconSaveName(const std::string& fileName, int32_t filterIndex) {
    if (filterIndex != 1 && filterIndex != 2) throw FileIoError("Unknown icon format " + std::to_string(filterIndex) + ".");
    std::filesystem::path p(fileName);
    p.replace_extension(filterIndex == 1 ? ".ico" : ".cur");
    return p.string();
}

std::string TIconFile::WriteIconFile(const std::string& fileName, int32_t filterIndex,
                                     const std::vector<int32_t>& order) {
    const std::filesystem::path p(IconSaveName(fileName, filterIndex));
    if (order.size() > 65535) throw FileIoError("An icon file holds at most 65535 frames.");

    // Each frame's bytes as they go into the file.
    std::vector<std::vector<uint8_t>> data;
    for (int32_t index : order) {
        if (index < 0 || size_t(index) >= frames_.size()) throw FileIoError("No frame " + std::to_string(index) + ".");
        const TIconFrames& f = frames_[size_t(index)];
        if (f.IsPng || f.Edited) {
            data.push_back(ReadFileBytes(f.Edited ? f.EditedFile : f.FrameFile));
        } else {
            std::vector<uint8_t> bmp = ReadFileBytes(f.FrameFile);
            if (bmp.size() < 14 + 40) throw FileIoError("The frame file \"" + f.FrameFile + "\" is cut short.");
            bmp.erase(bmp.begin(), bmp.begin() + 14);
            SetLe32(&bmp[8], uint32_t(f.Height) * 2);
            if (f.MaskSize != 0) {
                const std::vector<uint8_t> mask = ReadFileBytes(f.MaskFile);
                bmp.insert(bmp.end(), mask.begin(), mask.end());
            }
            data.push_back(std::move(bmp));
        }
    }
    std::vector<uint8_t> out(6 + 16 * order.size());
    SetLe16(&out[2], uint32_t(filterIndex));
    SetLe16(&out[4], uint32_t(order.size()));
    uint64_t offset = out.size();
    for (size_t i = 0; i < order.size(); ++i) {
        uint8_t* e = &out[6 + 16 * i];
        std::memcpy(e, frames_[size_t(order[i])].Entry.data(), 16);
        if (offset + data[i].size() > 0xFFFFFFFFu) throw FileIoError("The icon file would pass 4 GB.");
        SetLe32(e + 8, uint32_t(data[i].size()));
        SetLe32(e + 12, uint32_t(offset));
        offset += data[i].size();
    }
    for (const auto& d : data) out.insert(out.end(), d.begin(), d.end());
    ReplaceFileWithBytes(p.string(), out);
    Modified = false;
    return p.string();
}

TSaveResult TIconFile::SaveEditedFrame(EngineState& state, int32_t index, TSaveRequest request) {
    TIconFrames& f = frames_.at(size_t(index));
    request.fileName = f.EditedFile;
    request.filterIndex = sfPng;
    TSaveResult r = SaveImage(state, request);
    if (r.png.outcome != PngChainResult::Outcome::Written || !std::filesystem::exists(f.EditedFile)) return r;
    f.Edited = true;
    f.IsPng = true;
    Modified = true;
    return r;
}

int32_t TIconFile::InitialFrame() const {
    int32_t choice = 0, h = 0, w = 0, bits = 0;
    for (size_t k = 0; k < frames_.size(); ++k) {
        const TIconFrames& f = frames_[k];
        if ((f.Height > h && f.Width > w) || f.Bits > bits) {
            choice = int32_t(k);
            h = f.Height;
            w = f.Width;
            bits = f.Bits;
        }
    }
    return choice;
}

}  // namespace jx
