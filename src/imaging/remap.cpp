#include "imaging/remap.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "imaging/bayer.h"
#include "imaging/color_tree.h"
#include "imaging/errors.h"
#include "imaging/remap_pass.h"
#include "imaging/sort.h"

namespace jx {

const std::array<TDiffusionKernel, 7>& DiffusionKernels() {
    static const std::array<TDiffusionKernel, 7> kernels = {{
        {1, {}},
        {16, {{1, 0, 8}, {-3, 1, 1}, {-2, 1, 1}, {-1, 1, 2}, {0, 1, 4}}},
        {16, {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}}},
        {48, {{1, 0, 7}, {2, 0, 5}, {-2, 1, 3}, {-1, 1, 5}, {0, 1, 7}, {1, 1, 5}, {2, 1, 3}, {-2, 2, 1},
              {-1, 2, 3}, {0, 2, 5}, {1, 2, 3}, {2, 2, 1}}},
        {32, {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2}}},
        {8, {{1, 0, 1}, {2, 0, 1}, {-1, 1, 1}, {0, 1, 1}, {1, 1, 1}, {0, 2, 1}}},
        {200, {{2, 0, 32}, {-3, 1, 12}, {-1, 1, 26}, {1, 1, 30}, {3, 1, 16}, {-2, 2, 12}, {0, 2, 26},
               {2, 2, 12}, {-3, 3, 5}, {-1, 3, 12}, {1, 3, 12}, {3, 3, 5}}},
    }};
    return kernels;
}

namespace {

// One kernel entry prepared for a pass: round(e * f) for the lightness and alpha error and
// round(e * d * f) for the chroma error, tabulated over every error -255..255.
struct TDiffusionTap {
    int32_t dx, dy;
    std::array<int16_t, 511> full;
    std::array<int16_t, 511> chroma;
};

std::vector<TDiffusionTap> PrepareTaps(int32_t method, float amount, bool delicate) {
    const TDiffusionKernel& kernel = DiffusionKernels()[static_cast<size_t>(method)];
    std::vector<TDiffusionTap> taps;
    const double d = delicate ? 0.5 : 1.0;
    for (const TDiffusionKernelEntry& e : kernel.entries) {
        TDiffusionTap t{};
        t.dx = e.dx;
        t.dy = e.dy;
        const float f = static_cast<float>(static_cast<double>(e.k) / kernel.divisor * amount);
        for (int err = -255; err <= 255; ++err) {
            t.full[static_cast<size_t>(err + 255)] = static_cast<int16_t>(std::nearbyint(err * double(f)));
            t.chroma[static_cast<size_t>(err + 255)] = static_cast<int16_t>(std::nearbyint(err * d * double(f)));
        }
        taps.push_back(t);
    }
    return taps;
}

constexpr int64_t kOpaqueTablePixels = int64_t{1} << 18;

struct TRegion {
    int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    bool Empty() const { return x1 <= x0 || y1 <= y0; }
};

void CheckInput(const EngineState& state, const TQuantizerSettings& settings) {
    const int32_t mode = static_cast<int32_t>(settings.DitherMode);
    if (mode < 0 || mode > 8) throw ImagingError("Unknown dithering method " + std::to_string(mode));
    if (settings.PatternSize < 0 || settings.PatternSize >= kBayerMatrixCount)
        throw ImagingError("Unknown pattern size " + std::to_string(settings.PatternSize));
    if (state.PaletteSize < 1 || !state.HasImage()) return;
    if (!state.WorkingImage.SameShape(state.SourceImage))
        throw ImagingError("The working image does not have the size of the image");
    if ((state.EdgeMap.Width() != state.ImageWidth() || state.EdgeMap.Height() != state.ImageHeight()))
        throw ImagingError("The edge map does not have the size of the image");
    if (!(state.DitherAmount >= 0.0f && state.DitherAmount <= 1.0f))
        throw ImagingError("Dither amount outside 0..1");
}

// The working row y of the region, fresh from the source.
void CopySourceRow(EngineState& state, const TRegion& region, int32_t y) {
    const TPixelRec* src = state.SourceImage[y];
    TPixelRec* dst = state.WorkingImage[y];
    std::memcpy(dst + region.x0, src + region.x0, static_cast<size_t>(region.x1 - region.x0) * sizeof(TPixelRec));
    for (int32_t x = region.x0; x < region.x1; ++x)
        if (dst[x].A == 0) ClearPixel(state, dst[x]);
}

// The working components one tap moves: c1, c2, c3, and alpha when it counts.
struct TCarry {
    int32_t c1, c2, c3, A;
};

// Error diffusion over the region. The error stays inside it: in the quick-add window nothing
// outside may change, so the saved image equals what the window shows. Every neighbour takes
// each contribution clamped, in the order of the pixels that send it. The pixels ahead in the
// row are carried in registers rather than written and read back, and the palette's use counts
// are kept apart until the end, for the same reason: a record read whole just after a narrow
// write into it stalls the processor.
template <bool kAlpha>
void DiffuseRegion(TRemapPass& pass, const TRegion& region, const std::vector<TDiffusionTap>& taps) {
    EngineState& state = pass.state;
    const int32_t maxC2 = state.ChromaMax[0], maxC3 = state.ChromaMax[1];
    int32_t minDx = 0, maxDx = 0, maxDy = 0, ahead = 0;
    for (const TDiffusionTap& t : taps) {
        minDx = std::min(minDx, t.dx);
        maxDx = std::max(maxDx, t.dx);
        maxDy = std::max(maxDy, t.dy);
        if (t.dy == 0) ahead = std::max(ahead, t.dx);
    }
    constexpr int32_t kMaxAhead = 3;
    if (ahead > kMaxAhead) throw ImagingError("Diffusion kernel reaches too far along the row");
    std::vector<const TDiffusionTap*> sameRow;
    std::vector<const TDiffusionTap*> later;
    for (const TDiffusionTap& t : taps) (t.dy == 0 ? sameRow : later).push_back(&t);
    std::vector<TPixelRec*> laterRow(later.size());
    std::vector<const TDiffusionTap*> rowTaps;
    std::vector<TPixelRec*> rowTarget;

    const TPixelRec* pal = state.Palette.data();
    std::vector<int32_t> uses(static_cast<size_t>(pass.paletteSize));
    for (size_t i = 0; i < uses.size(); ++i) uses[i] = pal[i].Weight;

    auto clampTo = [](int32_t v, int32_t hi) { return v < 0 ? 0 : (v > hi ? hi : v); };
    auto load = [](const TPixelRec& r) { return TCarry{r.c1, r.c2, r.c3, r.A}; };

    // A row is copied from the source just before the first tap can reach it, while its memory
    // is about to be used anyway.
    int32_t copied = region.y0;
    for (int32_t y = region.y0; y < region.y1; ++y) {
        for (; copied <= y + maxDy && copied < region.y1; ++copied) CopySourceRow(state, region, copied);
        TPixelRec* row = state.WorkingImage[y];
        // The taps whose row lies inside the region.
        rowTaps.clear();
        rowTarget.clear();
        for (const TDiffusionTap* t : later)
            if (y + t->dy < region.y1) {
                rowTaps.push_back(t);
                rowTarget.push_back(state.WorkingImage[y + t->dy]);
            }
        const size_t nTaps = rowTaps.size();
        // carry[k] is pixel x + k.
        TCarry carry[kMaxAhead + 1];
        for (int32_t k = 0; k <= ahead; ++k)
            if (region.x0 + k < region.x1) carry[k] = load(row[region.x0 + k]);
        for (int32_t x = region.x0; x < region.x1; ++x) {
            TPixelRec p = row[x];
            p.c1 = static_cast<uint8_t>(carry[0].c1);
            p.c2 = static_cast<uint8_t>(carry[0].c2);
            p.c3 = static_cast<uint8_t>(carry[0].c3);
            if (kAlpha) p.A = static_cast<uint8_t>(carry[0].A);
            for (int32_t k = 0; k < ahead; ++k) carry[k] = carry[k + 1];
            if (ahead > 0 && x + 1 + ahead < region.x1) carry[ahead] = load(row[x + 1 + ahead]);

            const int32_t index = static_cast<int32_t>(&pass.NearestEntry(p) - pal);
            TPixelRec q = pal[index];
            const int32_t w = AddWeight(uses[static_cast<size_t>(index)], 1);
            uses[static_cast<size_t>(index)] = w;
            q.Weight = w;
            row[x] = q;
            if (pass.Bypassed(x, y)) continue;
            const size_t e1 = static_cast<size_t>(p.c1 - q.c1 + 255);
            const size_t e2 = static_cast<size_t>(p.c2 - q.c2 + 255);
            const size_t e3 = static_cast<size_t>(p.c3 - q.c3 + 255);
            const size_t eA = static_cast<size_t>(p.A - q.A + 255);
            for (const TDiffusionTap* t : sameRow) {
                if (x + t->dx >= region.x1) continue;
                TCarry& nb = carry[t->dx - 1];
                nb.c1 = ClampByte(nb.c1 + t->full[e1]);
                nb.c2 = clampTo(nb.c2 + t->chroma[e2], maxC2);
                nb.c3 = clampTo(nb.c3 + t->chroma[e3], maxC3);
                if (kAlpha) nb.A = ClampByte(nb.A + t->full[eA]);
            }
            const bool inside = x + minDx >= region.x0 && x + maxDx < region.x1;
            for (size_t i = 0; i < nTaps; ++i) {
                const TDiffusionTap* t = rowTaps[i];
                const int32_t nx = x + t->dx;
                if (!inside && (nx < region.x0 || nx >= region.x1)) continue;
                TPixelRec& nb = rowTarget[i][nx];
                nb.c1 = ClampByte(nb.c1 + t->full[e1]);
                nb.c2 = static_cast<uint8_t>(clampTo(nb.c2 + t->chroma[e2], maxC2));
                nb.c3 = static_cast<uint8_t>(clampTo(nb.c3 + t->chroma[e3], maxC3));
                if (kAlpha) nb.A = ClampByte(nb.A + t->full[eA]);
            }
        }
    }
    for (size_t i = 0; i < uses.size(); ++i) state.Palette[i].Weight = uses[i];
}

void MapRegion(TRemapPass& pass, const TRegion& region) {
    EngineState& state = pass.state;
    const int32_t method = static_cast<int32_t>(pass.settings.DitherMode);
    for (int32_t y = region.y0; y < region.y1; ++y) {
        CopySourceRow(state, region, y);
        TPixelRec* row = state.WorkingImage[y];
        for (int32_t x = region.x0; x < region.x1; ++x) {
            const TPixelRec p = row[x];
            switch (method) {
                case 0:
                    row[x] = pass.Nearest(p, true);
                    break;
                case 7:
                    row[x] = PatternDitherPixel(pass, p, x, y);
                    break;
                case 8:
                    row[x] = BayerDitherPixel(pass, p, x, y);
                    break;
            }
        }
    }
}

}  // namespace

void ConvertImage(EngineState& state, const TQuantizerSettings& settings, EngineObserver& observer) {
    CheckInput(state, settings);
    BusyGuard busy(observer);
    const int32_t n = state.PaletteSize;
    if (n >= 1 && state.HasImage()) {
        if (state.Palette.size() < static_cast<size_t>(n)) {
            try {
                state.Palette.resize(static_cast<size_t>(n));
            } catch (const std::bad_alloc&) {
                throw ImagingError("Out of memory for a palette of " + std::to_string(n) + " colours");
            }
        }
        // Nearest-colour ties go to the lower index: the remap runs over the palette in build
        // order, so the view order never decides a pixel. After a build that is the order the
        // palette is in already.
        ArrangeByBuildOrder(state, n);
        for (int32_t i = 0; i < n; ++i) state.Palette[static_cast<size_t>(i)].Weight = 0;
        ColorTreeReset(state);

        TRegion region{0, state.ImageWidth(), 0, state.ImageHeight()};
        if (state.QuickAddPreview) {
            const int64_t x = state.QuickAddPointX, y = state.QuickAddPointY;
            region.x0 = static_cast<int32_t>(std::max<int64_t>(0, x - 32));
            region.x1 = static_cast<int32_t>(std::min<int64_t>(state.ImageWidth(), x + 32));
            region.y0 = static_cast<int32_t>(std::max<int64_t>(0, y - 32));
            region.y1 = static_cast<int32_t>(std::min<int64_t>(state.ImageHeight(), y + 32));
        }
        if (!region.Empty()) {
            TRemapPass pass(state, settings);
            pass.paletteSize = n;
            pass.search.Build(state.Palette.data(), n, state.LumaShift, state.HasAlpha);
            pass.side = 2 << settings.PatternSize;
            pass.cells = pass.side * pass.side;
            pass.candidates.resize(static_cast<size_t>(pass.cells));
            // A small image or the quick-add window meets too few colours to pay for the table.
            if (int64_t{region.x1 - region.x0} * (region.y1 - region.y0) >= kOpaqueTablePixels) pass.UseOpaqueTable();
            const int32_t method = static_cast<int32_t>(settings.DitherMode);
            if (method >= 1 && method <= 6) {
                const std::vector<TDiffusionTap> taps = PrepareTaps(method, state.DitherAmount, settings.Delicate);
                if (state.HasAlpha)
                    DiffuseRegion<true>(pass, region, taps);
                else
                    DiffuseRegion<false>(pass, region, taps);
            } else {
                MapRegion(pass, region);
            }
        }
    }
    observer.Refresh(TRefreshTarget::ErrorMetrics);
    observer.Refresh(TRefreshTarget::ImageView);
    if (state.PaletteSize >= 1) SortPalette(state, state.PaletteSize, state.PaletteSortType);
    observer.Refresh(TRefreshTarget::PaletteGrid);
}

}  // namespace jx
