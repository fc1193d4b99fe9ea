#pragma once
#include "gui/tool_dialog.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QPushButton;
class QSlider;

namespace jx {

// "Filter": horizontal and vertical smoothing, previewed in WorkingImage; commits nothing, and
// closing re-quantizes so the preview is never what gets saved.
class TFilterForm : public TToolDialog {
    Q_OBJECT
public:
    TFilterForm(TJXMainForm* owner, EngineState& state, TToolHost host);

    int Mode() const;
    // An image was opened: back to "none".
    void ResetMode();

    void ApplyClick();

    QGroupBox* ModeGroup;
    QButtonGroup* Modes;
    QCheckBox* SoftLineBox;
    QSlider* StrengthBar;
    QPushButton* ApplyButton;

protected:
    void showEvent(QShowEvent* e) override;
    void ToolClose() override;
};

}  // namespace jx
