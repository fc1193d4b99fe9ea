#pragma once
#include <QColor>
#include <functional>
#include <optional>

#include "gui/color_count_box.h"
#include "gui/pointer_form.h"
#include "imaging/engine_state.h"
#include "imaging/settings.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabBar;

namespace jx {

// What the settings dialog asks of the main window's right-hand panel (palette_panel.h), which
// mirrors its colour count and runs the quantize.
class TSettingsPanel {
public:
    virtual TColorCountBox* Colors() const = 0;
    // The panel's toggle of this dialog.
    virtual QAction* QuantizerSettingsButton() const = 0;
    virtual void ApplyClick() = 0;
    // The palette file dialog, then the load; false when cancelled or refused.
    virtual bool LoadPalClick() = 0;
    virtual void PriorityChange(int position) = 0;
    virtual void Remap() = 0;

protected:
    ~TSettingsPanel() = default;
};

// "Quantizer settings": every parameter of the engine, the info box and the error figures.
// Its controls are the settings; Settings() gathers them for the engine when it runs.
class TQuantizerSettingsForm : public TPointerform {
    Q_OBJECT
public:
    TQuantizerSettingsForm(TJXMainForm* mainForm, EngineState& state);
    // The window's panel and its split view's tabs (the error figures count the shown part only);
    // without them the dialog stands alone.
    void AttachToWindow(TSettingsPanel& panel, const QTabBar& fileTabs) {
        panel_ = &panel;
        fileTabs_ = &fileTabs;
    }

    TQuantizerSettings Settings() const;

    // The colour count text as N (-1 for "TrueColor" and 0), which becomes the count in use; a text
    // that is not a whole number from 0 to kMaxColorCount (an empty one too) is refused with a
    // message, the boxes return to the count in use, and nothing else changes.
    bool AcceptColorCount(int32_t* n);
    // Both colour-count boxes show text, which becomes the last accepted one (a refused text
    // gives way to it).
    void SetColorCountText(const QString& text);

    // The colour picker used by "Custom..."; returns nothing when the user cancels.
    std::function<std::optional<QColor>(QColor initial)> PickColor;

    // Handlers named after the control or choice they serve.
    void ApplyClick();
    void ColorsSelect();
    void ColorsChange(const QString& text);
    // Either box left without Enter: both show the count in use again.
    void ColorsLeft();
    void PalTypeSelect(int index);
    // The palette type box without running its select handler; remembered as the fall-back.
    void SetPalType(int index);
    // Back to the last palette type that worked (after "Custom" found no palette file).
    void PalTypeFallBack();
    void ColorSpaceChange(int index);
    void AlphaBackgroundChange(int index);
    void VisualPerceptionChange(int position);
    void ReserveBarChange(int position);
    void PriorityBarChange(int position);
    void ThresholdBarChange(int position);
    // Any dithering choice (mode, pattern size, edges, delicate): the image is remapped.
    void DitheringChange();
    void DitherBarChange(int position);
    void DitherBarMouseUp();
    void ErrorMetricChange(int index);
    void FRGBClick(bool checked);
    void ResetClick();
    void ShowErrorMetrics();

    // Controls.
    TColorCountBox* Colors;
    QComboBox* PalType;
    QCheckBox* MixColors;
    QGroupBox* ReserveGroup;
    QSlider* ReserveBar;
    QGroupBox* PriorityGroup;
    QSlider* PriorityBar;
    QGroupBox* ThresholdGroup;
    QSlider* ThresholdBar;
    QComboBox* ColorSpace;
    QSpinBox* VisualPerception;
    QComboBox* AlphaBackground;
    QGroupBox* DitherModeGroup;
    QButtonGroup* DitherButtons;
    QComboBox* PatternSize;
    QCheckBox* BypassEdges;
    QCheckBox* Delicate;
    QGroupBox* DitherGroup;
    QSlider* DitherBar;
    QGroupBox* Info;
    QComboBox* ErrorMetric;
    QPlainTextEdit* InfoText;
    QLabel* LumaError;
    QLabel* CrError;
    QLabel* CbError;
    QLabel* AlphaError;
    QCheckBox* CAlpha;
    QCheckBox* FRGB;
    QPushButton* ApplyButton;
    QPushButton* ResetButton;

protected:
    void FormClose() override;
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    // The constructor's steps: the controls group by group, then the layout, then the handlers.
    void BuildPaletteControls();
    void BuildBackgroundBox();
    void BuildDitherControls();
    void BuildInfoBox();
    void BuildBatchBoxesAndButtons();
    void LayOutControls();
    void ConnectHandlers();
    void AddBackgroundItem(const QString& caption, const QColor& color, int before);

    EngineState& state_;
    TSettingsPanel* panel_ = nullptr;
    const QTabBar* fileTabs_ = nullptr;
    QString lastGoodColors_ = "TrueColor";
    int lastPalType_ = 0;  // the palette type to fall back to when "Custom" has no file
    int backgroundBeforeDropDown_ = 0;  // the choice shown before the list was opened
    bool altRepaintDone_ = false;
    bool syncing_ = false;
};

// "#RRGGBB" for a colour, and back; false for a caption that is not of that form.
QString BackgroundCaption(uint8_t r, uint8_t g, uint8_t b);
bool ParseBackgroundCaption(const QString& caption, uint8_t* r, uint8_t* g, uint8_t* b);

}  // namespace jx
