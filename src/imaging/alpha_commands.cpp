#include "imaging/alpha_commands.h"

#include <algorithm>
#include <cmath>

#include "imaging/color_pick.h"
#include "imaging/color_tree.h"
#include "imaging/edge_map.h"
#include "imaging/quantize.h"

namespace jx {
namespace {


template <class A, class B>
bool Congruent(const A& a, const B& b) {
    return a.Width() == b.Width() && a.Height() == b.Height();
}

bool AllGrey(const TPixelImage& image) {
    const TPixelRec* px = image.Data();
    for (int64_t i = 0, n = image.Count(); i < n; ++i)
        if (px[i].R != px[i].G || px[i].R != px[i].B) return false;
    return true;
}

const std::array<uint8_t, 256>& LiftTable() {
    static const std::array<uint8_t, 256> table = [] {
        std::array<uint8_t, 256> t{};
        for (int c = 0; c < 256; ++c)
            t[static_cast<size_t>(c)] = ClampByte(RoundEven(std::pow(c / 255.0, 5.0 / 7.0) * 255.0));
        return t;
    }();
    return table;
}

constexpr std::array<TGridPreset, kGridPresetCount> kGridPresets = {{
    {"Light", {255, 255, 255}, {204, 204, 204}},
    {"Medium", {153, 153, 153}, {102, 102, 102}},
    {"Dark", {51, 51, 51}, {102, 102, 102}},
    {"Red", {255, 255, 255}, {255, 204, 204}},
    {"Orange", {255, 255, 255}, {255, 216, 189}},
    {"Green", {255, 255, 255}, {204, 228, 204}},
    {"Blue", {255, 255, 255}, {204, 224, 248}},
    {"Purple", {255, 255, 255}, {220, 204, 248}},
}};

}  // namespace

void FlattenOverWhite(TPixelImage& image) {
    TPixelRec* px = image.Data();
    for (int64_t i = 0, n = image.Count(); i < n; ++i) {
        TPixelRec& p = px[i];
        p.R = BlendOver(p.R, p.A, 255);
        p.G = BlendOver(p.G, p.A, 255);
        p.B = BlendOver(p.B, p.A, 255);
    }
}

void ColorToAlphaPixel(TPixelRec& p) {
    const int32_t a = std::max({255 - p.R, 255 - p.G, 255 - p.B});
    if (a == 0) {
        p.R = p.G = p.B = p.A = 0;
        return;
    }
    auto channel = [a](uint8_t c) { return ClampByte(RoundEven(255.0 / a * (c - 255) + 255.0)); };
    p.R = channel(p.R);
    p.G = channel(p.G);
    p.B = channel(p.B);
    p.A = static_cast<uint8_t>(a);
}

void ImageToAlphaPixel(TPixelRec& p, bool grey, ColorConverterFn converter) {
    uint8_t light;
    if (grey) {
        light = p.R;
    } else {
        // The lightness of the colour as it stands now, not a value left from before it changed.
        TPixelRec q = p;
        q.A = 255;
        converter(q, false, q);
        light = q.c1;
    }
    p.R = p.G = p.B = 0;
    p.A = static_cast<uint8_t>(255 - light);
}

void AlphaCommandImage(EngineState& state, TAlphaMode mode) {
    if (!state.HasImage()) return;
    TPixelImage& image = state.SourceImage;
    if (state.HasAlpha) FlattenOverWhite(image);
    TPixelRec* px = image.Data();
    const int64_t n = image.Count();
    if (mode == TAlphaMode::ImageToAlpha) {
        const bool grey = AllGrey(image);
        for (int64_t i = 0; i < n; ++i) ImageToAlphaPixel(px[i], grey, state.ColorConverter);
    } else {
        for (int64_t i = 0; i < n; ++i) ColorToAlphaPixel(px[i]);
    }
    state.HasAlpha = true;
    RefreshSourceColors(state);
}

void FakeColorImage(EngineState& state, TFakeColor tag) {
    if (!state.HasImage()) return;
    const auto& lift = LiftTable();
    for (int32_t y = 0; y < state.ImageHeight(); ++y) {
        const bool odd = (y & 1) != 0;
        TPixelRec* row = state.SourceImage[y];
        for (int32_t x = 0; x < state.ImageWidth(); ++x) {
            TPixelRec& p = row[x];
            const uint8_t r = lift[p.R], g = lift[p.G], b = lift[p.B];
            switch (tag) {
                case TFakeColor::RplusGB:
                    p.R = odd ? 0 : r;
                    p.G = odd ? 0 : g;
                    p.B = odd ? b : 0;
                    break;
                case TFakeColor::GplusRB:
                    p.R = odd ? 0 : r;
                    p.G = odd ? g : 0;
                    p.B = odd ? 0 : b;
                    break;
                case TFakeColor::BplusRG:
                    p.R = odd ? r : 0;
                    p.G = odd ? 0 : g;
                    p.B = odd ? 0 : b;
                    break;
            }
        }
    }
    RefreshSourceColors(state);
}

void GrayscaleImage(EngineState& state) {
    if (!state.HasImage()) return;
    TPixelRec* px = state.SourceImage.Data();
    for (int64_t i = 0, n = state.SourceImage.Count(); i < n; ++i) {
        TPixelRec q = px[i];
        ConvertLab(q, false, q);
        px[i].R = px[i].G = px[i].B = q.c1;
    }
    RefreshSourceColors(state);
}

void RefreshSourceColors(EngineState& state) {
    state.HiddenColors.reset();
    TPixelRec* px = state.SourceImage.Data();
    for (int64_t i = 0, n = state.SourceImage.Count(); i < n; ++i) {
        if (px[i].A == 0)
            ClearPixel(state, px[i]);
        else
            state.Convert(px[i]);
    }
    if (!Congruent(state.QualityMask, state.SourceImage))
        state.QualityMask.Resize(state.ImageWidth(), state.ImageHeight(), 0);
    BuildEdgeMap(state);
    BuildUniqueColors(state);
}

void QuantizeTrueColor(EngineState& state, TQuantizerSettings settings, EngineObserver& observer) {
    settings.ColorCount = "TrueColor";
    observer.ShowColorCount(settings.ColorCount);
    Quantize(state, settings, observer);
    state.PaletteSize = -1;
}

void ChooseBackgroundColor(EngineState& state, uint8_t r, uint8_t g, uint8_t b) {
    state.BackgroundMode = TBackgroundMode::Color;
    state.BackgroundColor = (int32_t{b} << 16) | (int32_t{g} << 8) | r;
}

void ChooseBackgroundGrid(EngineState& state) { state.BackgroundMode = TBackgroundMode::Grid; }

bool ChooseBackgroundPicture(EngineState& state, TPixelImage picture) {
    if (picture.Empty()) {
        state.BackgroundPicture.Clear();
        state.BackgroundMode = TBackgroundMode::Grid;
        return false;
    }
    TPixelRec* px = picture.Data();
    for (int64_t i = 0, n = picture.Count(); i < n; ++i) {
        const TPixelRec src = px[i];
        px[i] = TPixelRec{};
        px[i].R = src.R;
        px[i].G = src.G;
        px[i].B = src.B;
        px[i].A = 255;
    }
    state.BackgroundPicture = std::move(picture);
    state.BackgroundMode = TBackgroundMode::Picture;
    return true;
}

int32_t GridCellSizeFor(int32_t index) { return 4 << std::clamp(index, 0, kGridSizeCount - 1); }

const std::array<TGridPreset, kGridPresetCount>& GridPresets() { return kGridPresets; }

void ApplyGridPreset(EngineState& state, int32_t index) {
    if (index < 0 || index >= kGridPresetCount) return;
    const TGridPreset& p = kGridPresets[static_cast<size_t>(index)];
    const TRgbBytes* colors[2] = {&p.First, &p.Second};
    for (size_t i = 0; i < 2; ++i) {
        state.GridColors[i].R = colors[i]->R;
        state.GridColors[i].G = colors[i]->G;
        state.GridColors[i].B = colors[i]->B;
    }
}

bool HasPartialAlpha(const TPixelImage& image) {
    const TPixelRec* px = image.Data();
    for (int64_t i = 0, n = image.Count(); i < n; ++i)
        if (px[i].A != 0 && px[i].A != 255) return true;
    return false;
}

bool CanSplitByAlpha(const EngineState& state, bool splitExists) {
    return state.HasImage() && state.HasAlpha && !splitExists && HasPartialAlpha(state.SourceImage);
}

TAlphaSplit SplitByAlpha(const TPixelImage& image) {
    TAlphaSplit s;
    s.Opaque.Resize(image.Width(), image.Height());
    s.Translucent.Resize(image.Width(), image.Height());
    const TPixelRec* src = image.Data();
    TPixelRec* opaque = s.Opaque.Data();
    TPixelRec* translucent = s.Translucent.Data();
    for (int64_t i = 0, n = image.Count(); i < n; ++i) {
        if (src[i].A == 255)
            opaque[i] = src[i];
        else
            translucent[i] = src[i];
    }
    return s;
}

const std::array<const char*, 3>& TSplitView::TabCaptions() {
    static const std::array<const char*, 3> captions = {"Original", "Opaque", "Translucent"};
    return captions;
}

const std::array<const char*, 3>& TSplitView::FileNames() {
    static const std::array<const char*, 3> names = {"Original.bmp", "Opaque.bmp", "Translucent.bmp"};
    return names;
}

void TSplitView::Split(const EngineState& state) {
    TAlphaSplit parts = SplitByAlpha(state.SourceImage);
    images_[kOriginal] = state.SourceImage;
    images_[kOpaque] = std::move(parts.Opaque);
    images_[kTranslucent] = std::move(parts.Translucent);
    masks_[kOriginal] = state.QualityMask;
    masks_[kOpaque] = masks_[kTranslucent] = TByteImage{};
    hasAlpha_.fill(true);
    current_ = kOriginal;
    active_ = true;
}

bool TSplitView::Select(EngineState& state, int32_t index) {
    if (!active_ || index < 0 || index > 2 || index == current_) return false;
    const auto cur = static_cast<size_t>(current_), next = static_cast<size_t>(index);
    images_[cur] = state.SourceImage;
    masks_[cur] = state.QualityMask;
    hasAlpha_[cur] = state.HasAlpha;
    state.HasAlpha = hasAlpha_[next];
    state.SetSourceImage(images_[next]);
    if (Congruent(masks_[next], state.SourceImage)) state.QualityMask = masks_[next];
    BuildUniqueColors(state);
    current_ = index;
    return true;
}

void TSplitView::Reset() {
    for (auto& i : images_) i.Clear();
    for (auto& m : masks_) m.Clear();
    current_ = kOriginal;
    active_ = false;
}

}  // namespace jx
