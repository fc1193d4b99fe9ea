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

// Every hook does nothing by default, or, in an observer made with a next one, passes the report
// on to it: an observer that stands in front of another (to keep some reports for itself)
// overrides only those, and a hook added later reaches the one behind it all the same.
class EngineObserver {
public:
    EngineObserver() = default;
    virtual ~EngineObserver() = default;

    // The settings dialog's info box.
    virtual void InfoClear() {
        if (next_) next_->InfoClear();
    }
    virtual void InfoLine(const std::string& line) {
        if (next_) next_->InfoLine(line);
    }

    // Hourglass cursor on and off.
    virtual void BusyBegin() {
        if (next_) next_->BusyBegin();
    }
    virtual void BusyEnd() {
        if (next_) next_->BusyEnd();
    }

    // Both colour-count boxes (the dialog's and the main window's) show this text.
    virtual void ShowColorCount(const std::string& text) {
        if (next_) next_->ShowColorCount(text);
    }

    // The main window's selected palette colour becomes the colour with this key, selection cleared.
    virtual void SelectColorKey(uint32_t key) {
        if (next_) next_->SelectColorKey(key);
    }

    virtual void Refresh(TRefreshTarget target) {
        if (next_) next_->Refresh(target);
    }

protected:
    explicit EngineObserver(EngineObserver& next) : next_(&next) {}

private:
    EngineObserver* next_ = nullptr;
};

// The busy cursor for as long as it lives, however the work ends.
class BusyGuard {
public:
    explicit BusyGuard(EngineObserver& observer) : observer_(observer) { observer_.BusyBegin(); }
    ~BusyGuard() { observer_.BusyEnd(); }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    EngineObserver& observer_;
};

}  // namespace jx
