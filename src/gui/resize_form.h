#pragma once
#include <array>
#include <memory>
#include <optional>

#include "gui/tool_dialog.h"
#include "imaging/resize_image.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTimer;
class QToolBar;
class QToolButton;

namespace jx {

// Image indices of the anchor arrows (56 right .. 63 down-right) for anchor button `button` when
// `selected` is the anchor; 0 for no arrow.
int AnchorGlyph(int selected, int button);

// "Image size" / "Canvas size": resamples the image or changes its canvas. The preview at the new
// size lives in the dialog (shown through the host); WorkingImage keeps the source's shape until
// "OK" commits.
class TResizeForm : public TToolDialog {
    Q_OBJECT
public:
    TResizeForm(TJXMainForm* owner, EngineState& state, TToolHost host);

    // 0 "Image resize", 1 "Canvas resize"; set before showing.
    uint8_t CanvasMode = 0;

    const TPixelImage& Preview() const { return preview_; }
    bool ResamplePending() const { return pending_; }
    int CanvasAnchor() const { return anchor_; }

    // After the user's change to a size box: tag 1 width, 2 height, 3 width %, 4 height %.
    void EditChange(int tag);
    void FastSize(int tag);    // "1:1" .. "1:4"
    void PropSizeClick(bool checked);
    void ResampleOptionsChange();  // the method and the sharpening controls
    void AnchorClick(int anchor);
    void ResampleTick();
    void OkClick();
    void Resample();
    void PlaceOnCanvas();

    QGroupBox* DimensionsGroup;
    QSpinBox* WidthBox;
    QSpinBox* HeightBox;
    QSpinBox* WidthPercentBox;
    QSpinBox* HeightPercentBox;
    QCheckBox* PropSize;
    QToolBar* FastSizeBar;
    QLabel* MethodLabel;
    QComboBox* MethodBox;
    QGroupBox* SharpIn;
    QRadioButton* SharpInMore;
    QSlider* SharpInAmount;
    QGroupBox* SharpOut;
    QRadioButton* SharpOutMore;
    QSlider* SharpOutAmount;
    QGroupBox* Anchor;
    std::array<QToolButton*, 9> AnchorButtons{};
    QPushButton* OkButton;
    QTimer* ResampleTimer;

protected:
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void ToolClose() override;

private:
    void SizeChanged();
    void ShowValues();
    void ShowPreview();
    TResizeOptions Options() const;

    std::unique_ptr<TSizeLinker> linker_;
    TPixelImage resizeSource_;  // the source as prepared at show
    TPixelImage preview_;
    bool previewHasAlpha_ = false;
    int anchor_ = 5;
    int subpixel_ = 0;
    int editCounter_ = 0;
    bool pending_ = false;
    bool syncing_ = false;
};

}  // namespace jx
