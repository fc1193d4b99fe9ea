#pragma once
#include <QRect>
#include <QWidget>

#include "gui/color_count_box.h"
#include "gui/quantizer_settings.h"

class QAction;
class QPushButton;
class QSlider;

namespace jx {

class TJXMainForm;
class THistogramBox;

// The main window's right-hand panel: histogram and magnifier box, palette grid, Apply, the
// priority bar and colour-count box, the quantizer-settings and palette buttons, and their
// handlers. A child widget of the window, made with it.
class TPalettePanel : public QWidget, public TSettingsPanel {
    Q_OBJECT
public:
    explicit TPalettePanel(TJXMainForm& form);

    void ApplyClick() override;  // the panel's OK
    // Load palette (LoadPaletteButton): the dialog, then LoadPalette; false when cancelled or refused.
    bool LoadPalClick() override;
    bool LoadPalette(const QString& fileName);
    void QuantizerSettingsClick(bool down);
    // The toggle of the quantizer settings and the colour-count box, in screen coordinates:
    // the settings dialog never opens over them.
    QRect SettingsToggleArea() const;
    void ColorsChange(const QString& text);
    void ColorsSelect();
    void PriorityChange(int position) override;
    // Re-runs the remap pass only (dithering changes).
    void Remap() override;

    TColorCountBox* Colors() const override { return colors_; }
    QAction* QuantizerSettingsButton() const override { return quantizerSettingsButton_; }
    QAction* LoadPaletteButton() const { return loadPaletteButton_; }
    QPushButton* ApplyButton() const { return applyButton_; }
    THistogramBox* HistogramBox() const { return histogramBox_; }

private:
    TJXMainForm& form_;
    THistogramBox* histogramBox_ = nullptr;
    QPushButton* applyButton_ = nullptr;
    QSlider* priorityBar_ = nullptr;
    TColorCountBox* colors_ = nullptr;
    QAction* quantizerSettingsButton_ = nullptr;
    QAction* loadPaletteButton_ = nullptr;
};

}  // namespace jx
