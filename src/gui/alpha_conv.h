#pragma once
#include "gui/tool_dialog.h"
#include "imaging/alpha_convert.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSlider;

namespace jx {

// "AConv": graded alpha to on/off transparency, previewed in WorkingImage. The settings live as
// long as the dialog; the matte colour is the main window's background colour.
class TAConv : public TToolDialog {
    Q_OBJECT
public:
    TAConv(TJXMainForm* owner, EngineState& state, TToolHost host);

    TAlphaConvertSettings Settings() const;

    void BarChange(int position);
    void BarMouseUp();
    void DitheringChange(int index);
    void MatteClick(bool down);
    void OkClick();
    void UpdatePreview();

    QGroupBox* ThresholdGroup;
    QSlider* ThresholdBar;
    QLabel* DitheringLabel;
    QComboBox* DitheringBox;
    QPushButton* MatteButton;
    QPushButton* OkButton;

protected:
    void showEvent(QShowEvent* e) override;
    void ToolClose() override;

private:
    void PlaceBar();
    void PaintMatteGlyph();

    int32_t alphaThreshold_ = 127;
    double alphaDitherAmount_ = 1.0;
    bool committed_ = false;
    bool placing_ = false;
};

}  // namespace jx
