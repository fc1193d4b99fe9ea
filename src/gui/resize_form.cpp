#include "gui/resize_form.h"
#include "gui/glyphs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstdlib>

#include "imaging/alpha_convert.h"
#include "imaging/resample.h"

namespace jx {

int AnchorGlyph(int selected, int button) {
    const int dx = (button - 1) % 3 - (selected - 1) % 3, dy = (button - 1) / 3 - (selected - 1) / 3;
    if ((dx == 0 && dy == 0) || std::abs(dx) > 1 || std::abs(dy) > 1) return 0;
    // Right, up-right, up, up-left, left, down-left, down, down-right.
    static const int kByDirection[3][3] = {{59, 58, 57}, {60, 0, 56}, {61, 62, 63}};  // [dy + 1][dx + 1]
    return kByDirection[dy + 1][dx + 1];
}

namespace {

QSpinBox* SizeBox(int hi) {
    auto* s = new QSpinBox;
    s->setRange(0, hi);
    return s;
}

QGroupBox* SharpGroup(const QString& caption, QRadioButton** more, QSlider** amount) {
    auto* g = new QGroupBox(caption);
    auto* l = new QVBoxLayout(g);
    auto* row = new QHBoxLayout;
    auto* less = new QRadioButton("Less");
    *more = new QRadioButton("More");
    less->setChecked(true);
    row->addWidget(less);
    row->addWidget(*more);
    l->addLayout(row);
    *amount = new QSlider(Qt::Horizontal);
    (*amount)->setRange(0, 255);
    (*amount)->setTickPosition(QSlider::NoTicks);
    l->addWidget(*amount);
    return g;
}

}  // namespace

TResizeForm::TResizeForm(TJXMainForm* owner, EngineState& state, TToolHost host)
    : TToolDialog(owner, "ResizeForm", state, std::move(host), true) {
    setObjectName("ResizeForm");
    auto* layout = new QVBoxLayout(this);
    DimensionsGroup = new QGroupBox("Dimensions");
    auto* grid = new QGridLayout(DimensionsGroup);
    WidthBox = SizeBox(32767);
    HeightBox = SizeBox(32767);
    WidthPercentBox = SizeBox(1000);
    HeightPercentBox = SizeBox(1000);
    grid->addWidget(new QLabel("Width:"), 0, 0);
    grid->addWidget(WidthBox, 0, 1);
    grid->addWidget(new QLabel("pixels"), 0, 2);
    grid->addWidget(WidthPercentBox, 0, 3);
    grid->addWidget(new QLabel("%"), 0, 4);
    grid->addWidget(new QLabel("Height:"), 1, 0);
    grid->addWidget(HeightBox, 1, 1);
    grid->addWidget(new QLabel("pixels"), 1, 2);
    grid->addWidget(HeightPercentBox, 1, 3);
    grid->addWidget(new QLabel("%"), 1, 4);
    PropSize = new QCheckBox("Constrain proportions");
    PropSize->setChecked(true);
    grid->addWidget(PropSize, 2, 0, 1, 5);
    layout->addWidget(DimensionsGroup);

    FastSizeBar = new QToolBar;
    for (int tag = 1; tag <= 4; ++tag)
        FastSizeBar->addAction(QString("1:%1").arg(tag), this, [this, tag] { FastSize(tag); });
    layout->addWidget(FastSizeBar);

    auto* method = new QHBoxLayout;
    MethodLabel = new QLabel("Resampling method:");
    MethodBox = new QComboBox;
    for (int f = 0; f < kResampleFilterCount; ++f) MethodBox->addItem(ResampleFilterName(f));
    MethodBox->setCurrentIndex(14);
    method->addWidget(MethodLabel);
    method->addWidget(MethodBox);
    layout->addLayout(method);
    SharpIn = SharpGroup("Sharpen (In)", &SharpInMore, &SharpInAmount);
    SharpOut = SharpGroup("Sharpen (Out)", &SharpOutMore, &SharpOutAmount);
    auto* sharp = new QHBoxLayout;
    sharp->addWidget(SharpIn);
    sharp->addWidget(SharpOut);
    layout->addLayout(sharp);

    Anchor = new QGroupBox("Anchor");
    auto* ag = new QGridLayout(Anchor);
    for (int i = 0; i < 9; ++i) {
        auto* b = new QToolButton;
        b->setCheckable(true);
        b->setFixedSize(24, 24);
        AnchorButtons[static_cast<size_t>(i)] = b;
        ag->addWidget(b, i / 3, i % 3);
        connect(b, &QToolButton::clicked, this, [this, i] { AnchorClick(i + 1); });
    }
    AnchorButtons[4]->setChecked(true);
    layout->addWidget(Anchor);
    OkButton = new QPushButton("OK");
    layout->addWidget(OkButton);

    ResampleTimer = new QTimer(this);
    ResampleTimer->setInterval(500);
    connect(ResampleTimer, &QTimer::timeout, this, &TResizeForm::ResampleTick);
    const std::array<QSpinBox*, 4> edits{WidthBox, HeightBox, WidthPercentBox, HeightPercentBox};
    for (int tag = 1; tag <= 4; ++tag)
        connect(edits[static_cast<size_t>(tag - 1)], &QSpinBox::valueChanged, this, [this, tag](int) {
            if (!syncing_) EditChange(tag);
        });
    connect(PropSize, &QCheckBox::clicked, this, &TResizeForm::PropSizeClick);
    connect(MethodBox, &QComboBox::currentIndexChanged, this, [this](int) { ResampleOptionsChange(); });
    for (QSlider* s : {SharpInAmount, SharpOutAmount})
        connect(s, &QSlider::valueChanged, this, [this](int) { ResampleOptionsChange(); });
    for (QRadioButton* r : {SharpInMore, SharpOutMore})
        connect(r, &QRadioButton::toggled, this, [this](bool) { ResampleOptionsChange(); });
    connect(OkButton, &QPushButton::clicked, this, &TResizeForm::OkClick);
}

void TResizeForm::showEvent(QShowEvent* e) {
    TToolDialog::showEvent(e);
    pending_ = false;
    subpixel_ = 0;
    editCounter_ = 0;
    linker_.reset();
    if (!state_.HasImage()) return;
    linker_ = std::make_unique<TSizeLinker>(state_.ImageWidth(), state_.ImageHeight());
    syncing_ = true;
    PropSize->setChecked(CanvasMode == 0);
    syncing_ = false;
    linker_->Constrained = PropSize->isChecked();
    ShowValues();
    resizeSource_ = state_.SourceImage;  // its A = 0 pixels are cleared already
    if (CanvasMode == 0) BleedTransparentColors(resizeSource_);
    previewHasAlpha_ = state_.HasAlpha;
    const bool canvas = CanvasMode != 0;
    MethodLabel->setVisible(!canvas);
    MethodBox->setVisible(!canvas);
    SharpIn->setVisible(!canvas);
    SharpOut->setVisible(!canvas);
    Anchor->setVisible(canvas);
    FastSizeBar->setVisible(!canvas);
    setWindowTitle(canvas ? "Canvas size" : "Image size");
    preview_ = resizeSource_;
    if (canvas) AnchorClick(anchor_);
    ResampleTimer->start();
}

void TResizeForm::ShowValues() {
    if (!linker_) return;
    syncing_ = true;
    const TSizeValues& v = linker_->Values();
    WidthBox->setValue(v.Width);
    HeightBox->setValue(v.Height);
    WidthPercentBox->setValue(v.WidthPercent);
    HeightPercentBox->setValue(v.HeightPercent);
    syncing_ = false;
}

void TResizeForm::EditChange(int tag) {
    if (!linker_ || tag < 1 || tag > 4) return;
    static constexpr TSizeField kFields[4] = {TSizeField::Width, TSizeField::Height, TSizeField::WidthPercent,
                                               TSizeField::HeightPercent};
    const std::array<QSpinBox*, 4> edits{WidthBox, HeightBox, WidthPercentBox, HeightPercentBox};
    // A refused value (0) puts the last good one back.
    linker_->Edit(kFields[tag - 1], edits[static_cast<size_t>(tag - 1)]->value());
    SizeChanged();
}

// A new size shows at once on the canvas; a resample waits for the next preview or OK.
void TResizeForm::SizeChanged() {
    ShowValues();
    if (CanvasMode != 0)
        PlaceOnCanvas();
    else
        pending_ = true;
    ++editCounter_;
}

void TResizeForm::FastSize(int tag) {
    if (!linker_) return;
    linker_->FastSize(tag);
    SizeChanged();
}

void TResizeForm::PropSizeClick(bool checked) {
    if (!linker_) return;
    linker_->Constrained = checked;
    if (checked) FastSize(1);
}

void TResizeForm::ResampleOptionsChange() {
    if (linker_ && isVisible() && CanvasMode == 0) Resample();
}

void TResizeForm::AnchorClick(int anchor) {
    anchor_ = anchor;
    for (int i = 0; i < 9; ++i) {
        QToolButton* b = AnchorButtons[static_cast<size_t>(i)];
        b->setChecked(i + 1 == anchor);
        const int glyph = AnchorGlyph(anchor, i + 1);
        b->setIcon(glyph ? Glyph(glyph) : QIcon());
    }
    if (CanvasMode != 0) PlaceOnCanvas();
}

TResizeOptions TResizeForm::Options() const {
    TResizeOptions o;
    o.Filter = MethodBox->currentIndex();
    o.SharpenInMore = SharpInMore->isChecked();
    o.SharpenInAmount = SharpInAmount->value();
    o.SharpenOutMore = SharpOutMore->isChecked();
    o.SharpenOutAmount = SharpOutAmount->value();
    o.SubpixelAmount = subpixel_;
    o.HasAlpha = state_.HasAlpha;
    return o;
}

void TResizeForm::Resample() {
    if (!linker_) return;
    preview_ = ResizeImage(resizeSource_, linker_->TargetWidth(), linker_->TargetHeight(), Options());
    previewHasAlpha_ = state_.HasAlpha;
    pending_ = false;
    ShowPreview();
}

void TResizeForm::PlaceOnCanvas() {
    if (!linker_) return;
    const int32_t w = linker_->TargetWidth(), h = linker_->TargetHeight();
    TPixelRec fill;
    ClearPixel(state_, fill);
    preview_ = jx::PlaceOnCanvas(resizeSource_, w, h, anchor_, fill);
    previewHasAlpha_ = CanvasHasAlpha(linker_->StartWidth(), linker_->StartHeight(), w, h, state_.HasAlpha);
    ShowPreview();
}

void TResizeForm::ShowPreview() {
    if (host_.ShowPreview) host_.ShowPreview(ToQImage(preview_));
}

void TResizeForm::ResampleTick() {
    if (pending_ && editCounter_ == 0) Resample();
    editCounter_ = 0;
}

void TResizeForm::keyPressEvent(QKeyEvent* e) {
    const QString t = e->text();
    if (CanvasMode == 0 && (t == "+" || t == "-")) {
        subpixel_ = t == "+" ? std::min(255, subpixel_ + 32) : std::max(0, subpixel_ - 32);
        Resample();
        return;
    }
    TToolDialog::keyPressEvent(e);
}

void TResizeForm::OkClick() {
    if (!linker_) {
        accept();
        return;
    }
    // A resample still waiting runs now, once, before the commit.
    if (pending_) Resample();
    TToolCommit c;
    c.Source = preview_;
    RefreshSourcePixels(state_, c.Source, previewHasAlpha_);
    c.Mask = TByteImage(c.Source.Width(), c.Source.Height(), 0);
    c.MaskChanged = true;
    c.HasAlpha = previewHasAlpha_;
    ResampleTimer->stop();
    Commit(std::move(c));
    accept();
}

void TResizeForm::ToolClose() {
    ResampleTimer->stop();
    pending_ = false;
    if (host_.ShowPreview) host_.ShowPreview(QImage());
    resizeSource_.Clear();
    preview_.Clear();
    linker_.reset();
}

}  // namespace jx
