#pragma once
// Helpers shared by the engine tests: building small images and a recording observer.
#include <string>
#include <vector>

#include "imaging/engine_state.h"
#include "imaging/observer.h"

namespace jx::test {

inline TPixelRec Rgba(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
    TPixelRec p;
    p.R = r;
    p.G = g;
    p.B = b;
    p.A = a;
    return p;
}

// An image of the given pixels, row by row, loaded into the state with the current converter.
inline void LoadImage(EngineState& state, int32_t w, int32_t h, const std::vector<TPixelRec>& pixels) {
    TPixelImage img(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) img[y][x] = pixels[static_cast<size_t>(y * w + x)];
    state.SetSourceImage(std::move(img));
}

class RecordingObserver : public EngineObserver {
public:
    std::vector<std::string> info;
    std::vector<std::string> counts;
    std::vector<TRefreshTarget> refreshes;
    int busy = 0;
    int busyBegins = 0;
    uint32_t selectedKey = 0xDEADBEEF;

    void InfoClear() override { info.clear(); }
    void InfoLine(const std::string& line) override { info.push_back(line); }
    void BusyBegin() override {
        ++busy;
        ++busyBegins;
    }
    void BusyEnd() override { --busy; }
    void ShowColorCount(const std::string& text) override { counts.push_back(text); }
    void SelectColorKey(uint32_t key) override { selectedKey = key; }
    void Refresh(TRefreshTarget t) override { refreshes.push_back(t); }
};

}  // namespace jx::test
