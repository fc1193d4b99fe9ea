#pragma once
// The image view's two editing modes: painting the quality mask (with the brush panel's strength,
// the brush menu and the brush cursor) and cropping by a selection rectangle. The window
// hands its mouse, keys and renders here; the arithmetic lives in edit/mask_brush.h and edit/crop.h.
#include <QCursor>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QString>

#include "edit/crop.h"
#include "edit/mask_brush.h"
#include "gui/image_view.h"

class QAction;
class QLineEdit;
class QMenu;
class QMouseEvent;
class QPainter;
class QSlider;
class QWidget;

namespace jx {

class TJXMainForm;

class TMaskCropView : public QObject, public TViewModes {
    Q_OBJECT
public:
    // Largest brush cursor image, in pixels a side, that X servers take; a larger brush is shown
    // as a footprint painted in the view under a cross cursor.
    static constexpr int kMaxCursorSide = 64;

    explicit TMaskCropView(TJXMainForm& form);

    bool MaskMode() const { return maskMode_; }
    bool CropDown() const override;
    TCropRect Selection() const override;
    int BrushImage() const { return brushImage_; }
    int Strength() const;
    bool Eraser() const;
    // True while the brush is painted in the view instead of being the cursor.
    bool BrushFootprint() const { return footprint_; }
    QLineEdit* BrushStrengthEdit() const { return brushStrengthEdit_; }
    QSlider* BrushStrengthBar() const { return brushStrengthBar_; }
    QMenu* BrushMenu() const { return brushMenu_; }

    // Tool-bar handlers.
    void EditMaskClick();
    void BrushClick();  // releases the Eraser, shows or hides the brush panel
    void ClearMaskClick();
    void CropClick();
    void AutoCropClick();
    void CropImage();          // Enter or double-click while Crop is down

    // Esc: leaves crop and mask mode.
    void Escape();
    // A new image: both modes end, nothing is saved.
    void LeaveModes();

    // Image view events; true when the mode took the event.
    bool MouseDown(QMouseEvent* e) override;
    bool MouseMove(QMouseEvent* e) override;
    bool MouseUp(QMouseEvent* e) override;
    void MouseEnter() override;
    void MouseLeave() override;
    // The view was rendered again: take it as the new view copy and draw the overlay on it.
    void Rendered();
    void ZoomChanged() override;
    void ImageResized();
    void MaskRestored(bool hasMask);
    void MaskPasted();
    // Over the stretched view: the rubber band, the selection outline, the brush footprint.
    void Paint(QPainter& p) override;
    // The mask as a grey picture (Copy in mask mode).
    QImage MaskBitmap() const;

private:
    QAction* Button(const char* name) const;
    void MakeBrushCursor();
    void DrawMaskOverlay(TMaskArea area);
    void RepaintImagePixels(TMaskArea area);
    void TakeCropCopy();
    void DrawCropSelection(const TCropRect& old, const TCropRect& now);
    void SetCropCursor(TCropPart part);
    void EndStroke();
    void LeaveMask();
    void LeaveCrop();
    QRect FootprintRect() const;
    QPoint ImagePoint(const QMouseEvent* e) const;

    TJXMainForm& form_;
    QWidget* brushPanel_ = nullptr;
    QSlider* brushStrengthBar_ = nullptr;
    QLineEdit* brushStrengthEdit_ = nullptr;
    QMenu* brushMenu_ = nullptr;

    bool maskMode_ = false;
    TMaskStroke stroke_;
    int brushImage_ = kDefaultBrushImage;
    bool footprint_ = false;
    bool mouseOver_ = false;
    QPoint mousePoint_;  // image coordinates

    TCropSelection selection_;
    QImage viewCopy_;  // the picture at full brightness under the overlays
    QImage dimCopy_;   // the same at half brightness (crop)
};

}  // namespace jx
