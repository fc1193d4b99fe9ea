#include "edit/undo_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unordered_map>

#include "edit/commit.h"
#include "edit/errors.h"
#include "imaging/color_tree.h"
#include "imaging/quantize.h"
#include "imaging/remap.h"
#include "imaging/sort.h"
#include "platform/read_file.h"

namespace jx {
namespace {

const char* const kExtensions[] = {".pal", ".img", ".msk", ".prm", ".wrk"};

void WritePrivateFile(const std::string& path, const TBytes& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) throw EditError("Cannot create " + path + ": " + std::strerror(errno));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(path.c_str());
            throw EditError("Cannot write " + path + ": " + std::strerror(err));
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(path.c_str());
        throw EditError("Cannot write " + path + ": " + std::strerror(err));
    }
}

TBytes ReadWhole(const std::string& path) {
    TBytes b;
    if (ReadWholeFile(path, UINT64_MAX, b) != FileReadFailure::None)
        throw EditError("Cannot read the undo state " + path);
    return b;
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// The palette (records with their use counts, and its order map) and the working image as a
// state saved them; the palette then takes the view order chosen now. Without sameSpace the
// records' c1..c3 are made again by the current converter.
void PutShownState(EngineState& state, const std::vector<TPixelRec>& palette, const std::vector<int32_t>& order,
                   bool sameSpace, TPixelImage shown, EditObserver& observer) {
    const size_t n = palette.size();
    if (state.Palette.size() < n) ResizeChecked(state.Palette, static_cast<int64_t>(n));
    if (state.PaletteOrder.size() < n) state.PaletteOrder.resize(n);
    std::copy(order.begin(), order.end(), state.PaletteOrder.begin());
    std::unordered_map<uint32_t, TPixelRec> converted;
    for (size_t i = 0; i < n; ++i) {
        TPixelRec& e = state.Palette[i];
        e = palette[i];
        if (!sameSpace) state.Convert(e);
        TPixelRec p = e;
        p.Weight = 0;
        converted.emplace(PixelKey(p), p);
    }
    TPixelRec* px = shown.Data();
    uint32_t lastKey = 0;
    TPixelRec last{};
    bool haveLast = false;
    for (int64_t i = 0, count = shown.Count(); i < count; ++i) {
        const uint32_t key = PixelKey(px[i]);
        if (!haveLast || key != lastKey) {
            auto it = converted.find(key);
            if (it == converted.end()) {
                TPixelRec p = px[i];
                state.Convert(p);
                p.Weight = 0;
                it = converted.emplace(key, p).first;
            }
            last = it->second;
            lastKey = key;
            haveLast = true;
        }
        px[i] = last;
    }
    state.WorkingImage = std::move(shown);
    SortPalette(state, static_cast<int32_t>(n), state.PaletteSortType);
    ColorTreeReset(state);
    observer.Refresh(TRefreshTarget::ErrorMetrics);
    observer.Refresh(TRefreshTarget::ImageView);
    observer.Refresh(TRefreshTarget::PaletteGrid);
}

}  // namespace

TURClass::TURClass(std::string stateFolder, TFileWriter writer)
    : folder_(std::move(stateFolder)), writer_(writer ? std::move(writer) : TFileWriter(WritePrivateFile)) {}

TURClass::~TURClass() {
    ButtonsChanged = nullptr;  // whoever showed the buttons may be gone already
    Clear();
}

std::vector<std::string> TURClass::States() const {
    std::vector<std::string> out;
    for (const TState& s : states_) out.push_back(s.Base);
    return out;
}

std::string TURClass::NewBase() {
    // The tick count names a state, but two states of one command share a tick: the next free
    // value after the last one used keeps every name distinct.
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    uint32_t v = static_cast<uint32_t>(ms.count());
    if (static_cast<int32_t>(v - lastName_) <= 0) v = lastName_ + 1;
    for (;; ++v) {
        char name[9];
        std::snprintf(name, sizeof name, "%08X", v);
        const std::string base = folder_ + name;
        bool taken = false;
        for (const TState& s : states_) taken = taken || s.Base == base;
        for (const char* ext : kExtensions) taken = taken || Exists(base + ext);
        if (!taken) {
            lastName_ = v;
            return base;
        }
    }
}

void TURClass::DeleteFiles(const TState& s) {
    for (const char* ext : kExtensions) std::remove((s.Base + ext).c_str());
    bytes_ -= std::min(bytes_, s.Bytes);
    if (shownImage_ == s.Base) shownImage_.clear();
}

int32_t TURClass::Holder(int32_t index, bool TState::*part) const {
    if (index < 0 || index >= Count()) return -1;
    const TState& target = states_[static_cast<size_t>(index)];
    for (int32_t i = index; i >= 0; --i) {
        const TState& s = states_[static_cast<size_t>(i)];
        if (s.Width == target.Width && s.Height == target.Height && s.*part) return i;
    }
    return -1;
}

void TURClass::DropOldest() {
    // The next state may lean on the oldest one's parts: they move to it before the rest go.
    TState& first = states_[0];
    TState& next = states_[1];
    struct Part {
        bool TState::*flag;
        const char* ext;
    };
    for (const Part p : {Part{&TState::Image, ".img"}, Part{&TState::Mask, ".msk"}, Part{&TState::Palette, ".pal"}}) {
        if (first.*p.flag && !(next.*p.flag) && first.Width == next.Width && first.Height == next.Height) {
            std::error_code ec;
            const std::string from = first.Base + p.ext, to = next.Base + p.ext;
            const uint64_t size = std::filesystem::file_size(from, ec);
            if (ec) continue;
            std::filesystem::rename(from, to, ec);
            if (ec) continue;
            next.*p.flag = true;
            next.Bytes += size;
            first.Bytes -= std::min(first.Bytes, size);
            if (p.flag == &TState::Image) {
                if (shownImage_ == first.Base) shownImage_ = next.Base;
                next.Hidden = first.Hidden;
            }
        }
    }
    DeleteFiles(first);
    states_.erase(states_.begin());
    --current_;
}

void TURClass::SaveState(const EngineState& state) {
    if (state.BatchQuantize) return;
    if (folder_.empty()) {
        MaskChanged = ImageChanged = PaletteChanged = false;
        return;
    }
    TState s;
    s.Base = NewBase();
    s.Width = state.ImageWidth();
    s.Height = state.ImageHeight();
    s.HasAlpha = state.HasAlpha;
    s.PaletteType = state.PaletteType;
    if (s.PaletteType == TPaletteType::Custom) s.CustomPalette = state.LoadCustomPalette;
    std::vector<std::string> written;
    // Every file is written before the list changes, so a failure leaves the history as it was.
    try {
        auto write = [&](const char* ext, const TBytes& bytes) {
            const std::string path = s.Base + ext;
            written.push_back(path);  // removed on failure, also when the writer left part of it
            writer_(path, bytes);
            s.Bytes += bytes.size();
        };
        if (PaletteChanged && state.PaletteSize > 0) {
            write(".pal", EncodeStatePalette(state.Palette, state.PaletteSize));
            s.Palette = true;
        }
        if (MaskChanged) {
            write(".msk", EncodeStateMask(state.QualityMask));
            s.Mask = true;
        }
        if (ImageChanged) {
            write(".img", EncodeStateImage(state.SourceImage));
            s.Image = true;
        }
        const int32_t n = state.PaletteSize;
        if (n > 0 && static_cast<size_t>(n) <= state.Palette.size() && state.WorkingImage.SameShape(state.SourceImage) &&
            state.HasImage()) {
            write(".wrk", EncodeStateWorking(state.WorkingImage));
            s.ShownPalette.assign(state.Palette.begin(), state.Palette.begin() + n);
            s.ShownOrder.resize(static_cast<size_t>(n));
            for (int32_t i = 0; i < n; ++i)
                s.ShownOrder[static_cast<size_t>(i)] =
                    static_cast<size_t>(i) < state.PaletteOrder.size() ? state.PaletteOrder[static_cast<size_t>(i)] : i;
            s.Bytes += static_cast<uint64_t>(n) * (sizeof(TPixelRec) + sizeof(int32_t));
            s.Converter = state.ColorConverter;
            s.Background = state.AlphaBackground;
            s.Work = true;
        }
        if (s.Image && state.HiddenColors) {
            s.Hidden = state.HiddenColors;
            s.Bytes += s.Hidden->size() * sizeof(EngineState::THiddenPixel);
        }
        write(".prm", EncodeStateParams({state.PaletteSize, state.ColorListLength}));
    } catch (const std::exception& e) {
        for (const std::string& path : written) std::remove(path.c_str());
        throw EditError(std::string("The undo step was not saved: ") + e.what());
    }
    while (Count() > current_ + 1) {
        DeleteFiles(states_.back());
        states_.pop_back();
    }
    bytes_ += s.Bytes;
    if (s.Image) shownImage_ = s.Base;
    states_.push_back(std::move(s));
    current_ = Count() - 1;
    while (bytes_ > limit_ && Count() > 1 && current_ > 0) DropOldest();
    MaskChanged = ImageChanged = PaletteChanged = false;
    UpdateButtons();
}

void TURClass::LoadState(EngineState& state, const TQuantizerSettings& settings, EditObserver& observer) {
    if (current_ < 0 || current_ >= Count()) return;
    const TState& target = states_[static_cast<size_t>(current_)];
    const int32_t img = Holder(current_, &TState::Image);
    const int32_t msk = Holder(current_, &TState::Mask);
    const int32_t pal = Holder(current_, &TState::Palette);
    auto base = [&](int32_t i) { return states_[static_cast<size_t>(i)].Base; };

    // Everything is read and checked first: a damaged state changes nothing.
    const bool reloadImage = img >= 0 && !(base(img) == shownImage_ && state.ImageWidth() == target.Width &&
                                           state.ImageHeight() == target.Height);
    TPixelImage image;
    if (reloadImage) {
        image = DecodeStateImage(ReadWhole(base(img) + ".img"));
        if (image.Width() != target.Width || image.Height() != target.Height)
            throw EditError("Damaged undo state: image size");
    }
    const int32_t w = reloadImage ? image.Width() : state.ImageWidth();
    const int32_t h = reloadImage ? image.Height() : state.ImageHeight();
    TByteImage mask;
    if (msk >= 0) mask = DecodeStateMask(ReadWhole(base(msk) + ".msk"), w, h);
    std::vector<TPixelRec> palette;
    if (pal >= 0) palette = DecodeStatePalette(ReadWhole(base(pal) + ".pal"));
    const TStateParams params = DecodeStateParams(ReadWhole(target.Base + ".prm"));
    const bool exact = target.Work && params.PaletteSize > 0 &&
                       target.ShownPalette.size() == static_cast<size_t>(params.PaletteSize);
    TPixelImage shown;
    if (exact) {
        shown = DecodeStateWorking(ReadWhole(target.Base + ".wrk"));
        if (shown.Width() != w || shown.Height() != h) throw EditError("Damaged undo state: working image size");
    }

    // The flag as the state was saved: also a palette-only state may have changed it (a replace
    // by a translucent colour), so it is not taken from the state that holds the pixels.
    state.HasAlpha = target.HasAlpha;
    state.PaletteType = target.PaletteType;
    if (target.CustomPalette) state.LoadCustomPalette = target.CustomPalette;
    observer.PaletteTypeRestored(target.PaletteType);
    if (reloadImage) {
        PutSourceImage(state, std::move(image), observer);
        shownImage_ = base(img);
        RebuildImageDependants(state, observer);
        observer.ImageResized(w, h);
    }
    if (img >= 0) state.HiddenColors = states_[static_cast<size_t>(img)].Hidden;
    if (msk >= 0)
        state.QualityMask = std::move(mask);
    else
        state.QualityMask.Resize(w, h, 0);
    observer.MaskRestored(msk >= 0);

    if (pal >= 0) {
        const int32_t n = static_cast<int32_t>(palette.size());
        if (state.Palette.size() < palette.size()) ResizeChecked(state.Palette, n);
        for (TPixelRec& p : state.Palette) ClearPixel(state, p);
        for (int32_t i = 0; i < n; ++i) {
            TPixelRec p = palette[static_cast<size_t>(i)];
            state.Convert(p);
            p.Weight = 0;
            state.Palette[static_cast<size_t>(i)] = p;
        }
        if (state.PaletteOrder.size() < palette.size()) state.PaletteOrder.resize(palette.size());
        for (size_t i = 0; i < state.PaletteOrder.size(); ++i) state.PaletteOrder[i] = static_cast<int32_t>(i);
    }
    state.PaletteSize = params.PaletteSize;
    state.ColorListLength = params.ColorListLength;

    const std::string count = state.PaletteSize < 0 ? "TrueColor" : std::to_string(state.PaletteSize);
    observer.ShowColorCount(count);
    const bool paletteReady = pal >= 0 && state.PaletteSize > 0 &&
                              static_cast<size_t>(state.PaletteSize) <= palette.size();
    if (exact || paletteReady) {
        // No quantize runs to count them: the histogram and the grey test are the state's own.
        CountChannelHistograms(state, state.PaletteSize);
        observer.Refresh(TRefreshTarget::Histogram);
    }
    if (exact) {
        const TPixelRec& bg = state.AlphaBackground;
        const bool sameSpace = target.Converter == state.ColorConverter && target.Background.R == bg.R &&
                               target.Background.G == bg.G && target.Background.B == bg.B &&
                               target.Background.A == bg.A;
        PutShownState(state, target.ShownPalette, target.ShownOrder, sameSpace, std::move(shown), observer);
    } else if (paletteReady) {
        ConvertImage(state, settings, observer);
    } else {
        TQuantizerSettings s = settings;
        s.ColorCount = count;
        s.PaletteType = target.PaletteType;
        if (s.PaletteType == TPaletteType::Custom && !state.LoadCustomPalette) s.PaletteType = TPaletteType::Adaptive;
        Quantize(state, s, observer);
        state.ColorListLength = params.ColorListLength;
    }
}

bool TURClass::Undo(EngineState& state, const TQuantizerSettings& settings, EditObserver& observer) {
    if (!state.HasImage() || current_ <= 0) return false;
    --current_;
    try {
        LoadState(state, settings, observer);
    } catch (...) {
        ++current_;
        UpdateButtons();
        throw;
    }
    UpdateButtons();
    return true;
}

bool TURClass::Redo(EngineState& state, const TQuantizerSettings& settings, EditObserver& observer) {
    if (!state.HasImage() || current_ + 1 >= Count()) return false;
    ++current_;
    try {
        LoadState(state, settings, observer);
    } catch (...) {
        --current_;
        UpdateButtons();
        throw;
    }
    UpdateButtons();
    return true;
}

void TURClass::Clear() {
    for (const TState& s : states_) DeleteFiles(s);
    states_.clear();
    current_ = -1;
    bytes_ = 0;
    shownImage_.clear();
    UpdateButtons();
}

void TURClass::UpdateButtons() {
    if (ButtonsChanged) ButtonsChanged(current_ > 0, Count() > 1 && current_ < Count() - 1);
}

}  // namespace jx
