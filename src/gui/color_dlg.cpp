#include "gui/color_dlg.h"
#include "gui/glyphs.h"

#include <QClipboard>
#include <QCursor>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSpinBox>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <cmath>

namespace jx {
namespace {

QImage ToQImage(const TRgbPicture& p) {
    QImage img(p.Width, p.Height, QImage::Format_RGB32);
    for (int32_t y = 0; y < p.Height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int32_t x = 0; x < p.Width; ++x) {
            const uint8_t* d = p.Pixel(x, y);
            line[x] = qRgb(d[0], d[1], d[2]);
        }
    }
    return img;
}

// Dotted white lines and crosses drawn by inverting what lies below, so they show on any colour.
void XorPainter(QPainter& p, bool dotted) {
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    p.setPen(QPen(Qt::white, 1, dotted ? Qt::DotLine : Qt::SolidLine));
}

bool IsHexChar(QChar c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

TPickerImage::TPickerImage(int width, int height, QWidget* parent) : QWidget(parent) {
    setFixedSize(width, height);
    picture_ = QImage(width, height, QImage::Format_RGB32);
    picture_.fill(Qt::black);
}

void TPickerImage::SetPicture(const QImage& image) {
    picture_ = image;
    update();
}

void TPickerImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, picture_);
}

void TPickerImage::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    dragging_ = true;  // Qt keeps delivering the drag's moves here; outside positions clamp
    if (MouseDown) MouseDown(e->position().toPoint());
}

void TPickerImage::mouseMoveEvent(QMouseEvent* e) {
    if (dragging_ && MouseMove) MouseMove(e->position().toPoint());
}

void TPickerImage::mouseReleaseEvent(QMouseEvent* e) {
    if (!dragging_ || e->button() != Qt::LeftButton) return;
    dragging_ = false;
    if (MouseUp) MouseUp(e->position().toPoint());
}

bool EyedropperAvailable(const QString& platformName, const QString& sessionType) {
    if (platformName == "wayland") return false;  // a Wayland client may not read the screen
    if (platformName == "xcb") return true;       // X11, or XWayland inside a Wayland session
    // Other platform plugins: only where the session itself is X11.
    return sessionType.compare("x11", Qt::CaseInsensitive) == 0;
}

TColorDlgForm::TColorDlgForm(TJXMainForm* mainForm, EngineState& state)
    : TPointerform(mainForm, "Color dialog", kPlain), state_(state) {
    setObjectName("ColorDlgForm");
    GrabScreen = [this]() -> QImage {
        QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
        return s ? s->grabWindow(0).toImage() : QImage();
    };

    BuildPickerImages();
    BuildColorFields();
    BuildButtons();
    LayOutControls();
    SetColor(0, 0, 0, 255);
}

void TColorDlgForm::BuildPickerImages() {
    SquarePicker = new TPickerImage(kPickerSquareSize, kPickerSquareSize);
    HuePicker = new TPickerImage(kHueBarWidth, kHueBarHeight);
    AlphaPicker = new TPickerImage(kAlphaBarWidth, kAlphaBarHeight);
    NamedGrid = new TPickerImage(kNamedGridWidth, kNamedGridHeight);
    NamedGrid->SetPicture(ToQImage(DrawNamedGrid()));
    NewSwatch = new TPickerImage(394, 56);
    CurrentSwatch = new TPickerImage(54, 48);
    NearestSwatch = new TPickerImage(100, 48);
    RunnerUpSwatch = new TPickerImage(100, 48);
    hueBar_ = ToQImage(DrawHueBar(kHueBarWidth, kHueBarHeight));
    alphaBar_ = ToQImage(DrawAlphaBar(kAlphaBarWidth, kAlphaBarHeight));

    SquarePicker->MouseDown = SquarePicker->MouseMove = [this](QPoint p) { SquarePickerMouse(p); };
    HuePicker->MouseDown = HuePicker->MouseMove = [this](QPoint p) { HuePickerMouse(p); };
    AlphaPicker->MouseDown = AlphaPicker->MouseMove = [this](QPoint p) { AlphaPickerMouse(p); };
    NamedGrid->MouseDown = NamedGrid->MouseMove = [this](QPoint p) { NamedGridMouse(p, true); };
    CurrentSwatch->MouseDown = [this](QPoint) { AltColorClick(0); };
    NearestSwatch->MouseDown = [this](QPoint) { AltColorClick(1); };
    RunnerUpSwatch->MouseDown = [this](QPoint) { AltColorClick(2); };
}

void TColorDlgForm::BuildColorFields() {
    auto spin = [this](const QString& suffix, TPickerField field) {
        auto* s = new QSpinBox;
        // Wider than any field so that a typed 400 reaches the handler, which caps it.
        s->setRange(0, 999);
        s->setSuffix(suffix);
        connect(s, &QSpinBox::valueChanged, this, [this, field](int) { EditChange(field); });
        return s;
    };
    EditH = spin("°", TPickerField::H);
    EditS = spin("%", TPickerField::S);
    EditV = spin("%", TPickerField::V);
    EditR = spin("", TPickerField::R);
    EditG = spin("", TPickerField::G);
    EditB = spin("", TPickerField::B);
    EditA = spin("", TPickerField::A);
    EditHEX = new QLineEdit;
    EditHEX->setMaxLength(16);
    EditHEX->installEventFilter(this);
    connect(EditHEX, &QLineEdit::textChanged, this, [this](const QString&) {
        if (!hexTyping_ && !updating_) EditHEXChange();
    });
}

void TColorDlgForm::BuildButtons() {
    auto tool = [this](const QString& hint) {
        auto* b = new QToolButton;
        b->setToolTip(hint);
        b->setText(hint.section(' ', 0, 0));
        b->setAutoRaise(true);
        return b;
    };
    EyedropperButton = tool("Get color from screen");
    CopyCodeButton = tool("Copy color to clipboard");
    PasteCodeButton = tool("Paste color from clipboard");
    SetGlyph(EyedropperButton, gGetColor);
    SetGlyph(CopyCodeButton, gCopy);
    SetGlyph(PasteCodeButton, gPasteColor);
    EyedropperButton->setVisible(
        EyedropperAvailable(QGuiApplication::platformName(), qEnvironmentVariable("XDG_SESSION_TYPE")));
    connect(EyedropperButton, &QToolButton::clicked, this, [this] { EyedropperClick(); });
    connect(CopyCodeButton, &QToolButton::clicked, this, [this] { CopyCodeClick(); });
    connect(PasteCodeButton, &QToolButton::clicked, this, [this] { PasteCodeClick(); });

    OkButton = new QPushButton("OK");
    OkButton->setAutoDefault(false);
    OkButton->setDefault(false);
    connect(OkButton, &QPushButton::clicked, this, [this] {
        ApplyTypedHex();
        done(kModalYes);
    });
}

void TColorDlgForm::LayOutControls() {
    NamedColorsGroup = new QGroupBox("HTML Colors");
    {
        auto* l = new QVBoxLayout(NamedColorsGroup);
        l->addWidget(NamedGrid);
    }
    auto* fields = new QGridLayout;
    const std::pair<const char*, QSpinBox*> rows[] = {{"H:", EditH}, {"S:", EditS}, {"V:", EditV}, {"R:", EditR},
                                                      {"G:", EditG}, {"B:", EditB}, {"A:", EditA}};
    int r = 0;
    for (const auto& [label, box] : rows) {
        fields->addWidget(new QLabel(label), r, 0);
        fields->addWidget(box, r, 1);
        ++r;
    }
    fields->addWidget(new QLabel("#"), r, 0);
    fields->addWidget(EditHEX, r, 1);
    auto* tools = new QHBoxLayout;
    tools->addWidget(EyedropperButton);
    tools->addWidget(CopyCodeButton);
    tools->addWidget(PasteCodeButton);
    fields->addLayout(tools, r + 1, 0, 1, 2);

    auto* pickers = new QGridLayout;
    pickers->addWidget(SquarePicker, 0, 0);
    pickers->addWidget(HuePicker, 0, 1);
    pickers->addLayout(fields, 0, 2, Qt::AlignTop);
    pickers->addWidget(AlphaPicker, 1, 0);
    auto* swatches = new QHBoxLayout;
    swatches->addWidget(CurrentSwatch);
    swatches->addWidget(NearestSwatch);
    swatches->addWidget(RunnerUpSwatch);
    swatches->addStretch();
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(NewSwatch);
    bottom->addWidget(OkButton, 0, Qt::AlignBottom);
    auto* main = new QVBoxLayout(this);
    main->addLayout(pickers);
    main->addWidget(NamedColorsGroup);
    main->addLayout(swatches);
    main->addLayout(bottom);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void TColorDlgForm::SetColor(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    // Also the start colour, so that showing the dialog after SetColor keeps it.
    PickerColor = TPixelRec{};
    PickerColor.R = r;
    PickerColor.G = g;
    PickerColor.B = b;
    PickerColor.A = a;
    picker_.SetColor(r, g, b, a);
    DrawSwatch(CurrentSwatch, picker_.OpenColor(), false, "Current", QPoint(4, 2));
    UpdateControls();
}

std::optional<TPixelRec> TColorDlgForm::Pick(const TPixelRec& start) {
    PickerColor = start;
    if (exec() != kModalYes) return std::nullopt;
    return color_;
}

QSpinBox* TColorDlgForm::Edit(TPickerField field) const {
    switch (field) {
        case TPickerField::H: return EditH;
        case TPickerField::S: return EditS;
        case TPickerField::V: return EditV;
        case TPickerField::R: return EditR;
        case TPickerField::G: return EditG;
        case TPickerField::B: return EditB;
        case TPickerField::A: return EditA;
    }
    return EditH;
}

void TColorDlgForm::DrawSwatch(TPickerImage* image, const TPixelRec& c, bool newSwatch, const QString& caption,
                               QPoint at) {
    const QSize size = image->size();
    QImage img = ToQImage(DrawAlphaSwatch(size.width(), size.height(), c.R, c.G, c.B, c.A, newSwatch));
    QPainter p(&img);
    // The caption lies on the opaque half: dark text on light colours, light on dark.
    const int light = (c.R * 299 + c.G * 587 + c.B * 114) / 1000;
    p.setPen(light >= 128 ? Qt::black : Qt::white);
    p.drawText(QRect(at, QSize(size.width() - at.x(), size.height() / 2)), Qt::AlignLeft | Qt::AlignTop, caption);
    p.end();
    image->SetPicture(img);
}

void TColorDlgForm::UpdateControls() {
    updating_ = true;
    for (TPickerField f : {TPickerField::H, TPickerField::S, TPickerField::V, TPickerField::R, TPickerField::G,
                           TPickerField::B, TPickerField::A}) {
        QSpinBox* s = Edit(f);
        const QSignalBlocker block(s);
        s->setValue(picker_.FieldValue(f));
    }
    {
        const QSignalBlocker block(EditHEX);
        EditHEX->setText(QString::fromStdString(picker_.Hex()));
    }
    DrawPickers();
    DrawSwatch(NewSwatch, picker_.Color(), true, "New", QPoint(4, 6));
    const TNamedMatch m = picker_.Matches();
    for (auto [image, index] : {std::pair{NearestSwatch, m.Nearest}, {RunnerUpSwatch, m.Second}}) {
        TPixelRec c;
        const TRgbBytes rgb = NamedColorRgb(index);
        c.R = rgb.R;
        c.G = rgb.G;
        c.B = rgb.B;
        c.A = picker_.Color().A;
        DrawSwatch(image, c, false, NamedColors()[static_cast<size_t>(index)].DisplayName, QPoint(4, 2));
    }
    updating_ = false;
}

void TColorDlgForm::DrawPickers() {
    const THsv& h = picker_.Hsv();
    if (squareHue_ != h.Hue) {
        hueSquare_ = ToQImage(DrawPickerSquare(h.Hue, kPickerSquareSize, kPickerSquareSize));
        squareHue_ = h.Hue;
    }
    QImage square = hueSquare_;
    {
        QPainter p(&square);
        XorPainter(p, false);
        const TIntPoint m = SquareMarker(h.S, h.V, square.width(), square.height());
        p.drawLine(m.X - 8, m.Y, m.X - 2, m.Y);
        p.drawLine(m.X + 2, m.Y, m.X + 8, m.Y);
        p.drawLine(m.X, m.Y - 8, m.X, m.Y - 2);
        p.drawLine(m.X, m.Y + 2, m.X, m.Y + 8);
    }
    SquarePicker->SetPicture(square);
    QImage bar = hueBar_;
    {
        QPainter p(&bar);
        XorPainter(p, true);
        const int y = HueMarkerY(h.Hue, bar.height());
        p.drawLine(0, y, bar.width() - 1, y);
    }
    HuePicker->SetPicture(bar);
    QImage alpha = alphaBar_;
    {
        QPainter p(&alpha);
        XorPainter(p, true);
        const int x = AlphaMarkerX(picker_.Color().A, alpha.width());
        p.drawLine(x, 0, x, alpha.height() - 1);
    }
    AlphaPicker->SetPicture(alpha);
}

void TColorDlgForm::EditChange(TPickerField field) {
    if (updating_) return;
    QSpinBox* s = Edit(field);
    if (picker_.EditField(field, s->value())) {
        UpdateControls();
    } else if (s->value() != picker_.FieldValue(field)) {
        const QSignalBlocker block(s);  // capped to what it already was
        s->setValue(picker_.FieldValue(field));
    }
}

void TColorDlgForm::EditHEXChange() {
    if (picker_.ApplyHex(EditHEX->text().toStdString())) {
        UpdateControls();
        return;
    }
    const QSignalBlocker block(EditHEX);
    EditHEX->setText(QString::fromStdString(picker_.Hex()));
}

void TColorDlgForm::ApplyTypedHex() {
    if (!hexTyping_) return;
    hexTyping_ = false;
    EditHEXChange();
}

void TColorDlgForm::AltColorClick(int tag) {
    if (tag == 0) {
        picker_.RestoreOpenColor();
    } else {
        const TNamedMatch m = picker_.Matches();
        picker_.TakeNamed(tag == 1 ? m.Nearest : m.Second);
    }
    UpdateControls();
}

void TColorDlgForm::SquarePickerMouse(QPoint p) {
    picker_.PickSquare(p.x(), p.y(), SquarePicker->width(), SquarePicker->height());
    UpdateControls();
}

void TColorDlgForm::HuePickerMouse(QPoint p) {
    picker_.PickHue(p.y(), HuePicker->height());
    UpdateControls();
}

void TColorDlgForm::AlphaPickerMouse(QPoint p) {
    picker_.PickAlpha(p.x(), AlphaPicker->width());
    UpdateControls();
}

void TColorDlgForm::NamedGridMouse(QPoint p, bool dragging) {
    const int32_t index = NamedGridIndexAt(p.x(), p.y());
    picker_.TakeNamed(index);
    UpdateControls();
    if (dragging) {
        const QString name = NamedColors()[static_cast<size_t>(index)].DisplayName;
        NamedGrid->setToolTip(name);
        if (NamedGrid->isVisible()) QToolTip::showText(NamedGrid->mapToGlobal(p), name, NamedGrid);
    }
}

void TColorDlgForm::EyedropperClick() {
    const QImage shot = GrabScreen ? GrabScreen() : QImage();
    if (shot.isNull()) return;  // nothing could be read from the screen
    TEyedropperForm f(shot, this);
    if (QScreen* s = screen()) f.setGeometry(s->geometry());
    f.exec();
    if (const std::optional<QRgb> c = f.Picked())
        SetColor(static_cast<uint8_t>(qRed(*c)), static_cast<uint8_t>(qGreen(*c)), static_cast<uint8_t>(qBlue(*c)), 255);
}

void TColorDlgForm::CopyCodeClick() { QGuiApplication::clipboard()->setText(EditHEX->text()); }

void TColorDlgForm::PasteCodeClick() {
    {
        const QSignalBlocker block(EditHEX);
        EditHEX->setText(QGuiApplication::clipboard()->text());
    }
    if (!hexTyping_) EditHEXChange();
}

void TColorDlgForm::FormClose() {
    color_ = picker_.Color();
    color_.Weight = 0;
    state_.Convert(color_);
}

void TColorDlgForm::showEvent(QShowEvent* e) {
    if (!e->spontaneous()) {
        hexTyping_ = false;
        SetColor(PickerColor.R, PickerColor.G, PickerColor.B, PickerColor.A);
    }
    TPointerform::showEvent(e);
}

void TColorDlgForm::keyPressEvent(QKeyEvent* e) {
    // Enter belongs to the fields; only Esc (and the buttons) close.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) return;
    TPointerform::keyPressEvent(e);
}

bool TColorDlgForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == EditHEX && event->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(event);
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            hexTyping_ = false;
            EditHEXChange();
            return true;
        }
        if (k->key() == Qt::Key_Escape) return false;
        // Tab leaves the field with what was typed, as a click elsewhere does (below).
        if (k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab) {
            ApplyTypedHex();
            return false;
        }
        hexTyping_ = true;
        const QString t = k->text();
        const bool command = (k->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != 0;
        if (!command && t.size() == 1 && t[0].isPrint() && !IsHexChar(t[0])) return true;
    }
    if (watched == EditHEX && event->type() == QEvent::FocusOut) {
        // Leaving the field takes the code typed into it; another window coming up does not.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) ApplyTypedHex();
    }
    return TPointerform::eventFilter(watched, event);
}

TEyedropperForm::TEyedropperForm(const QImage& screenshot, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      shot_(screenshot.convertToFormat(QImage::Format_RGB32)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setCursor(Qt::CrossCursor);
    const qreal dpr = shot_.devicePixelRatio() > 0 ? shot_.devicePixelRatio() : 1.0;
    resize(static_cast<int>(shot_.width() / dpr), static_cast<int>(shot_.height() / dpr));
    MoveLoupe(QPoint(0, 0));
}

QPoint TEyedropperForm::ShotPoint(QPoint p) const {
    const qreal dpr = shot_.devicePixelRatio() > 0 ? shot_.devicePixelRatio() : 1.0;
    return QPoint(static_cast<int>(std::floor(p.x() * dpr)), static_cast<int>(std::floor(p.y() * dpr)));
}

QRgb TEyedropperForm::PixelAt(QPoint p) const {
    if (shot_.isNull()) return qRgb(0, 0, 0);
    const QPoint q = ShotPoint(p);
    const TIntPoint at = EyedropperPixel(q.x(), q.y(), shot_.width(), shot_.height());
    return shot_.pixel(at.X, at.Y);
}

QImage TEyedropperForm::DrawLoupe(QPoint p) const {
    const QPoint q = ShotPoint(p);
    const TIntPoint o = LoupeSourceOrigin(q.x(), q.y());
    // Parts outside the screen copy come out black.
    const QImage area = shot_.copy(o.X, o.Y, kLoupeSourceWidth, kLoupeSourceHeight);
    QImage loupe(kLoupeWidth, kLoupeHeight, QImage::Format_RGB32);
    loupe.fill(Qt::black);
    QPainter painter(&loupe);
    painter.drawImage(0, 0,
                      area.scaled(kLoupeSourceWidth * kLoupeZoom, kLoupeSourceHeight * kLoupeZoom, Qt::IgnoreAspectRatio,
                                  Qt::FastTransformation));
    XorPainter(painter, true);
    painter.drawRect(0, 0, kLoupeWidth - 1, kLoupeHeight - 1);
    const TIntRect f = LoupePickFrame();
    painter.drawRect(QRect(QPoint(f.Left - 1, f.Top - 1), QPoint(f.Right, f.Bottom)));
    return loupe;
}

void TEyedropperForm::MoveLoupe(QPoint p) {
    const TIntPoint at = LoupePosition(p.x(), p.y());
    loupePos_ = QPoint(at.X, at.Y);
    loupe_ = DrawLoupe(p);
    update();
}

void TEyedropperForm::PickAt(QPoint p) {
    picked_ = PixelAt(p);
    accept();
}

void TEyedropperForm::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(rect(), shot_);
    p.drawImage(loupePos_, loupe_);
}

void TEyedropperForm::mouseMoveEvent(QMouseEvent* e) { MoveLoupe(e->position().toPoint()); }

void TEyedropperForm::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) PickAt(e->position().toPoint());
}

void TEyedropperForm::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    MoveLoupe(mapFromGlobal(QCursor::pos()));
}

std::optional<QColor> PickOpaqueColor(QColor initial, const std::function<std::optional<TPixelRec>(const TPixelRec&)>& pick) {
    TPixelRec start;
    start.R = static_cast<uint8_t>(initial.red());
    start.G = static_cast<uint8_t>(initial.green());
    start.B = static_cast<uint8_t>(initial.blue());
    start.A = 255;
    const std::optional<TPixelRec> c = pick(start);
    if (!c) return std::nullopt;
    return QColor(c->R, c->G, c->B);
}

}  // namespace jx
