#pragma once
#include <optional>

#include "gui/tool_dialog.h"
#include "imaging/jpeg_filter.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSlider;

namespace jx {

// "Filter": the compression-noise filter. "Apply" filters SourceImage into WorkingImage (with a
// progress bar and Cancel); "OK" commits the last applied result, and without one closes unchanged.
class TJPEGFilterForm : public TToolDialog {
    Q_OBJECT
public:
    TJPEGFilterForm(TJXMainForm* owner, EngineState& state, TToolHost host);
    ~TJPEGFilterForm() override;

    TJpegFilterSettings Settings() const;
    bool Running() const { return running_; }
    bool Applied() const { return result_.has_value(); }

    void BlockSizeChange(int value);
    void MaxErrorChange(int value);
    void ApplyClick();
    void OkClick();
    void CancelClick();

    // Called after each filtered row while "Apply" runs (tests use it to act mid-run).
    std::function<void(int32_t row)> OnRow;

    QGroupBox* PropertiesGroup;
    QLabel* BlockSizeLabel;
    QSlider* BlockSize;
    QLabel* BlockSizeValue;
    QLabel* MaxErrorLabel;
    QSlider* MaxError;
    QLabel* MaxErrorValue;
    QCheckBox* AggressiveBox;
    QPushButton* ApplyButton;
    QPushButton* OkButton;
    QProgressBar* ProgressBar;
    QPushButton* CancelButton;

protected:
    void ToolClose() override;

private:
    void SetRunning(bool running);

    std::optional<TPixelImage> result_;  // the last applied filter, from the source of its time
    bool running_ = false;
    bool cancel_ = false;
    bool committed_ = false;
    bool* alive_ = nullptr;  // cleared by the destructor while Apply pumps events
};

}  // namespace jx
