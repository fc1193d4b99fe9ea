#pragma once
#include <QWidget>
#include <functional>
#include <optional>

#include "gui/pointer_form.h"
#include "imaging/engine_state.h"

class QComboBox;
class QLabel;

namespace jx {

// A filled square that reports a press (the grid colour "shapes").
class TShape : public QWidget {
    Q_OBJECT
public:
    explicit TShape(QWidget* parent = nullptr);
    void SetBrush(uint8_t r, uint8_t g, uint8_t b);
    QColor Brush() const { return brush_; }
    std::function<void()> MouseDown;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;

private:
    QColor brush_ = Qt::white;
};

// The checkerboard a grid of cell size and two colours shows, R, G, B only.
QImage DrawGridPreview(int width, int height, int32_t cellSize, const TPixelRec& first, const TPixelRec& second);

// "Grid settings": the cell size and the two colours of the checkerboard behind translucent
// pixels. Every change applies at once.
class TGridSettingsForm : public TPointerform {
    Q_OBJECT
public:
    static constexpr int kCustomIndex = 8;

    // renderImage redraws the preview (called only with a source image); pickColor runs the
    // colour picker from a start colour and gives the chosen colour, or nothing on cancel. Unset,
    // a colour picker of its own is used.
    TGridSettingsForm(TJXMainForm* mainForm, EngineState& state, std::function<void()> renderImage = {},
                      std::function<std::optional<TPixelRec>(const TPixelRec&)> pickColor = {});

    // The start-up defaults (8-pixel cells, "Light"), set without drawing anything.
    void SetDefaults();

    // Handlers named after their controls; fromComboBox is false when the main window calls them.
    void GridSizeChange(bool fromComboBox);
    void ColorPresetChange(bool fromComboBox);
    void FirstColorMouseDown() { ShapeMouseDown(0); }
    void SecondColorMouseDown() { ShapeMouseDown(1); }
    void FormShow();

    QLabel* GridSizeLabel;
    QComboBox* GridSize;
    QLabel* ColorPresetLabel;
    QComboBox* ColorPreset;
    TShape* FirstColor;
    TShape* SecondColor;
    QLabel* Preview;

    std::function<std::optional<TPixelRec>(const TPixelRec&)> PickColor;

protected:
    void showEvent(QShowEvent* e) override;

private:
    void ShapeMouseDown(int which);
    void PaintPreview();
    void Render();

    EngineState& state_;
    std::function<void()> renderImage_;
};

}  // namespace jx
