#pragma once
// What the image-editing tool dialogs need from the window that opens them, and their common base.
#include <QColor>
#include <QImage>
#include <functional>
#include <optional>

#include "gui/pointer_form.h"
#include "imaging/engine_state.h"

namespace jx {

// A tool's result: the new SourceImage (c1..c3 filled, A = 0 pixels cleared) and QualityMask. The
// commit step rebuilds the edge map and unique colours, quantizes and records the undo state.
struct TToolCommit {
    TPixelImage Source;
    TByteImage Mask;       // the mask to keep or the new one; same shape as Source
    bool MaskChanged = false;
    bool TrueColor = false;  // the palette becomes true colour (no palette in the undo state)
    bool HasAlpha = false;   // the image's alpha flag after the change
};

struct TToolHost {
    std::function<void(TToolCommit)> Commit;
    // The main window's tool bar and panel, disabled while an editing tool is open.
    std::function<void()> Lock;
    std::function<void()> Unlock;
    // WorkingImage rebuilt from SourceImage by the quantizer (removes a tool's preview).
    std::function<void()> Requantize;
    // WorkingImage changed: redraw the main image view.
    std::function<void()> Refresh;
    // A preview of another size than the source, to show instead of WorkingImage; a null image
    // returns to the normal view.
    std::function<void(const QImage&)> ShowPreview;
    // A colour picker; nothing when the user cancels.
    std::function<std::optional<QColor>(QColor initial)> PickColor;
};

// A tool dialog over the engine state; locks the main window through the host while it is shown
// when asked to, and unlocks it on every close.
class TToolDialog : public TPointerform {
    Q_OBJECT
public:
    TToolDialog(TJXMainForm* owner, const QString& caption, EngineState& state, TToolHost host, bool locks);
    // A dialog destroyed while shown still gives the lock back.
    ~TToolDialog() override;

    bool Locked() const { return locked_; }

protected:
    void showEvent(QShowEvent* e) override;
    void FormClose() override;
    // The dialog's own close step, before the lock is released.
    virtual void ToolClose() {}

    void Commit(TToolCommit c);
    void Requantize();
    void Refresh();

    EngineState& state_;
    TToolHost host_;

private:
    bool locks_;
    bool locked_ = false;
};

// The image's R, G, B, A as a QImage (unpremultiplied ARGB).
QImage ToQImage(const TPixelImage& image);

}  // namespace jx
