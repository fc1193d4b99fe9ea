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

TForm6::TForm6(TJXMainForm* mainForm, EngineState& state, std::function<void()> renderImage,
               std::function<std::optional<TPixelRec>(const TPixelRec&)> pickColor)
    : TPointerform(mainForm, "Grid settings", kPlain), PickColor(std::move(pickColor)), state_(state),
      renderImage_(std::move(renderImage)) {
    setObjectName("Form6");
    if (!PickColor) {
        PickColor = [this](const TPixelRec& start) {
            TColorDlgForm picker(MainForm(), state_);
            return picker.Pick(start);
        };
    }
    Label1 = new QLabel("Grid size:");
    ComboBox1 = new QComboBox;
    ComboBox1->addItems({"4x4", "8x8", "16x16", "32x32"});
    Label2 = new QLabel("Grid colors:");
    ComboBox2 = new QComboBox;
    for (const TGridPreset& p : GridPresets()) ComboBox2->addItem(p.Name);
    ComboBox2->addItem("Custom");
    Shape1 = new TShape;
    Shape2 = new TShape;
    PaintBox1 = new QLabel;
    PaintBox1->setFixedSize(122, 119);

    auto* l = new QGridLayout(this);
    l->addWidget(Label1, 0, 0);
    l->addWidget(ComboBox1, 0, 1);
    l->addWidget(Label2, 1, 0);
    l->addWidget(ComboBox2, 1, 1);
    auto* shapes = new QHBoxLayout;
    shapes->addWidget(Shape1);
    shapes->addWidget(Shape2);
    l->addLayout(shapes, 2, 0, 1, 2);
    l->addWidget(PaintBox1, 0, 2, 3, 1);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    SetDefaults();
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, [this](int) { ComboBox1Change(true); });
    connect(ComboBox2, &QComboBox::currentIndexChanged, this, [this](int) { ComboBox2Change(true); });
    Shape1->MouseDown = [this] { Shape1MouseDown(); };
    Shape2->MouseDown = [this] { Shape2MouseDown(); };
}

void TForm6::SetDefaults() {
    {
        const QSignalBlocker b1(ComboBox1), b2(ComboBox2);
        ComboBox1->setCurrentIndex(1);
        ComboBox2->setCurrentIndex(0);
    }
    for (TPixelRec& c : state_.GridColors) c.A = 255;
    ComboBox1Change(false);
    ComboBox2Change(false);
}

void TForm6::Render() {
    if (renderImage_ && state_.HasImage()) renderImage_();
}

void TForm6::ComboBox1Change(bool fromComboBox) {
    state_.GridCellSize = GridCellSizeFor(std::max(ComboBox1->currentIndex(), 0));
    if (!fromComboBox) return;
    PaintBox1Paint();
    Render();
}

void TForm6::ComboBox2Change(bool fromComboBox) {
    ApplyGridPreset(state_, ComboBox2->currentIndex());  // "Custom" keeps the colours
    if (!fromComboBox) return;
    const TPixelRec& a = state_.GridColors[0];
    const TPixelRec& b = state_.GridColors[1];
    Shape1->SetBrush(a.R, a.G, a.B);
    Shape2->SetBrush(b.R, b.G, b.B);
    PaintBox1Paint();
    Render();
}

void TForm6::FormShow() {
    const TPixelRec& a = state_.GridColors[0];
    const TPixelRec& b = state_.GridColors[1];
    Shape1->SetBrush(a.R, a.G, a.B);
    Shape2->SetBrush(b.R, b.G, b.B);
    PaintBox1Paint();
    Render();
}

void TForm6::showEvent(QShowEvent* e) {
    TPointerform::showEvent(e);
    if (!e->spontaneous()) FormShow();
}

void TForm6::PaintBox1Paint() {
    PaintBox1->setPixmap(QPixmap::fromImage(DrawGridPreview(PaintBox1->width(), PaintBox1->height(),
                                                            state_.GridCellSize, state_.GridColors[0],
                                                            state_.GridColors[1])));
}

void TForm6::ShapeMouseDown(int which) {
    TPixelRec start;
    const TPixelRec& current = state_.GridColors[static_cast<size_t>(which)];
    start.R = current.R;
    start.G = current.G;
    start.B = current.B;
    start.A = 255;
    const std::optional<TPixelRec> picked = PickColor ? PickColor(start) : std::nullopt;
    if (!picked) return;
    state_.GridColors[static_cast<size_t>(which)] = *picked;
    (which == 0 ? Shape1 : Shape2)->SetBrush(picked->R, picked->G, picked->B);
    {
        const QSignalBlocker block(ComboBox2);  // "Custom" must not rewrite the colours
        ComboBox2->setCurrentIndex(kCustomIndex);
    }
    PaintBox1Paint();
    Render();
}

}  // namespace jx
