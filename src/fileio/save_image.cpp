#include "fileio/save_image.h"

#include <gif_lib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <numeric>
#include <unordered_map>

#include "fileio/replace_file.h"
#include "fileio/targa_graphic.h"
#include "fileio/tool_bitmaps.h"
#include "imaging/color_tree.h"
#include "imaging/sort.h"
#include "platform/file_size.h"

namespace jx {
namespace {

const char* FormatWord(int32_t filter) {
    switch (filter) {
        case sfPng: return "png";
        case sfGif: return "gif";
        case sfBmp: return "bmp";
        case sfTga: return "tga";
        case sfWebp: return "webp";
        case sfJpg: return "jpg";
        default: return "";
    }
}

// giflib's text for its error code, with the system's reason when the file itself refused.
std::string GifMessage(int code, int systemError) {
    const char* text = GifErrorString(code);
    std::string out = text ? text : "the GIF library failed (code " + std::to_string(code) + ")";
    if ((code == E_GIF_ERR_WRITE_FAILED || code == E_GIF_ERR_CLOSE_FAILED || code == E_GIF_ERR_OPEN_FAILED) &&
        systemError != 0)
        out += std::string(": ") + std::strerror(systemError);
    return out;
}

// A save failure names the file and the format: "Cannot write "x.bmp" as BMP: <cause>".
std::string SaveFailureText(const std::string& path, const std::string& format, const std::string& message) {
    const std::string quoted = "\"" + path + "\"";
    const std::string plain = "Cannot write " + quoted + ": ";
    if (message.compare(0, plain.size(), plain) == 0)
        return "Cannot write " + quoted + " as " + format + ": " + message.substr(plain.size());
    if (message.find(quoted) != std::string::npos) return message;
    return "Cannot write " + quoted + " as " + format + ": " + message;
}

// Restores a value when the scope ends, also on an exception.
template <class F>
struct TAtExit {
    F f;
    ~TAtExit() { f(); }
};
template <class F>
TAtExit(F) -> TAtExit<F>;

// Renumbers the table by falling use and cuts it after the last used entry. The transparent entry
// counts as used so that the control extension always names an entry of the table.
void OptimizeColorTable(TGifFrame& f) {
    const size_t n = f.colors.size() / 3;
    if (n <= 1) return;
    std::vector<int64_t> use(n, 0);
    for (uint8_t p : f.pixels) ++use[p];
    if (f.transparent >= 0 && use[size_t(f.transparent)] == 0) use[size_t(f.transparent)] = 1;
    std::vector<uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return use[a] > use[b]; });
    bool same = true;
    for (size_t i = 0; i < n; ++i) same = same && order[i] == i;
    if (same) return;
    size_t kept = 0;
    while (kept < n && use[order[kept]] > 0) ++kept;
    std::vector<uint8_t> renumber(n, 0);
    std::vector<uint8_t> colors(kept * 3);
    for (size_t i = 0; i < kept; ++i) {
        renumber[order[i]] = uint8_t(i);
        std::copy_n(f.colors.begin() + std::ptrdiff_t(order[i] * 3), 3, colors.begin() + std::ptrdiff_t(i * 3));
    }
    for (uint8_t& p : f.pixels) p = renumber[p];
    if (f.transparent >= 0) f.transparent = renumber[size_t(f.transparent)];
    f.colors = std::move(colors);
}

// The library takes tables of 2, 4, ..., 256 entries only.
void PadColorTable(TGifFrame& f) {
    size_t n = f.colors.size() / 3, size = 2;
    while (size < n) size *= 2;
    f.colors.resize(size * 3, 0);
}

// Drops the border rows and columns that hold only the transparent index. False when nothing is left.
bool CropFrame(TGifFrame& f) {
    if (f.transparent < 0) return true;
    const uint8_t t = uint8_t(f.transparent);
    const int32_t w = f.width, h = f.height;
    auto at = [&](int32_t x, int32_t y) { return f.pixels[size_t(y) * size_t(w) + size_t(x)]; };
    int32_t top = 0, bottom = h - 1, left = 0, right = w - 1;
    auto rowClear = [&](int32_t y) {
        for (int32_t x = 0; x < w; ++x)
            if (at(x, y) != t) return false;
        return true;
    };
    while (top <= bottom && rowClear(top)) ++top;
    if (top > bottom) return false;
    while (rowClear(bottom)) --bottom;
    auto colClear = [&](int32_t x) {
        for (int32_t y = top; y <= bottom; ++y)
            if (at(x, y) != t) return false;
        return true;
    };
    while (colClear(left)) ++left;
    while (colClear(right)) --right;
    if (top == 0 && left == 0 && bottom == h - 1 && right == w - 1) return true;
    const int32_t nw = right - left + 1, nh = bottom - top + 1;
    std::vector<uint8_t> px(size_t(nw) * size_t(nh));
    for (int32_t y = 0; y < nh; ++y)
        for (int32_t x = 0; x < nw; ++x) px[size_t(y) * size_t(nw) + size_t(x)] = at(left + x, top + y);
    f.pixels = std::move(px);
    f.left += left;
    f.top += top;
    f.width = nw;
    f.height = nh;
    return true;
}

void PushColor(std::vector<uint8_t>& table, const TPixelRec& p) {
    table.push_back(p.R);
    table.push_back(p.G);
    table.push_back(p.B);
}

bool HasTranslucentEntry(const EngineState& state) {
    if (!state.HasAlpha) return false;
    for (int32_t i = 0; i < state.PaletteSize && i < int32_t(state.Palette.size()); ++i)
        if (state.Palette[size_t(i)].A != 255) return true;
    return false;
}

void PutLe16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void PutLe32(std::vector<uint8_t>& v, uint32_t x) {
    PutLe16(v, x & 0xFFFF);
    PutLe16(v, x >> 16);
}

void FillTrueColor(const EngineState& state, TBitmap& bitmap) {
    const int32_t w = state.ImageWidth(), h = state.ImageHeight();
    bitmap.SetPixelFormat(state.HasAlpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
    bitmap.SetSize(w, h);
    const int bytes = state.HasAlpha ? 4 : 3;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        const TPixelRec* src = state.WorkingImage[y];
        for (int32_t x = 0; x < w; ++x, row += bytes) {
            row[0] = src[x].B;
            row[1] = src[x].G;
            row[2] = src[x].R;
            if (bytes == 4) row[3] = src[x].A;
        }
    }
}

}  // namespace

std::string ForcedSaveName(const std::string& fileName, int32_t filterIndex) {
    const char* word = FormatWord(filterIndex);
    if (!*word) throw FileIoError("Unknown save format " + std::to_string(filterIndex) + ".");
    std::filesystem::path p(fileName);
    p.replace_extension(std::string(".") + word);
    return p.string();
}

int32_t MaxSaveSide(int32_t filterIndex) {
    switch (filterIndex) {
        case sfGif:
        case sfTga: return 65535;
        case sfWebp: return 16383;
        case sfJpg: return 65500;
        default: return std::numeric_limits<int32_t>::max();
    }
}

void BufferToBitmap(EngineState& state, TBitmap& bitmap, int32_t sortType) {
    if (state.PaletteSize > 0) {
        SortPalette(state, state.PaletteSize, sortType);
    }
    const int32_t n = state.PaletteSize;
    // An indexed file stores no alpha: any translucent entry takes the true-colour road.
    if (n >= 1 && n <= 256 && !HasTranslucentEntry(state)) {
        const TLogicalPalette lp = BuildHPalette(state);
        TPalette palette;
        palette.Entries.assign(lp.Entries.begin(), lp.Entries.begin() + n);
        const bool four = n <= 16;
        bitmap.FreeImage();
        bitmap.SetPixelFormat(four ? TPixelFormat::pf4bit : TPixelFormat::pf8bit);
        bitmap.SetSize(state.ImageWidth(), state.ImageHeight());
        bitmap.SetPalette(std::move(palette));
        for (int32_t y = 0; y < state.ImageHeight(); ++y) {
            uint8_t* row = bitmap.ScanLine(y);
            const TPixelRec* src = state.WorkingImage[y];
            for (int32_t x = 0; x < state.ImageWidth(); ++x) {
                const uint8_t i = uint8_t(NearestIndex(state, src[x]));
                if (four)
                    row[x / 2] |= (x & 1) ? i : uint8_t(i << 4);
                else
                    row[x] = i;
            }
        }
        return;
    }
    bitmap.FreeImage();
    FillTrueColor(state, bitmap);
}

std::vector<uint8_t> EncodeBmp(const TBitmap& bitmap) {
    const int bits = BitsPerPixel(bitmap.PixelFormat());
    if (bits != 4 && bits != 8 && bits != 24 && bits != 32)
        throw FileIoError("A BMP file is written at 4, 8, 24 or 32 bits per pixel.");
    const uint32_t colors = bits <= 8 ? uint32_t(bitmap.Palette().Entries.size()) : 0;
    const uint64_t stride = bitmap.Stride();
    const uint64_t pixelBytes = stride * uint64_t(bitmap.Height());
    const uint64_t offset = 14 + 40 + 4 * uint64_t(colors);
    if (offset + pixelBytes > 0x7FFFFFFF) throw FileIoError("The image is too large for a BMP file.");
    std::vector<uint8_t> v;
    v.reserve(size_t(offset + pixelBytes));
    v.push_back('B');
    v.push_back('M');
    PutLe32(v, uint32_t(offset + pixelBytes));
    PutLe32(v, 0);
    PutLe32(v, uint32_t(offset));
    PutLe32(v, 40);
    PutLe32(v, uint32_t(bitmap.Width()));
    PutLe32(v, uint32_t(bitmap.Height()));  // positive: bottom-up rows
    PutLe16(v, 1);
    PutLe16(v, uint32_t(bits));
    PutLe32(v, 0);  // BI_RGB
    PutLe32(v, uint32_t(pixelBytes));
    PutLe32(v, 2835);
    PutLe32(v, 2835);
    PutLe32(v, colors);
    PutLe32(v, 0);
    for (uint32_t i = 0; i < colors; ++i) {
        const TPaletteEntry& e = bitmap.Palette().Entries[i];
        v.push_back(e.Blue);
        v.push_back(e.Green);
        v.push_back(e.Red);
        v.push_back(0);
    }
    for (int y = bitmap.Height() - 1; y >= 0; --y) {
        const uint8_t* row = bitmap.ScanLine(y);
        v.insert(v.end(), row, row + stride);
    }
    return v;
}

void BuildGifFrames(EngineState& state, const std::function<void(const TGifFrame&)>& emit,
                    const std::function<void()>& pump) {
    const int32_t kept = state.PaletteSize;
    TAtExit restore{[&] { state.PaletteSize = kept; }};
    int32_t n = kept < 0 ? state.ColorListLength : kept;
    n = std::min<int32_t>(n, int32_t(state.Palette.size()));
    if (n <= 0) throw FileIoError("There are no colours to write.");
    state.PaletteSize = n;  // the nearest-colour search covers every colour written
    SortPalette(state, n, SortByColor);

    const int32_t w = state.ImageWidth(), h = state.ImageHeight();
    // A colour that is in the palette is its own nearest entry; only the others need the search,
    // which keeps a long true-colour list from a search per colour over the whole list.
    std::unordered_map<uint32_t, int32_t> exact;
    exact.reserve(size_t(n));
    for (int32_t i = 0; i < n; ++i) exact.emplace(PixelKey(state.Palette[size_t(i)]), i);
    std::vector<int32_t> nearest(size_t(w) * size_t(h));
    for (int32_t y = 0; y < h; ++y) {
        if (pump) pump();
        for (int32_t x = 0; x < w; ++x) {
            const TPixelRec& p = state.WorkingImage[y][x];
            const auto it = exact.find(PixelKey(p));
            nearest[size_t(y) * size_t(w) + size_t(x)] = it != exact.end() ? it->second : NearestIndex(state, p);
        }
    }
    const std::vector<TPixelRec>& pal = state.Palette;

    TGifFrame first;
    first.width = w;
    first.height = h;
    int32_t k = std::min(n, 256);
    if (state.HasAlpha) {
        --k;
        PushColor(first.colors, pal[0]);
        first.hasControl = true;
        first.transparent = 0;
    }
    for (int32_t i = 0; i < k; ++i) PushColor(first.colors, pal[size_t(i)]);
    const int32_t shift = state.HasAlpha ? 1 : 0;
    first.pixels.resize(nearest.size());
    for (size_t p = 0; p < nearest.size(); ++p) {
        const int32_t i = nearest[p];
        first.pixels[p] = pal[size_t(i)].A >= 128 && i < k ? uint8_t(i + shift) : 0;
    }
    if (first.colors.empty()) PushColor(first.colors, pal[0]);
    if (k > 0) {
        OptimizeColorTable(first);
        if (!CropFrame(first)) {  // nothing visible: one transparent pixel keeps the file valid
            first.width = first.height = 1;
            first.pixels.assign(1, uint8_t(first.transparent));
        }
    }
    PadColorTable(first);
    emit(first);
    first = TGifFrame{};

    // Each further frame lays 255 more colours over the first where its pixels are not transparent.
    for (int32_t off = k; off < n; off += 255) {
        if (pump) pump();
        TGifFrame f;
        f.width = w;
        f.height = h;
        PushColor(f.colors, pal[size_t(off)]);
        for (int32_t j = 0; j < 255; ++j) {
            if (off + j < n)
                PushColor(f.colors, pal[size_t(off + j)]);
            else
                PushColor(f.colors, TPixelRec{});
        }
        f.pixels.resize(nearest.size());
        for (size_t p = 0; p < nearest.size(); ++p) {
            const int32_t i = nearest[p];
            // Translucent pixels stay transparent in every frame, also when off is 0.
            f.pixels[p] = pal[size_t(i)].A >= 128 && i >= off && i <= off + 254 ? uint8_t(i - off + 1) : 0;
        }
        f.hasControl = true;
        f.transparent = 0;
        f.disposal = 1;
        f.delay = 2;
        OptimizeColorTable(f);
        if (!CropFrame(f)) continue;
        PadColorTable(f);
        emit(f);
    }
}

std::vector<TGifFrame> BuildGifFrames(EngineState& state) {
    std::vector<TGifFrame> frames;
    BuildGifFrames(state, [&](const TGifFrame& f) { frames.push_back(f); });
    return frames;
}

TGifWriter::TGifWriter(const std::string& path, int32_t width, int32_t height, const std::string& shownName)
    : path_(shownName.empty() ? path : shownName), width_(width), height_(height) {
    if (width < 1 || height < 1 || width > 65535 || height > 65535)
        throw FileIoError("A GIF image takes 1 to 65535 pixels a side.");
    int err = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &err);
    if (!gif) throw FileIoError("Cannot create GIF file \"" + path_ + "\": " + GifMessage(err, errno));
    gif_ = gif;
    EGifSetGifVersion(gif, true);
    if (EGifPutScreenDesc(gif, width, height, 8, 0, nullptr) == GIF_ERROR) Fail("screen");
}

TGifWriter::~TGifWriter() {
    if (gif_) {
        int err = 0;
        EGifCloseFile(static_cast<GifFileType*>(gif_), &err);
    }
}

void TGifWriter::Fail(const std::string& what) {
    const int systemError = errno;
    GifFileType* gif = static_cast<GifFileType*>(gif_);
    const int code = gif ? gif->Error : 0;
    int err = 0;
    if (gif) EGifCloseFile(gif, &err);
    gif_ = nullptr;
    throw FileIoError("Cannot write GIF file \"" + path_ + "\" (" + what + "): " + GifMessage(code, systemError));
}

void TGifWriter::Add(const TGifFrame& f) {
    GifFileType* gif = static_cast<GifFileType*>(gif_);
    if (!gif) throw FileIoError("The GIF file \"" + path_ + "\" is closed.");
    const int count = int(f.colors.size() / 3);
    if (count < 2 || count > 256 || (count & (count - 1)) != 0 || f.width < 1 || f.height < 1 || f.left < 0 ||
        f.top < 0 || f.left + f.width > width_ || f.top + f.height > height_ ||
        f.pixels.size() != size_t(f.width) * size_t(f.height) || f.transparent >= count)
        throw FileIoError("Internal error: a GIF frame does not fit its screen or table.");
    for (uint8_t p : f.pixels)
        if (p >= count) throw FileIoError("Internal error: a GIF pixel lies past its colour table.");
    if (f.hasControl) {
        GraphicsControlBlock gcb{};
        gcb.DisposalMode = f.disposal;
        gcb.UserInputFlag = false;
        gcb.DelayTime = f.delay;
        gcb.TransparentColor = f.transparent >= 0 ? f.transparent : NO_TRANSPARENT_COLOR;
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext) == GIF_ERROR) Fail("control extension");
    }
    ColorMapObject* map = GifMakeMapObject(count, reinterpret_cast<const GifColorType*>(f.colors.data()));
    if (!map) Fail("colour table");
    const int r = EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, false, map);
    GifFreeMapObject(map);
    if (r == GIF_ERROR) Fail("frame");
    for (int32_t y = 0; y < f.height; ++y) {
        GifPixelType* row = const_cast<GifPixelType*>(f.pixels.data() + size_t(y) * size_t(f.width));
        if (EGifPutLine(gif, row, f.width) == GIF_ERROR) Fail("pixels");
    }
}

void TGifWriter::Close() {
    GifFileType* gif = static_cast<GifFileType*>(gif_);
    if (!gif) return;
    gif_ = nullptr;
    int err = 0;
    errno = 0;
    if (EGifCloseFile(gif, &err) == GIF_ERROR)
        throw FileIoError("Cannot write GIF file \"" + path_ + "\": " + GifMessage(err, errno));
}

TSaveResult SaveImage(EngineState& state, const TSaveRequest& request) {
    TSaveResult result;
    if (!state.HasImage()) return result;
    if (request.png.cancel) request.png.cancel->Clear();
    const int32_t filter = request.filterIndex;
    result.path = ForcedSaveName(request.fileName, filter);
    const int32_t limit = MaxSaveSide(filter);
    if (state.ImageWidth() > limit || state.ImageHeight() > limit)
        throw FileIoError("The image is too large for " + std::string(FormatWord(filter)) + ": at most " +
                          std::to_string(limit) + " pixels a side.");

    // The writers re-sort the palette; the view keeps its own order.
    TAtExit resort{[&] {
        if (state.PaletteSize > 0) {
            SortPalette(state, state.PaletteSize, state.PaletteSortType);
        }
    }};
    const int32_t w = state.ImageWidth(), h = state.ImageHeight();
    std::string format = FormatWord(filter);
    for (char& c : format) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    try {
        CheckFileReplaceable(result.path);
        switch (filter) {
            case sfPng: {
                const std::filesystem::path p(result.path);
                std::string folder = p.parent_path().string();
                if (folder.empty()) folder = ".";
                result.png = WritePngOptimized(state.WorkingImage, state.HasAlpha, p.filename().string(), folder, request.png);
                result.status = result.png.status;
                result.infoLine = result.png.infoLine;
                return result;
            }
            case sfGif: {
                ReplaceFileWith(result.path, [&](const std::string& temp) {
                    TGifWriter gif(temp, w, h, result.path);
                    BuildGifFrames(state, [&](const TGifFrame& f) { gif.Add(f); }, request.pump);
                    gif.Close();
                });
                break;
            }
            case sfBmp: {
                TBitmap bitmap;
                BufferToBitmap(state, bitmap, SortByColorAlpha);
                ReplaceFileWithBytes(result.path, EncodeBmp(bitmap));
                break;
            }
            case sfTga: {
                TBitmap bitmap;
                BufferToBitmap(state, bitmap, SortByColorAlpha);
                TTargaGraphic tga;
                tga.Assign(bitmap);
                ReplaceFileWithStream(result.path, [&](std::ostream& out) { tga.SaveToStream(out); });
                break;
            }
            case sfWebp: {
                if (request.webpLossy) {
                    result.qualityDialog = true;
                    result.qualityDialogWebp = true;
                    return result;
                }
                TWEBPBitmap webp(request.png.sessionFolder);
                FillTrueColor(state, webp);
                webp.Lossless = 1;
                webp.Cancel = request.png.cancel;
                webp.Pump = request.png.pump;
                ReplaceFileWithStream(result.path, [&](std::ostream& out) { webp.SaveToStream(out); });
                break;
            }
            case sfJpg:
                result.qualityDialog = true;
                return result;
        }
    } catch (const FileIoError& e) {
        throw FileIoError(SaveFailureText(result.path, format == "JPG" ? "JPEG" : format == "WEBP" ? "WebP" : format,
                                          e.what()));
    }
    const int32_t size = FileSizeOf(result.path);
    const std::string word = FormatWord(filter);
    result.infoLine = word + ": " + std::to_string(size) + " bytes";
    result.status = "Write (" + word + "): " + std::to_string(size) + " bytes";
    return result;
}

}  // namespace jx
