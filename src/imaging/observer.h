#pragma once
// How the engine reports back to whoever shows it (the main window; a fake in tests).
#include <cstdint>
#include <string>

namespace jx {

enum class TRefreshTarget {
    Histogram,      // DrawHistogram
    ErrorMetrics,   // ShowErrorMetrics(false)
    ImageView,      // RenderImage
    PaletteGrid,    // DrawPaletteGrid (the engine has already sorted the palette when asked to)
    SelectedColor,  // DrawSelectedColor
    ShowImageView,  // make the main image view visible
};

class EngineObserver {
public:
    virtual ~EngineObserver() = default;

    // The settings dialog's info box.
    virtual void InfoClear() {}
    virtual void InfoLine(const std::string& line) {}

    // Hourglass cursor on and off.
    virtual void BusyBegin() {}
    virtual void BusyEnd() {}

    virtual void Progress(int64_t done, int64_t total) {}

    // Both colour-count boxes (the dialog's and the main window's) show this text.
    virtual void ShowColorCount(const std::string& text) {}

    // The main window's selected palette colour becomes the colour with this key, selection cleared.
    virtual void SelectColorKey(uint32_t key) {}

    virtual void Refresh(TRefreshTarget target) {}
};

}  // namespace jx
