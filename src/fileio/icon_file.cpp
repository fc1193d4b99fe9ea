#include "fileio/icon_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>

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

// The largest file ReadFileBytes, and so the reader, takes: a larger icon would not open again.
constexpr uint64_t kMaxIconBytes = uint64_t(1) << 31;

void Remove(const std::string& path) {
    if (path.empty()) return;
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

}  // namespace

std::string CheckIconFrame(std::span<const uint8_t> head, uint64_t size, uint8_t entryBits, TIconFrameInfo& info) {
    info = {};
    if (size < 4 || head.size() < 4) return " is cut short.";
    const uint8_t* d = head.data();
    info.IsPng = std::memcmp(d, kPngSignature, 4) == 0;
    if (info.IsPng) {
        if (size < 24 || head.size() < 24) return " is a cut-short PNG.";
        const uint32_t w = Be32(d + 16), h = Be32(d + 20);
        if (w == 0 || h == 0 || w > 65535 || h > 65535) return " has an impossible size.";
        info.Width = int32_t(w);
        info.Height = int32_t(h);
        info.Bits = entryBits;
        return {};
    }
    if (size < 40 || head.size() < 40) return " is a cut-short bitmap.";
    const uint32_t headerSize = Le32(d);
    const int32_t w = int32_t(Le32(d + 4));
    const int32_t h2 = int32_t(Le32(d + 8));
    const uint32_t bits = Le16(d + 14);
    const uint32_t compression = Le32(d + 16);
    uint32_t colors = Le32(d + 32);
    if (headerSize < 40 || headerSize > size) return " has a bad bitmap header.";
    // A stored height of 1 holds no row: written back it would be 0, which no reader takes.
    if (w <= 0 || w > 65535 || h2 < 2 || h2 > 2 * 65535 || bits == 0 || bits > 32)
        return " has an impossible size or depth.";
    if (colors == 0 && bits <= 8) colors = 1u << bits;
    if (bits > 8 && colors > 256) colors = 0;  // a hint past the palette of a true-colour frame
    if (colors > 256) return " has a colour table of " + std::to_string(colors) + " entries.";
    uint64_t table = 4 * uint64_t(colors);
    if (headerSize == 40 && compression == 3) table += 12;  // bit-field masks
    info.Width = w;
    info.Height = h2 / 2;
    info.Bits = uint8_t(bits);
    info.MaskSize = bits == 32 ? 0 : int32_t((uint64_t(w) + 31) / 32 * 4 * uint64_t(info.Height));
    if (headerSize + table + uint64_t(info.MaskSize) > size) return ": its colour table and mask do not fit its data.";
    info.PixelOffset = headerSize + table;
    return {};
}

namespace {

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// Entries that point at the same bytes share one frame file, and the frame files together may
// not outgrow the icon by much: overlapping entries could otherwise fill the disk.
void ShareFrames(std::vector<TIconEntry>& entries, uint64_t fileSize, const std::string& fileName) {
    std::map<std::pair<uint64_t, uint64_t>, uint32_t> firstOf;
    uint64_t toWrite = 0;
    for (uint32_t k = 0; k < entries.size(); ++k) {
        entries[k].SharesWith = k;
        if (!entries[k].Damage.empty()) continue;  // no file is written for it
        const auto [it, added] = firstOf.emplace(std::make_pair(entries[k].Offset, entries[k].Size), k);
        entries[k].SharesWith = it->second;
        if (added) toWrite += entries[k].Size + 14;
    }
    if (toWrite > kMaxFrameBytesPerIconByte * fileSize)
        throw FileIoError("Damaged icon file" + (fileName.empty() ? "" : " " + Quoted(fileName)) +
                          ": its frames overlap; they would take " + std::to_string(toWrite) + " bytes to split out.");
}

}  // namespace

TIconDirectory ReadIconDirectory(std::span<const uint8_t> file, const std::string& fileName) {
    const uint64_t fileSize = file.size();
    auto bad = [&](const std::string& why) {
        return FileIoError("Damaged icon file" + (fileName.empty() ? "" : " " + Quoted(fileName)) + ": " + why);
    };
    if (fileSize < 6 || Le16(&file[0]) != 0 || (Le16(&file[2]) != 1 && Le16(&file[2]) != 2))
        throw FileIoError(fileName.empty() ? "Not an icon or cursor file."
                                           : Quoted(fileName) + " is not an icon or cursor file.");
    const uint32_t count = Le16(&file[4]);
    if (6 + 16 * uint64_t(count) > fileSize) throw bad("its directory is cut short.");

    TIconDirectory directory;
    directory.Entries.resize(count);
    const TIconEntry* firstDamaged = nullptr;
    bool anySound = false;
    for (uint32_t k = 0; k < count; ++k) {
        TIconEntry& entry = directory.Entries[k];
        const uint8_t* e = &file[6 + 16 * size_t(k)];
        std::memcpy(entry.Entry.data(), e, 16);
        entry.Size = Le32(e + 8);
        entry.Offset = Le32(e + 12);
        const std::string which = "frame " + std::to_string(k + 1);
        // One damaged frame must not lock away the others: it is marked, and only a file without
        // any readable frame is refused.
        if (entry.Offset + entry.Size > fileSize || entry.Size < 4) {
            entry.Damage = which + " lies outside the file.";
        } else {
            const auto head = file.subspan(size_t(entry.Offset), size_t(std::min<uint64_t>(entry.Size, kIconFrameHead)));
            const std::string why = CheckIconFrame(head, entry.Size, e[6], entry.Info);
            if (!why.empty()) entry.Damage = which + why;
        }
        if (entry.Damage.empty()) {
            anySound = true;
        } else {
            entry.Info = {};
            if (!firstDamaged) firstDamaged = &entry;
        }
    }
    if (!anySound && firstDamaged) throw bad(firstDamaged->Damage);
    ShareFrames(directory.Entries, fileSize, fileName);
    directory.Type = uint16_t(Le16(&file[2]));
    return directory;
}

std::vector<uint8_t> BitmapFrameFile(const TIconEntry& entry, std::span<const uint8_t> file) {
    const TIconFrameInfo& f = entry.Info;
    const size_t bytes = size_t(entry.Size) - size_t(f.MaskSize);
    std::vector<uint8_t> bmp(14 + bytes);
    bmp[0] = 'B';
    bmp[1] = 'M';
    // A 32-bit frame keeps its AND mask in the frame file (the writer puts it back from there);
    // the file header's size ends the pixels before it, so the mask is not taken for more rows.
    const uint64_t mask = f.Bits == 32 ? (uint64_t(f.Width) + 31) / 32 * 4 * uint64_t(f.Height) : 0;
    SetLe32(&bmp[2], uint32_t(14 + bytes - std::min<uint64_t>(mask, bytes)));
    SetLe32(&bmp[10], uint32_t(14 + f.PixelOffset));
    std::memcpy(&bmp[14], &file[size_t(entry.Offset)], bytes);
    SetLe32(&bmp[14 + 8], uint32_t(f.Height));
    return bmp;
}

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
    // Every frame is checked before any frame file is written.
    const TIconDirectory directory = ReadIconDirectory(file, fileName);
    frames_ = WriteFrameFiles(file, directory);
    type_ = directory.Type;
}

std::vector<TIconFrames> TIconFile::WriteFrameFiles(std::span<const uint8_t> file, const TIconDirectory& directory) {
    std::vector<TIconFrames> frames;
    try {
        for (uint32_t k = 0; k < directory.Entries.size(); ++k) {
            const TIconEntry& entry = directory.Entries[k];
            TIconFrames f;
            f.Entry = entry.Entry;
            if (!entry.Damage.empty()) {
                // Listed as its entry describes it, so that the user sees which frame it is.
                f.Damage = entry.Damage;
                f.IsPng = entry.Size >= 4 && entry.Offset + 4 <= file.size() &&
                          std::memcmp(&file[size_t(entry.Offset)], kPngSignature, 4) == 0;
                f.Width = entry.Entry[0] == 0 ? 256 : entry.Entry[0];
                f.Height = entry.Entry[1] == 0 ? 256 : entry.Entry[1];
                f.Bits = entry.Entry[6];
                frames.push_back(f);
                continue;
            }
            f.IsPng = entry.Info.IsPng;
            f.Width = entry.Info.Width;
            f.Height = entry.Info.Height;
            f.Bits = entry.Info.Bits;
            f.MaskSize = entry.Info.MaskSize;
            // The index keeps frames of equal size and depth apart.
            const std::string base = std::to_string(f.Width) + "x" + std::to_string(f.Height) + "x" +
                                     std::to_string(f.Bits) + "-" + std::to_string(k + 1);
            f.EditedFile = folder_ + "o" + base + ".png";  // each entry has an edited file of its own
            if (entry.SharesWith != k) {
                f.FrameFile = frames[entry.SharesWith].FrameFile;
                f.MaskFile = frames[entry.SharesWith].MaskFile;
                frames.push_back(f);
                continue;
            }
            const std::string name = folder_ + base + (f.IsPng ? ".png" : ".bmp");
            // Listed before writing, so a failure removes what was written.
            frames.push_back(f);
            frames.back().FrameFile = name;
            if (f.IsPng) {
                WriteFileBytes(name, file.subspan(size_t(entry.Offset), size_t(entry.Size)));
                continue;
            }
            WriteFileBytes(name, BitmapFrameFile(entry, file));
            if (f.MaskSize != 0) {
                // The image reader pairs x.bmp with maskx.dat in the same folder.
                frames.back().MaskFile = folder_ + "mask" + base + ".dat";
                WriteFileBytes(frames.back().MaskFile,
                               file.subspan(size_t(entry.Offset + entry.Size) - size_t(f.MaskSize), size_t(f.MaskSize)));
            }
        }
    } catch (...) {
        frames_ = std::move(frames);
        DeleteFrameFiles();
        throw;
    }
    return frames;
}

std::string IconSaveName(const std::string& fileName, int32_t filterIndex) {
    if (filterIndex != 1 && filterIndex != 2) throw FileIoError("Unknown icon format " + std::to_string(filterIndex) + ".");
    std::filesystem::path p(fileName);
    p.replace_extension(filterIndex == 1 ? ".ico" : ".cur");
    return p.string();
}

namespace {

// One image in the written icon; every entry listed with the same source points at it.
struct TWrittenFrame {
    int32_t Index = 0;   // the first frame listed with these bytes
    std::string Source;  // the PNG file, or the BMP frame file
    std::string Mask;    // bitmap frames with a mask
    bool Bitmap = false;
    uint64_t Size = 0;   // bytes in the icon
    uint64_t Offset = 0;
};

uint64_t SizeOfFile(const std::string& path) {
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) throw FileIoError("Cannot open " + path + ": " + ec.message());
    return size;
}

std::vector<uint8_t> ReadHead(const std::string& path, size_t bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw FileIoError("Cannot open " + path + ": " + std::strerror(errno));
    std::vector<uint8_t> head(bytes);
    in.read(reinterpret_cast<char*>(head.data()), std::streamsize(bytes));
    head.resize(size_t(in.gcount()));
    return head;
}

// The frame's size in the icon and its first bytes as they will be written, from the files'
// sizes and heads alone.
TWrittenFrame PlanFrame(const TIconFrames& f, int32_t index, std::vector<uint8_t>& head) {
    TWrittenFrame w;
    w.Index = index;
    w.Bitmap = !f.IsPng && !f.Edited;
    w.Source = f.Edited ? f.EditedFile : f.FrameFile;
    const uint64_t bytes = SizeOfFile(w.Source);
    if (!w.Bitmap) {
        w.Size = bytes;
        head = ReadHead(w.Source, kIconFrameHead);
        return w;
    }
    head = ReadHead(w.Source, 14 + kIconFrameHead);
    if (bytes < 14 + 40 || head.size() < 14 + 40) throw FileIoError("The frame file \"" + f.FrameFile + "\" is cut short.");
    head.erase(head.begin(), head.begin() + 14);
    SetLe32(&head[8], uint32_t(f.Height) * 2);
    w.Size = bytes - 14;
    if (f.MaskSize != 0) {
        w.Mask = f.MaskFile;
        // The reader takes the frame's last MaskSize bytes as its mask, whatever this file holds.
        if (SizeOfFile(w.Mask) != uint64_t(f.MaskSize))
            throw FileIoError("The mask file \"" + w.Mask + "\" does not fit its frame.");
        w.Size += uint64_t(f.MaskSize);
    }
    return w;
}

void PutFrame(std::ostream& out, const TWrittenFrame& w, const TIconFrames& f, const std::string& destination) {
    std::vector<uint8_t> data = ReadFileBytes(w.Source);
    size_t from = 0;
    if (w.Bitmap) {
        if (data.size() < 14 + 40) throw FileIoError("The frame file \"" + w.Source + "\" is cut short.");
        from = 14;
        SetLe32(&data[14 + 8], uint32_t(f.Height) * 2);
    }
    uint64_t written = data.size() - from;
    out.write(reinterpret_cast<const char*>(data.data() + from), std::streamsize(data.size() - from));
    if (!w.Mask.empty()) {
        data = ReadFileBytes(w.Mask);
        written += data.size();
        out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    }
    // The directory already holds the planned size.
    if (written != w.Size) throw FileIoError("The frame file \"" + w.Source + "\" changed while the icon was written.");
    if (!out) throw FileIoError("Cannot write \"" + destination + "\"");
}

}  // namespace

std::string TIconFile::WriteIconFile(const std::string& fileName, int32_t filterIndex,
                                     const std::vector<int32_t>& order) {
    const std::string name = IconSaveName(fileName, filterIndex);
    if (order.size() > 65535) throw FileIoError("An icon file holds at most 65535 frames.");
    for (int32_t index : order) {
        if (index < 0 || size_t(index) >= frames_.size()) throw FileIoError("No frame " + std::to_string(index) + ".");
        if (const std::string& damage = frames_[size_t(index)].Damage; !damage.empty())
            throw FileIoError("The icon was not saved: " + damage);
    }

    // Sizes and checks first, from the files' sizes and heads: nothing is held but the directory.
    std::vector<TWrittenFrame> written;
    std::vector<size_t> slot(order.size());
    std::map<std::string, size_t> bySource;
    for (size_t i = 0; i < order.size(); ++i) {
        const TIconFrames& f = frames_[size_t(order[i])];
        const auto [it, added] = bySource.emplace(f.Edited ? f.EditedFile : f.FrameFile, written.size());
        slot[i] = it->second;
        if (!added) continue;
        std::vector<uint8_t> head;
        written.push_back(PlanFrame(f, order[i], head));
        TIconFrameInfo info;
        const std::string why = CheckIconFrame(head, written.back().Size, f.Entry[6], info);
        if (!why.empty()) throw FileIoError("The icon was not saved: frame " + std::to_string(i + 1) + why);
    }
    uint64_t offset = 6 + 16 * uint64_t(order.size());
    for (TWrittenFrame& w : written) {
        w.Offset = offset;
        offset += w.Size;
    }
    if (offset > kMaxIconBytes)
        throw FileIoError("The icon was not saved: at " + std::to_string(offset) +
                          " bytes it would pass 2 GB, the largest icon file that opens.");

    std::vector<uint8_t> directory(6 + 16 * order.size());
    SetLe16(&directory[2], uint32_t(filterIndex));
    SetLe16(&directory[4], uint32_t(order.size()));
    for (size_t i = 0; i < order.size(); ++i) {
        uint8_t* e = &directory[6 + 16 * i];
        std::memcpy(e, frames_[size_t(order[i])].Entry.data(), 16);
        SetLe32(e + 8, uint32_t(written[slot[i]].Size));
        SetLe32(e + 12, uint32_t(written[slot[i]].Offset));
    }
    ReplaceFileWithStream(name, [&](std::ostream& out) {
        out.write(reinterpret_cast<const char*>(directory.data()), std::streamsize(directory.size()));
        for (const TWrittenFrame& w : written) PutFrame(out, w, frames_[size_t(w.Index)], name);
    });
    Modified = false;
    return name;
}

TSaveResult TIconFile::SaveEditedFrame(EngineState& state, int32_t index, TSaveRequest request) {
    TIconFrames& f = frames_.at(size_t(index));
    // The window cannot hold a damaged frame: what it holds belongs to another one.
    if (!f.Damage.empty()) throw FileIoError("The frame was not saved: " + f.Damage);
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
        if (!f.Damage.empty()) continue;
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
