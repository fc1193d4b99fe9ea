#pragma once
#include <QColor>
#include <QDialog>
#include <QImage>
#include <functional>
#include <optional>

#include "gui/pointer_form.h"
#include "imaging/color_pick.h"
#include "imaging/engine_state.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace jx {

// A picture of the picker that reports presses, drags and releases in its own pixels.
class TPickerImage : public QWidget {
    Q_OBJECT
public:
    TPickerImage(int width, int height, QWidget* parent = nullptr);
    void SetPicture(const QImage& image);
    const QImage& Picture() const { return picture_; }

    std::function<void(QPoint)> MouseDown, MouseMove, MouseUp;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    QImage picture_;
    bool dragging_ = false;
};

// Whether the eyedropper can copy the screen: it needs an X server (XWayland counts), so it is
// hidden in a native Wayland session or without a display.
bool EyedropperAvailable(const QString& platformName, const QString& sessionType);

// "Color dialog": one RGBA colour from the square and bars, the fields, the hexadecimal code,
// the named colours, the clipboard or the screen.
class TColorDlgForm : public TPointerform {
    Q_OBJECT
public:
    static constexpr int kModalYes = 6;

    TColorDlgForm(TJXMainForm* mainForm, EngineState& state);

    // Put in before showing; FormShow starts from it (R, G, B, A).
    TPixelRec PickerColor;
    // Stores the colour (as PickerColor too) and makes it the "Current" one.
    void SetColor(uint8_t r, uint8_t g, uint8_t b, uint8_t a);
    // The chosen colour; c1..c3 are filled in the working colour space once the dialog closes.
    const TPixelRec& Color() const { return color_; }
    const TColorPicker& Picker() const { return picker_; }

    // Runs the dialog modally from start; the colour on "OK", nothing otherwise.
    std::optional<TPixelRec> Pick(const TPixelRec& start);

    // The screen copy the eyedropper shows; a test may put in its own.
    std::function<QImage()> GrabScreen;

    void UpdateControls();
    void DrawPickers();
    // Handlers named after their controls.
    void EditChange(TPickerField field);
    void EditHEXChange();
    // A code typed and not yet taken with Enter is taken now (leaving the field, "OK").
    void ApplyTypedHex();
    void AltColorClick(int tag);
    void EyedropperClick();
    void CopyCodeClick();
    void PasteCodeClick();
    void SquarePickerMouse(QPoint p);
    void HuePickerMouse(QPoint p);
    void AlphaPickerMouse(QPoint p);
    void NamedGridMouse(QPoint p, bool dragging);
    bool HexTyping() const { return hexTyping_; }

    TPickerImage* SquarePicker;  // saturation x value
    TPickerImage* HuePicker;
    TPickerImage* AlphaPicker;
    QGroupBox* NamedColorsGroup;
    TPickerImage* NamedGrid;
    TPickerImage* NewSwatch;      // "New"
    TPickerImage* CurrentSwatch;  // "Current"
    TPickerImage* NearestSwatch;  // the nearest named colour
    TPickerImage* RunnerUpSwatch;
    QSpinBox* EditH;
    QSpinBox* EditS;
    QSpinBox* EditV;
    QSpinBox* EditR;
    QSpinBox* EditG;
    QSpinBox* EditB;
    QSpinBox* EditA;
    QLineEdit* EditHEX;
    QToolButton* EyedropperButton;
    QToolButton* CopyCodeButton;
    QToolButton* PasteCodeButton;
    QPushButton* OkButton;

protected:
    void FormClose() override;
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The constructor's stages, in this order.
    void BuildPickerImages();
    void BuildColorFields();
    void BuildButtons();
    void LayOutControls();

    QSpinBox* Edit(TPickerField field) const;
    void DrawSwatch(TPickerImage* image, const TPixelRec& c, bool newSwatch, const QString& caption, QPoint at);

    EngineState& state_;
    TColorPicker picker_;
    TPixelRec color_;
    QImage hueSquare_;
    int squareHue_ = -1;
    QImage hueBar_, alphaBar_;
    bool hexTyping_ = false;
    bool updating_ = false;
};

// The eyedropper's full-screen window: the screen copy with a loupe beside the cursor; a click
// picks the pixel just above the hot spot.
class TEyedropperForm : public QDialog {
    Q_OBJECT
public:
    explicit TEyedropperForm(const QImage& screenshot, QWidget* parent = nullptr);
    // The pixel a click at p (window pixels) picks.
    QRgb PixelAt(QPoint p) const;
    std::optional<QRgb> Picked() const { return picked_; }
    // The loupe for a cursor at p, and where it goes.
    QImage DrawLoupe(QPoint p) const;
    void MoveLoupe(QPoint p);
    QPoint LoupeTopLeft() const { return loupePos_; }
    void PickAt(QPoint p);

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    QPoint ShotPoint(QPoint p) const;

    QImage shot_;
    QImage loupe_;
    QPoint loupePos_;
    std::optional<QRgb> picked_;
};

// A colour-value picker over a record picker: initial as an opaque start colour, the answer's
// R, G and B back (its alpha is not a colour value's).
std::optional<QColor> PickOpaqueColor(QColor initial, const std::function<std::optional<TPixelRec>(const TPixelRec&)>& pick);

}  // namespace jx
