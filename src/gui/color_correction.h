#pragma once
#include <array>

#include "gui/tool_dialog.h"
#include "imaging/color_correct.h"

class QPushButton;
class QSlider;

namespace jx {

// "Color correction": clips each channel at a low and a high threshold, previewed in WorkingImage.
class TColorCorrection : public TToolDialog {
    Q_OBJECT
public:
    TColorCorrection(TJXMainForm* owner, EngineState& state, TToolHost host);

    TChannelThresholds Thresholds() const;

    void ThresholdChange();
    void OkClick();
    void ResetClick();

    QSlider *RedLo, *GreenLo, *BlueLo, *AlphaLo;
    QSlider *RedHi, *GreenHi, *BlueHi, *AlphaHi;
    QPushButton* OkButton;
    QPushButton* ResetButton;

protected:
    void showEvent(QShowEvent* e) override;
    void ToolClose() override;

private:
    bool committed_ = false;
    bool resetting_ = false;
};

}  // namespace jx
