#include "gui/grid_settings.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QShowEvent>

#include "gui/color_dlg.h"
#include "imaging/alpha_commands.h"

namespace jx {

TShape::TShape(QWidget* parent) : QWidget(parent) { setFixedSize(65, 65); }

void TShape::SetBrush(uint8_t r, uint8_t g, uint8_t b) {
    brush_ = QColor(r, g, b);
    update();
}

void TShape::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(Qt::black);
    p.setBrush(brush_);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void TShape::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && MouseDown) MouseDown();
}

QImage DrawGridPreview(int width, int height, int32_t cellSize, const TPixelRec& first, const TPixelRec& second) {
    QImage img(width, height, QImage::Format_RGB32);
    const int32_t cell = std::max(cellSize, 1);
    const QRgb a = qRgb(first.R, first.G, first.B), b = qRgb(second.R, second.G, second.B);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < width; ++x) line[x] = ((x / cell) & 1) != ((y / cell) & 1) ? b : a;
    }
    return img;
}

TGridSettingsForm::TGridSettingsForm(TJXMainForm* mainForm, EngineState& state,
                                     std::function<void()> renderImage,
                                     std::function<std::optional<TPixelRec>(const TPixelRec&)> pickColor)
    : TPointerform(mainForm, "Grid settings", kPlain), PickColor(std::move(pickColor)), state_(state),
      renderImage_(std::move(renderImage)) {
    setObjectName("GridSettingsForm");
    if (!PickColor) {
        PickColor = [this](const TPixelRec& start) {
            TColorDlgForm picker(MainForm(), state_);
            return picker.Pick(start);
        };
    }
    GridSizeLabel = new QLabel("Grid size:");
    GridSize = new QComboBox;
    GridSize->addItems({"4x4", "8x8", "16x16", "32x32"});
    ColorPresetLabel = new QLabel("Grid colors:");
    ColorPreset = new QComboBox;
    for (const TGridPreset& p : GridPresets()) ColorPreset->addItem(p.Name);
    ColorPreset->addItem("Custom");
    FirstColor = new TShape;
    SecondColor = new TShape;
    Preview = new QLabel;
    Preview->setFixedSize(122, 119);

    auto* l = new QGridLayout(this);
    l->addWidget(GridSizeLabel, 0, 0);
    l->addWidget(GridSize, 0, 1);
    l->addWidget(ColorPresetLabel, 1, 0);
    l->addWidget(ColorPreset, 1, 1);
    auto* shapes = new QHBoxLayout;
    shapes->addWidget(FirstColor);
    shapes->addWidget(SecondColor);
    l->addLayout(shapes, 2, 0, 1, 2);
    l->addWidget(Preview, 0, 2, 3, 1);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    SetDefaults();
    connect(GridSize, &QComboBox::currentIndexChanged, this, [this](int) { GridSizeChange(true); });
    connect(ColorPreset, &QComboBox::currentIndexChanged, this, [this](int) { ColorPresetChange(true); });
    FirstColor->MouseDown = [this] { FirstColorMouseDown(); };
    SecondColor->MouseDown = [this] { SecondColorMouseDown(); };
}

void TGridSettingsForm::SetDefaults() {
    {
        const QSignalBlocker sizeBlock(GridSize), presetBlock(ColorPreset);
        GridSize->setCurrentIndex(1);
        ColorPreset->setCurrentIndex(0);
    }
    for (TPixelRec& c : state_.GridColors) c.A = 255;
    GridSizeChange(false);
    ColorPresetChange(false);
}

void TGridSettingsForm::Render() {
    if (renderImage_ && state_.HasImage()) renderImage_();
}

void TGridSettingsForm::GridSizeChange(bool fromComboBox) {
    state_.GridCellSize = GridCellSizeFor(std::max(GridSize->currentIndex(), 0));
    if (!fromComboBox) return;
    PaintPreview();
    Render();
}

void TGridSettingsForm::ColorPresetChange(bool fromComboBox) {
    ApplyGridPreset(state_, ColorPreset->currentIndex());  // "Custom" keeps the colours
    if (!fromComboBox) return;
    const TPixelRec& a = state_.GridColors[0];
    const TPixelRec& b = state_.GridColors[1];
    FirstColor->SetBrush(a.R, a.G, a.B);
    SecondColor->SetBrush(b.R, b.G, b.B);
    PaintPreview();
    Render();
}

void TGridSettingsForm::FormShow() {
    const TPixelRec& a = state_.GridColors[0];
    const TPixelRec& b = state_.GridColors[1];
    FirstColor->SetBrush(a.R, a.G, a.B);
    SecondColor->SetBrush(b.R, b.G, b.B);
    PaintPreview();
    Render();
}

void TGridSettingsForm::showEvent(QShowEvent* e) {
    TPointerform::showEvent(e);
    if (!e->spontaneous()) FormShow();
}

void TGridSettingsForm::PaintPreview() {
    Preview->setPixmap(QPixmap::fromImage(DrawGridPreview(Preview->width(), Preview->height(),
                                                            state_.GridCellSize, state_.GridColors[0],
                                                            state_.GridColors[1])));
}

void TGridSettingsForm::ShapeMouseDown(int which) {
    TPixelRec start;
    const TPixelRec& current = state_.GridColors[static_cast<size_t>(which)];
    start.R = current.R;
    start.G = current.G;
    start.B = current.B;
    start.A = 255;
    const std::optional<TPixelRec> picked = PickColor ? PickColor(start) : std::nullopt;
    if (!picked) return;
    state_.GridColors[static_cast<size_t>(which)] = *picked;
    (which == 0 ? FirstColor : SecondColor)->SetBrush(picked->R, picked->G, picked->B);
    {
        const QSignalBlocker block(ColorPreset);  // "Custom" must not rewrite the colours
        ColorPreset->setCurrentIndex(kCustomIndex);
    }
    PaintPreview();
    Render();
}

}  // namespace jx
