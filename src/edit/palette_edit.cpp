#include "edit/palette_edit.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "edit/commit.h"
#include "edit/errors.h"
#include "fileio/palette_file.h"
#include "imaging/color_tree.h"
#include "imaging/remap.h"
#include "imaging/sort.h"

namespace jx {
namespace {

size_t At(int32_t i) { return static_cast<size_t>(i); }

// The remap re-sorts the palette; the selection goes back onto its colour.
void RemapFollowing(TPaletteEditTarget& t) {
    ConvertImage(t.State, t.Settings, t.Observer);
    t.Selection.Follow(t.State);
}

void ShowCount(TPaletteEditTarget& t) { t.Observer.ShowColorCount(std::to_string(t.State.PaletteSize)); }

// Room for one more entry in the palette and its order map.
void GrowForOneMore(EngineState& s) {
    const size_t need = At(s.PaletteSize) + 1;
    try {
        if (s.Palette.size() < need) s.Palette.resize(need);
        if (s.PaletteOrder.size() < need) {
            const size_t from = s.PaletteOrder.size();
            s.PaletteOrder.resize(need);
            for (size_t i = from; i < need; ++i) s.PaletteOrder[i] = static_cast<int32_t>(i);
        }
    } catch (const std::bad_alloc&) {
        throw EditError("Out of memory for a palette of " + std::to_string(need) + " colours");
    }
}

// Appends c (c1..c3 already filled) as entry PaletteSize; a true-colour state starts a palette.
void AppendEntry(EngineState& s, const TPixelRec& c) {
    s.PaletteSize = std::max(s.PaletteSize, 0);
    GrowForOneMore(s);
    s.Palette[At(s.PaletteSize)] = c;
    s.PaletteOrder[At(s.PaletteSize)] = s.PaletteSize;
    ++s.PaletteSize;
}

// The order map of the kept entries back to 0..PaletteSize-1, their relative order kept: an
// entry added next (order PaletteSize) then comes after all of them, and no two entries share
// a place in the build order the remap works in.
void CompactOrder(EngineState& s) {
    const int32_t n = std::min<int32_t>(s.PaletteSize, static_cast<int32_t>(s.PaletteOrder.size()));
    if (n <= 0) return;
    std::vector<int32_t> byOrder(At(n));
    for (int32_t i = 0; i < n; ++i) byOrder[At(i)] = i;
    std::stable_sort(byOrder.begin(), byOrder.end(),
                     [&](int32_t a, int32_t b) { return s.PaletteOrder[At(a)] < s.PaletteOrder[At(b)]; });
    for (int32_t r = 0; r < n; ++r) s.PaletteOrder[At(byOrder[At(r)])] = r;
}

// Entries of weight 0 go behind the kept ones; removed of the first n are dropped.
void DropZeroWeights(EngineState& s, int32_t n, int32_t removed) {
    s.PaletteSize = n - removed;
    SortPalette(s, n, SortByWeight);
    CompactOrder(s);
}

void RequireImage(const EngineState& s) {
    if (!s.HasImage()) throw EditError("There is no image to edit");
}

}  // namespace

int32_t FindColorKey(const EngineState& state, uint32_t key) {
    const int32_t n = std::min<int32_t>(state.PaletteSize, static_cast<int32_t>(state.Palette.size()));
    for (int32_t i = 0; i < n; ++i)
        if (PixelKey(state.Palette[At(i)]) == key) return i;
    return -1;
}

int32_t PaletteCellAt(const EngineState& state, int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= kPaletteCell * kPaletteColumns) return -1;
    const int64_t index = int64_t{y / kPaletteCell} * kPaletteColumns + x / kPaletteCell;
    return index < state.PaletteSize ? static_cast<int32_t>(index) : -1;
}

bool TPaletteSelection::Select(const EngineState& state, int32_t index) {
    if (index < 0 || index >= state.PaletteSize || At(index) >= state.Palette.size()) return false;
    Index = index;
    Key = PixelKey(state.Palette[At(index)]);
    return true;
}

bool TPaletteSelection::SelectKey(const EngineState& state, uint32_t key) {
    const int32_t i = FindColorKey(state, key);
    if (i < 0) return false;
    Index = i;
    Key = key;
    return true;
}

bool TPaletteSelection::SelectAt(const EngineState& state, int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= state.ImageWidth() || y >= state.ImageHeight()) return false;
    if (!state.WorkingImage.SameShape(state.SourceImage)) return false;
    return SelectKey(state, PixelKey(state.WorkingImage[y][x]));
}

void TPaletteSelection::Follow(const EngineState& state) {
    const int32_t i = FindColorKey(state, Key);
    if (i >= 0) Index = i;
}

void PaletteEditColor(TPaletteEditTarget t, const std::optional<TPixelRec>& picked, bool replace) {
    EngineState& s = t.State;
    RequireImage(s);
    if (picked && replace) {
        if (!t.Selection.Valid(s) || At(t.Selection.Index) >= s.Palette.size())
            throw EditError("Select a palette color to replace first");
        TPixelRec c = *picked;
        if (!s.HasAlpha && c.A != 255) s.HasAlpha = true;
        s.Convert(c);
        TPixelRec& entry = s.Palette[At(t.Selection.Index)];
        const TPixelRec old = entry;
        c.Weight = old.Weight;
        // Exact colour, not distance 0: other entries may share the working-space components.
        for (TPixelRec& p : s.WorkingImage.Vector())
            if (SameRgba(p, old)) p = c;
        entry = c;
        t.Selection.Key = PixelKey(c);
        if (s.PaletteSize >= 1) SortPalette(s, s.PaletteSize, s.PaletteSortType);
        ColorTreeReset(s);
        t.Selection.Follow(s);
        t.Observer.Refresh(TRefreshTarget::PaletteGrid);
        t.Observer.Refresh(TRefreshTarget::ImageView);
    } else if (picked) {
        TPixelRec c = *picked;
        s.Convert(c);
        c.Weight = 0;
        AppendEntry(s, c);
        ShowCount(t);
        t.Selection.Key = PixelKey(c);
        t.Selection.Index = s.PaletteSize - 1;
        RemapFollowing(t);
    }
    t.Observer.Refresh(TRefreshTarget::SelectedColor);
    CommitPalette(s, t.Observer, t.Undo);
}

void DeletePaletteEntry(TPaletteEditTarget t) {
    EngineState& s = t.State;
    RequireImage(s);
    const int32_t n = std::min<int32_t>(s.PaletteSize, static_cast<int32_t>(s.Palette.size()));
    const int32_t i = t.Selection.Index;
    if (i < 0 || i >= n) throw EditError("Select a palette color to delete first");
    if (n == 1) throw EditError("The last palette color cannot be deleted");
    s.Palette.erase(s.Palette.begin() + i);
    s.Palette.push_back(TPixelRec{});  // the array keeps its length
    if (At(n) <= s.PaletteOrder.size()) {
        std::rotate(s.PaletteOrder.begin() + i, s.PaletteOrder.begin() + i + 1, s.PaletteOrder.begin() + n);
    }
    s.PaletteSize = n - 1;
    CompactOrder(s);
    ShowCount(t);
    t.Selection.Select(s, std::min(i, s.PaletteSize - 1));
    RemapFollowing(t);
    CommitPalette(s, t.Observer, t.Undo);
}

bool RemoveDuplicateColors(TPaletteEditTarget t) {
    EngineState& s = t.State;
    RequireImage(s);
    if (!RemovePaletteDuplicates(s)) return false;
    CompactOrder(s);
    ShowCount(t);
    RemapFollowing(t);
    CommitPalette(s, t.Observer, t.Undo);
    return true;
}

bool RemoveUnusedColors(TPaletteEditTarget t) {
    EngineState& s = t.State;
    RequireImage(s);
    const int32_t n = std::min<int32_t>(s.PaletteSize, static_cast<int32_t>(s.Palette.size()));
    if (n <= 0 || !s.WorkingImage.SameShape(s.SourceImage)) return false;
    const BusyGuard busy(t.Observer);

    // One pass over the output: which keys occur.
    std::unordered_map<uint32_t, bool> used;
    used.reserve(At(n) * 2);
    for (int32_t i = 0; i < n; ++i) used.emplace(PixelKey(s.Palette[At(i)]), false);
    uint32_t lastKey = 0;
    bool* lastSlot = nullptr;
    for (const TPixelRec& p : s.WorkingImage.Vector()) {
        const uint32_t key = PixelKey(p);
        if (lastSlot && key == lastKey) continue;  // runs of one colour are the common case
        const auto it = used.find(key);
        if (it == used.end()) continue;
        it->second = true;
        lastKey = key;
        lastSlot = &it->second;
    }
    int32_t removed = 0;
    for (int32_t i = 0; i < n; ++i) {
        TPixelRec& e = s.Palette[At(i)];
        const bool inUse = used[PixelKey(e)];
        e.Weight = inUse ? 1 : 0;
        removed += inUse ? 0 : 1;
    }
    if (removed == 0) return false;
    if (removed == n) throw EditError("No pixel uses the palette colors");
    DropZeroWeights(s, n, removed);
    ShowCount(t);
    RemapFollowing(t);
    CommitPalette(s, t.Observer, t.Undo);
    return true;
}

bool TogglePaletteAlpha(TPaletteEditTarget t, int32_t index) {
    EngineState& s = t.State;
    RequireImage(s);
    if (index < 0 || index >= s.PaletteSize || At(index) >= s.Palette.size()) return false;
    if (!s.WorkingImage.SameShape(s.SourceImage)) return false;
    TPixelRec& entry = s.Palette[At(index)];
    const TPixelRec old = entry;
    entry.A = entry.A == 255 ? 0 : 255;
    bool anyAlpha = false;
    for (int32_t i = 0; i < s.PaletteSize && At(i) < s.Palette.size(); ++i) anyAlpha |= s.Palette[At(i)].A != 255;
    s.HasAlpha = anyAlpha;
    s.Convert(entry);
    const TPixelRec now = entry;

    // Clearing a pixel loses its colour: the records from before go to HiddenColors, and a toggle
    // back to opaque takes them from there, so toggling twice changes no pixel.
    using THidden = EngineState::THiddenPixel;
    static const std::vector<THidden> kNone;
    const std::vector<THidden>& kept = s.HiddenColors ? *s.HiddenColors : kNone;
    std::vector<THidden> hidden;
    hidden.reserve(kept.size());
    size_t k = 0;
    TPixelRec* out = s.WorkingImage.Data();
    TPixelRec* src = s.SourceImage.Data();
    for (int64_t i = 0, count = s.WorkingImage.Count(); i < count; ++i) {
        while (k < kept.size() && kept[k].At < i) hidden.push_back(kept[k++]);
        const THidden* mine = k < kept.size() && kept[k].At == i ? &kept[k++] : nullptr;
        if (!SameRgba(out[i], old)) {
            if (mine) hidden.push_back(*mine);
            continue;
        }
        out[i] = now;
        TPixelRec& p = src[i];
        // A record holds only while its pixel is still the cleared one it left.
        const bool cleared = p.A == 0 && p.R == 0 && p.G == 0 && p.B == 0;
        if (mine && !cleared) mine = nullptr;
        if (now.A == 0) {
            hidden.push_back(mine ? *mine : THidden{i, p});
            p.R = p.G = p.B = p.A = 0;
            p.Weight = 0;
        } else if (mine) {
            p = mine->Was;
        } else {
            p.A = now.A;
        }
        s.Convert(p);
    }
    while (k < kept.size()) hidden.push_back(kept[k++]);
    if (hidden.empty())
        s.HiddenColors.reset();
    else
        s.HiddenColors = std::make_shared<const std::vector<THidden>>(std::move(hidden));
    ColorTreeReset(s);
    t.Selection.Select(s, index);
    t.Observer.Refresh(TRefreshTarget::PaletteGrid);
    t.Observer.Refresh(TRefreshTarget::ImageView);
    t.Observer.Refresh(TRefreshTarget::SelectedColor);
    // The source pixels changed too: the state holds both, so undo gives back their old alpha.
    t.Undo.ImageChanged = true;
    CommitPalette(s, t.Observer, t.Undo);
    return true;
}

int32_t PaletteSortTypeOf(const TPaletteSortChoice& choice, bool hasAlpha) {
    const int32_t method = std::clamp<int32_t>(choice.Method, 0, 2);
    if (hasAlpha && choice.Alpha && method != SortByWeight) return method + (choice.Descending ? 7 : 5);
    return method + (choice.Descending ? 3 : 0);
}

void SortPaletteBy(TPaletteEditTarget t, int32_t type) {
    EngineState& s = t.State;
    if (type < 0 || type >= kSortTypeCount) throw EditError("Unknown palette sort type " + std::to_string(type));
    s.PaletteSortType = type;
    if (!s.HasImage() || s.PaletteSize <= 0) return;
    // Only the view order: a remap would settle nearest-colour ties by the new order and so
    // change pixels.
    SortPalette(s, s.PaletteSize, type);
    t.Selection.Follow(s);
    t.Observer.Refresh(TRefreshTarget::PaletteGrid);
    t.Observer.Refresh(TRefreshTarget::SelectedColor);
}

bool QuickAddColor(TPaletteEditTarget t, int32_t x, int32_t y, TQuickAddMode mode, bool preview) {
    EngineState& s = t.State;
    RequireImage(s);
    if (x < 0 || y < 0 || x >= s.ImageWidth() || y >= s.ImageHeight()) return false;
    const int32_t n = std::max<int32_t>(0, std::min<int32_t>(s.PaletteSize, static_cast<int32_t>(s.Palette.size())));
    if (mode == TQuickAddMode::ReplaceNearest && n == 0)
        throw EditError("The palette is empty: there is no nearest color to replace");

    if (preview) {
        s.QuickAddPreview = true;
        s.QuickAddPointX = x;
        s.QuickAddPointY = y;
    }
    TPixelRec c = s.SourceImage[y][x];
    if (c.A == 0)
        ClearPixel(s, c);
    else
        s.Convert(c);
    c.Weight = 1;

    if (mode == TQuickAddMode::AddNew) {
        s.PaletteSize = n;
        AppendEntry(s, c);
        ShowCount(t);
    } else {
        int32_t best = 0;
        int32_t bestDistance = std::numeric_limits<int32_t>::max();
        for (int32_t i = 0; i < n; ++i) {
            const int32_t d = s.Distance(s.Palette[At(i)], c);
            if (d < bestDistance) {
                bestDistance = d;
                best = i;
            }
        }
        s.Palette[At(best)] = c;
    }
    t.Selection.Key = PixelKey(c);
    RemapFollowing(t);
    CommitPalette(s, t.Observer, t.Undo);
    t.Selection.SelectKey(s, PixelKey(c));
    return true;
}

void RecalculateQuickAdd(TPaletteEditTarget t) {
    t.State.QuickAddPreview = false;
    if (!t.State.HasImage()) return;
    RemapFollowing(t);
}

}  // namespace jx
