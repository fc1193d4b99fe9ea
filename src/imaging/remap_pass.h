#pragma once
// State of one remap-and-dither pass, shared by the error-diffusion and threshold methods.
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/color_map.h"
#include "imaging/color_tree.h"
#include "imaging/engine_state.h"
#include "imaging/nearest_search.h"
#include "imaging/settings.h"

namespace jx {

struct TRemapPass {
    EngineState& state;
    const TQuantizerSettings& settings;
    int32_t paletteSize = 0;
    TNearestSearch search;

    // The candidate list of "Pattern (PS)", allocated once per pass, and its owner's colour.
    int32_t side = 2;
    int32_t cells = 4;
    std::vector<TPixelRec> candidates;
    bool listBuilt = false;
    TPixelRec owner;

    TRemapPass(EngineState& s, const TQuantizerSettings& st) : state(s), settings(st) {}

    // Nearest palette index of working-space colours (A, c1, c2, c3) met lately in this pass.
    // Dithering a photograph scatters the colours: at 64 Ki slots (512 KB) about half the
    // lookups still hit, at 4 Ki only a tenth.
    TRecentColors<16> cache;
    // Opaque colours go to a table of every colour instead, for palettes of up to 256 entries:
    // index + 1 in a byte (entry 255 is searched each time).
    std::unique_ptr<TOpaqueColorTable<uint8_t>> opaque;

    void UseOpaqueTable() {
        if (paletteSize > 0 && paletteSize <= 256) {
            opaque = std::make_unique<TOpaqueColorTable<uint8_t>>();
            if (!opaque->Usable()) opaque.reset();
        }
    }

    // The palette entry NearestColor gives for p, through the pass's pruned search for colours
    // the cache does not hold; its use count is left to the caller.
    TPixelRec& NearestEntry(const TPixelRec& p) {
        if (opaque && p.A == 255) {
            uint8_t& slot = opaque->Slot(p.c1, p.c2, p.c3);
            int32_t i = slot - 1;
            if (i < 0) {
                i = search.Find(p);
                if (i < 255) slot = static_cast<uint8_t>(i + 1);
            }
            TPixelRec* e = &state.Palette[static_cast<size_t>(i)];
            // Entries at distance 0 that are not p itself go through the tree's own rule for them.
            if (!SameRgba(*e, p) && state.Distance(*e, p) == 0)
                e = &state.Palette[static_cast<size_t>(ColorTreeNearest(state, p))];
            return *e;
        }
        const uint32_t key = (uint32_t{p.A} << 24) | (uint32_t{p.c1} << 16) | (uint32_t{p.c2} << 8) | p.c3;
        // The distance depends on the key alone, so the cache keeps, beside the index, whether
        // it is 0 (the low bit).
        int32_t found = cache.Find(key);
        if (found < 0) {
            int32_t distance;
            found = search.Find(p, distance) << 1 | (distance == 0 ? 1 : 0);
            cache.Store(key, found);
        }
        TPixelRec* e = &state.Palette[static_cast<size_t>(found >> 1)];
        // Entries at distance 0 that are not p itself go through the tree's own rule for them.
        if ((found & 1) && !SameRgba(*e, p)) e = &state.Palette[static_cast<size_t>(ColorTreeNearest(state, p))];
        return *e;
    }

    // The nearest entry's record, after counting it when count is set.
    TPixelRec Nearest(const TPixelRec& p, bool count) {
        TPixelRec& e = NearestEntry(p);
        return count ? Count(e) : e;
    }

    // The entry's record after counting one more use of it.
    TPixelRec Count(TPixelRec& e) {
        // The record is read whole before its count is written: reading it back just after a
        // narrow write of its middle stalls the processor.
        TPixelRec r = e;
        r.Weight = AddWeight(r.Weight, 1);
        e.Weight = r.Weight;
        return r;
    }

    bool Bypassed(int32_t x, int32_t y) const { return settings.BypassEdges && state.EdgeMap[y][x] > 192; }

    uint8_t ClampC2(int32_t v) const { return static_cast<uint8_t>(v < 0 ? 0 : (v > state.ChromaMax[0] ? state.ChromaMax[0] : v)); }
    uint8_t ClampC3(int32_t v) const { return static_cast<uint8_t>(v < 0 ? 0 : (v > state.ChromaMax[1] ? state.ChromaMax[1] : v)); }
};

// The threshold methods for the pixel at (x, y): its output record.
TPixelRec PatternDitherPixel(TRemapPass& pass, const TPixelRec& p, int32_t x, int32_t y);
TPixelRec BayerDitherPixel(TRemapPass& pass, const TPixelRec& p, int32_t x, int32_t y);

}  // namespace jx
