#include "gui/main_form.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QAbstractSpinBox>
#include <QSpinBox>
#include <QPlainTextEdit>
#include <cstdio>

#include "gui/image_view.h"
#include "gui/pointer_form.h"
#include "gui/preview.h"
#include "gui/quantizer_settings.h"
#include "fileio/open_image.h"
#include "fileio/png_chain.h"
#include "fileio/save_image.h"
#include "fileio/tools.h"
#include "imaging/color_space.h"
#include "imaging/color_tree.h"
#include "imaging/quantize.h"
#include "imaging/remap.h"
#include "platform/session.h"
#include "platform/version.h"

namespace jx {
namespace {

const char* const kOpenFilter =
    "All (*.webp;*.png;*.gif;*.jpg;*.jpeg;*.jpe;*.bmp;*.dib;*.ico;*.cur;*.psd;*.pdd;*.tga;*.vst;*.icb;*.vda;*.win)|"
    "*.webp;*.jpg;*.jpeg;*.jpe;*.bmp;*.dib;*.ico;*.cur;*.png;*.gif;*psd;*pdd;*.tga;*.vst;*.icb;*.vda;*.win|"
    "Google WebP (*.webp)|*.webp|Portable Network Graphic (*.png)|*.png|Graphics Interchange Format (*.gif)|*.gif|"
    "JPEG Image File (*.jpg;*.jpeg;*.jpe)|*.jpg;*.jpeg;*.jpe|Bitmaps (*.bmp; *.dib)|*.bmp;*.dib|"
    "Photoshop images (*.psd, *.pdd)|*.psd;*pdd|"
    "Truevision images (*.tga; *.vst; *.icb; *.vda; *.win)|*.tga;*.vst;*.icb;*.vda;*.win|Icons (*.ico)|*.ico|"
    "Cursors (*.cur)|*.cur";
const char* const kPaletteFilter =
    "Palettes (*.pal;*.act)|*.pal;*.act|JASC Palette (*.pal)|*.pal|Adobe Color Table File (*.act)|*.act";

// Its order gives the filter index SaveImage takes.
const char* const kSaveFilter =
    "Portable Network Graphic (*.png)|*.png|Graphics Interchange Format (*.gif)|*.gif|Bitmaps (*.bmp)|*.bmp|"
    "Truevision images (*.tga)|*.tga|Google WebP (*.webp)|*.webp|JPEG Image File (*.jpg)|*.jpg";

// The session's named images that the close removes beside the tools (the undo files go with the folder).
const char* const kSessionFiles[] = {"WindowShot.bmp", "ScreenShot.bmp", "Opaque.bmp",
                                     "Translucent.bmp", "Clipboard.bmp",  "Alpha.bmp"};

// "Desc (a;b)|a;b|..." as Qt's "Desc (a b);;...".
QString QtFilter(const QString& pipeFilter) {
    const QStringList parts = pipeFilter.split('|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString desc = parts[i];
        const int paren = desc.indexOf('(');
        if (paren > 0) desc = desc.left(paren).trimmed();
        QStringList pats = parts[i + 1].split(';', Qt::SkipEmptyParts);
        out << desc + " (" + pats.join(' ') + ")";
    }
    return out.join(";;");
}

bool IsTextEntry(QObject* o) {
    return qobject_cast<QLineEdit*>(o) || qobject_cast<QPlainTextEdit*>(o) || qobject_cast<QAbstractSpinBox*>(o);
}

}  // namespace

TJXMainForm::TJXMainForm(SessionFolder* session, std::string settingsFile, QWidget* parent)
    : QMainWindow(parent), session_(session), settingsFile_(std::move(settingsFile)) {
    setObjectName("JXMainForm");
    setWindowTitle("Mirelda");
    setMinimumWidth(560);
    setAcceptDrops(false);  // from the first show on

    state_.ColorConverter = ConvertLab;
    state_.AlphaBackground = TPixelRec{};
    state_.AlphaBackground.R = state_.AlphaBackground.G = state_.AlphaBackground.B = 255;
    state_.AlphaBackground.A = 0;
    state_.Convert(state_.AlphaBackground);

    BuildToolBar();
    auto* central = new QWidget;
    auto* h = new QHBoxLayout(central);
    h->setContentsMargins(0, 0, 0, 0);
    auto* leftSide = new QVBoxLayout;
    tabControl1_ = new QTabBar;
    tabControl1_->setVisible(false);  // tabs only while a split view exists
    scrollBox1_ = new QScrollArea;
    scrollBox1_->setObjectName("ScrollBox1");
    scrollBox1_->setFocusPolicy(Qt::StrongFocus);
    scrollBox1_->setAlignment(Qt::AlignCenter);
    image1_ = new TImageView(this, nullptr);
    image1_->setObjectName("Image1");
    image1_->setFixedSize(1, 1);
    scrollBox1_->setWidget(image1_);
    scrollBox1_->setWidgetResizable(false);
    leftSide->addWidget(tabControl1_);
    leftSide->addWidget(scrollBox1_, 1);
    h->addLayout(leftSide, 1);
    BuildPanel();
    h->addWidget(panel1_);
    setCentralWidget(central);
    BuildStatusBar();
    resize(900, 640);

    form5_ = new TForm5(this, state_);
    RegisterToolDialog(form5_);
    qApp->installEventFilter(this);
}

TJXMainForm::~TJXMainForm() {
    qApp->removeEventFilter(this);
    if (!closed_) FormClose();
}

void TJXMainForm::BuildToolBar() {
    toolBar1_ = addToolBar("ToolBar1");
    toolBar1_->setObjectName("ToolBar1");
    toolBar1_->setMovable(false);
    auto add = [this](const QString& name, const QString& hint, bool enabled = true, bool check = false) {
        QAction* a = toolBar1_->addAction(hint);
        a->setObjectName(name);
        a->setToolTip(hint);
        a->setEnabled(enabled);
        a->setCheckable(check);
        return a;
    };
    connect(add("ToolButton1", "Open"), &QAction::triggered, this, [this] { ToolButton1Click(); });
    connect(add("ToolButton35", "Batch processing"), &QAction::triggered, this, [this] { ShowBatchNotAvailable(); });
    // The buttons below wait for their commands: options, paste, undo, mask, filters, crop.
    connect(add("ToolButton2", "Save As"), &QAction::triggered, this, [this] { Button3Click(); });
    add("ToolButton7", "Options", false);
    connect(add("ToolButton4", "Copy"), &QAction::triggered, this, [this] { ToolButton4Click(); });
    add("ToolButton5", "Paste", false);
    add("ToolButton25", "Undo (Ctrl+z)", false);
    add("ToolButton26", "Redo (Ctrl+y)", false);
    add("ToolButton8", "Edit quality mask", false, true);
    add("ToolButton12", "Brush", false);
    add("ToolButton10", "Eraser", false, true);
    add("ToolButton11", "Clear mask", false);
    add("ToolButton13", "Color correction", false)->setVisible(false);
    add("ToolButton23", "Filter", false);
    add("ToolButton14", "Recalculate", false);
    add("ToolButton15", "Quick add color", false, true);
    add("ToolButton36", "Image resize", false);
    add("ToolButton37", "Canvas resize", false);
    add("ToolButton17", "Crop", false, true);
    add("ToolButton18", "Auto crop borders", false);
    add("ToolButton20", "About", false);
}

void TJXMainForm::BuildPanel() {
    panel1_ = new QWidget;
    panel1_->setObjectName("Panel1");
    panel1_->setFixedWidth(280);
    auto* v = new QVBoxLayout(panel1_);
    v->setContentsMargins(2, 2, 2, 2);
    groupBox1_ = new QGroupBox("Levels");
    auto* gl = new QVBoxLayout(groupBox1_);
    gl->setContentsMargins(2, 2, 2, 2);
    paintBox1_ = new TPaintBox(this, nullptr);
    paintBox1_->setFixedSize(264, 130);
    gl->addWidget(paintBox1_);
    v->addWidget(groupBox1_);

    scrollBox2_ = new QScrollArea;
    image2_ = new QLabel;
    image2_->setObjectName("Image2");
    image2_->setVisible(false);
    scrollBox2_->setWidget(image2_);
    scrollBox2_->setWidgetResizable(false);
    scrollBox2_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    v->addWidget(scrollBox2_, 1);

    auto* panel5 = new QWidget;
    auto* p5 = new QHBoxLayout(panel5);
    p5->setContentsMargins(0, 0, 0, 0);
    pngSpeedButton1_ = new QPushButton("OK");
    pngSpeedButton1_->setObjectName("PngSpeedButton1");
    pngSpeedButton1_->setToolTip("Apply");
    trackBar1_ = new QSlider(Qt::Horizontal);
    trackBar1_->setRange(-3, 3);
    trackBar1_->setValue(0);
    trackBar1_->setToolTip("Priority - gradients / colors");
    colors_ = new QComboBox;
    colors_->setObjectName("Colors");
    colors_->setToolTip("Number of colors");
    colors_->setEditable(true);
    colors_->setInsertPolicy(QComboBox::NoInsert);
    colors_->addItems({"16", "32", "64", "128", "256", "512", "1024", "2048", "4096", "TrueColor"});
    colors_->setCurrentIndex(9);
    p5->addWidget(pngSpeedButton1_);
    p5->addWidget(trackBar1_, 1);
    p5->addWidget(colors_);
    v->addWidget(panel5);

    auto* toolBar2 = new QToolBar("ToolBar2");
    toolButton27_ = toolBar2->addAction("Quantizer settings");
    toolButton27_->setObjectName("ToolButton27");
    toolButton27_->setCheckable(true);
    for (const char* name : {"Sort palette", "Load palette", "Save palette"}) toolBar2->addAction(name)->setEnabled(false);
    v->addWidget(toolBar2);
    image3_ = new QLabel;
    image3_->setObjectName("Image3");
    image3_->setFixedHeight(24);
    v->addWidget(image3_);

    connect(pngSpeedButton1_, &QPushButton::clicked, this, [this] { PngSpeedButton1Click(); });
    connect(trackBar1_, &QSlider::valueChanged, this, &TJXMainForm::TrackBar1Change);
    connect(colors_, &QComboBox::editTextChanged, this, &TJXMainForm::ColorsChange);
    connect(colors_, &QComboBox::activated, this, [this](int) { ColorsSelect(); });
    connect(colors_->lineEdit(), &QLineEdit::returnPressed, this, &TJXMainForm::ColorsSelect);
    connect(toolButton27_, &QAction::triggered, this, &TJXMainForm::ToolButton27Click);
}

void TJXMainForm::BuildStatusBar() {
    const int widths[5] = {120, 120, 120, 150, 150};
    for (int i = 0; i < 5; ++i) {
        statusPanels_[static_cast<size_t>(i)] = new QLabel;
        statusPanels_[static_cast<size_t>(i)]->setMinimumWidth(widths[i]);
        statusBar()->addWidget(statusPanels_[static_cast<size_t>(i)]);
    }
}

void TJXMainForm::SetStatus(int panel, const QString& text) { statusPanels_[static_cast<size_t>(panel)]->setText(text); }

QString TJXMainForm::StatusText(int panel) const {
    return panel >= 0 && panel < 5 ? statusPanels_[static_cast<size_t>(panel)]->text() : QString();
}

void TJXMainForm::ShowMessage(const QString& text) {
    if (messageHandler_) {
        messageHandler_(text);
        return;
    }
    QMessageBox::warning(isVisible() ? this : nullptr, "Mirelda", text);
}

void TJXMainForm::FirstShow(const QString& commandLineImage) {
    if (firstShowDone_) return;
    firstShowDone_ = true;
    if (!settingsFile_.empty()) {
        std::string warning;
        options_ = LoadOptions(
            settingsFile_, VersionText(),
            [](const std::string& t) {
                if (t.empty()) return std::string();
                const QKeySequence k = QKeySequence::fromString(QString::fromStdString(t), QKeySequence::PortableText);
                return (k.count() == 1 && k[0].key() != Qt::Key_unknown) ? t : std::string();
            },
            &warning);
        if (!warning.empty()) std::fprintf(stderr, "jx: %s\n", warning.c_str());
    }
    lastMousePoint_ = QPoint(0, 0);
    mouseOutside_ = true;
    state_.BatchQuantize = false;
    state_.LumaShift = static_cast<uint8_t>(form5_->UpDown1->value());
    if (session_) {
        // quillox from beside jx (or the build tree), the other tools from PATH. A failure is shown
        // and the window goes on: saving reports each missing tool when it runs.
        Guard([&] { installedTools_ = InstallTools(LocateTools(ExecutableDir()), session_->Path()); });
    }
    state_.GridCellSize = 8;
    state_.GridColors[0].R = state_.GridColors[0].G = state_.GridColors[0].B = 255;
    state_.GridColors[1].R = state_.GridColors[1].G = state_.GridColors[1].B = 204;
    state_.GridColors[0].A = state_.GridColors[1].A = 255;
    state_.QuickAddPreview = false;
    mainWindowRect_ = frameGeometry();
    state_.PaletteSortType = 1;
    state_.DitherAmount = 0.75f;
    setAcceptDrops(true);
    if (!commandLineImage.isEmpty()) OpenImage(commandLineImage);
}

void TJXMainForm::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    mainWindowRect_ = frameGeometry();
}

void TJXMainForm::closeEvent(QCloseEvent* e) {
    if (busyDepth_ > 0) {
        // A child tool or a long pass is running inside a pumped wait: stop it first, then close.
        cancel_.Request();
        closePending_ = true;
        e->ignore();
        return;
    }
    FormClose();
    QMainWindow::closeEvent(e);
}

void TJXMainForm::FormClose() {
    if (closed_) return;
    closed_ = true;
    for (const QPointer<TPointerform>& d : toolDialogs_)
        if (d && d->isVisible()) d->close();
    if (session_) {
        for (const std::filesystem::path& tool : installedTools_) session_->RemoveFile(tool.filename().string());
        installedTools_.clear();
        for (const char* name : kSessionFiles) session_->RemoveFile(name);
        // The undo files and whatever else the session left go with the folder, so none is left behind.
        session_->RemoveAll();
    }
    if (!settingsFile_.empty()) {
        try {
            SaveOptions(settingsFile_, options_, VersionText());
        } catch (const std::exception& ex) {
            std::fprintf(stderr, "jx: %s\n", ex.what());
        }
    }
}

void TJXMainForm::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    mainWindowRect_ = frameGeometry();
}

void TJXMainForm::moveEvent(QMoveEvent* e) {
    QMainWindow::moveEvent(e);
    const QRect now = frameGeometry();
    const QPoint delta = now.topLeft() - mainWindowRect_.topLeft();
    mainWindowRect_ = now;
    if (delta.isNull() || !isVisible()) return;
    for (const QPointer<TPointerform>& d : toolDialogs_)
        if (d && d->isVisible()) d->move(d->pos() + delta);
}

void TJXMainForm::RegisterToolDialog(TPointerform* dialog) { toolDialogs_.push_back(dialog); }

void TJXMainForm::LockMainWindow() {
    ++lockCount_;
    UpdateLockedControls();
}

void TJXMainForm::UnlockMainWindow() {
    if (lockCount_ > 0) --lockCount_;
    UpdateLockedControls();
}

void TJXMainForm::UpdateLockedControls() {
    const bool enabled = lockCount_ == 0;
    toolBar1_->setEnabled(enabled);
    panel1_->setEnabled(enabled);
    setAcceptDrops(enabled && firstShowDone_);
}

void TJXMainForm::ShowBatchNotAvailable() {
    if (Locked()) return;
    ShowMessage("Batch processing is not available yet.");
}

void TJXMainForm::ToolButton1Click() {
    if (Locked()) return;
    const QString file = QFileDialog::getOpenFileName(this, "Open", QFileInfo(lastOpenedPath_).path(), QtFilter(kOpenFilter));
    if (file.isEmpty()) return;
    tabControl1_->setVisible(false);
    OpenImage(file);
}

void TJXMainForm::Button3Click() {
    if (Locked() || toolRunning_ || !state_.HasImage()) return;
    QString selected;
    const QString filters = QtFilter(kSaveFilter);
    QString start = lastOpenedPath_.isEmpty() ? QString() : QFileInfo(lastOpenedPath_).path();
    QString file = QFileDialog::getSaveFileName(this, "Save As", start, filters, &selected);
    if (file.isEmpty()) return;
    const int index = static_cast<int>(filters.split(";;").indexOf(selected)) + 1;
    SaveAs(file, index > 0 ? index : 1);
}

bool TJXMainForm::SaveAs(const QString& fileName, int filterIndex) {
    if (Locked() || toolRunning_ || !state_.HasImage()) return false;
    if (!session_ || session_->Removed()) {
        ShowMessage("There is no session folder to save through.");
        return false;
    }
    TSaveRequest request;
    request.fileName = fileName.toStdString();
    request.filterIndex = filterIndex;
    request.png.sessionFolder = session_->Path();
    request.png.options.level = options_.optimization;
    request.png.options.iter = options_.iter;
    request.png.options.ownScript = options_.own;
    request.png.options.showConsole = options_.showConsole;
    request.png.cancel = &cancel_;
    request.png.pump = [] { QApplication::processEvents(QEventLoop::AllEvents, 50); };
    request.pump = request.png.pump;

    // The commands stay closed while the tools run: the pumped events must not change the image
    // being written. Esc and a close still arrive and cancel.
    toolRunning_ = true;
    LockMainWindow();
    BusyBegin();
    TSaveResult result;
    const bool ok = Guard([&] { result = jx::SaveImage(state_, request); });
    toolRunning_ = false;
    UnlockMainWindow();
    BusyEnd();
    if (!ok) {
        SetStatus(4, "Error...");
        return false;
    }
    if (result.qualityDialog) {
        ShowMessage("The quality dialog for JPEG and lossy WebP is not available yet.");
        return false;
    }
    for (const std::string& w : result.png.warnings) InfoLine(w);
    if (!result.png.consoleOutput.empty()) InfoLine(result.png.consoleOutput);
    if (!result.infoLine.empty()) InfoLine(result.infoLine);
    SetStatus(4, QString::fromStdString(result.status));
    if (!result.png.message.empty()) ShowMessage(QString::fromStdString(result.png.message));
    return filterIndex != sfPng || result.png.outcome == PngChainResult::Outcome::Written;
}

void TJXMainForm::OpenImage(const QString& fileName) {
    if (Locked()) return;
    Guard([&] {
        TQuantizerSettings settings = form5_->Settings();
        TOpenedFile current{currentFileName_.toStdString(), currentFileSize_};
        TOpenTarget target{state_, settings, *this, current};
        if (!jx::OpenImage(target, fileName.toStdString())) return;
        form5_->SetColorCountText(QString::fromStdString(settings.ColorCount));  // its last good count
        currentFileName_ = QString::fromStdString(current.Name);
        currentFileSize_ = current.Size;
        lastOpenedPath_ = QFileInfo(fileName).absoluteFilePath();
        image1_->setVisible(true);
    });
}

bool TJXMainForm::ToolBarEnabled() { return !Locked(); }

void TJXMainForm::LeaveEditingModes() {
    // Crop, mask editing and undo come with their commands; the view goes back to 1:1.
    zoomShift_ = 0;
}

void TJXMainForm::ShowIconDialog(const std::string& fileName) {
    ShowMessage("Opening icons and cursors is not available yet: " + QString::fromStdString(fileName));
}

void TJXMainForm::SourceReplaced(int32_t, int32_t, bool) { ResizeImage1(); }

void TJXMainForm::StatusText(int32_t panel, const std::string& text) {
    if (panel >= 0 && panel < 5) SetStatus(panel, QString::fromStdString(text));
}

void TJXMainForm::PngSpeedButton1Click() {
    if (Locked() || !state_.HasImage()) return;
    int32_t n = 0;
    if (!form5_->AcceptColorCount(&n)) return;
    scrollBox1_->setFocus();
    Guard([&] {
        if (state_.ReconvertPending) {
            ApplyColorSpace(state_, form5_->ColorSpace->currentIndex());
            state_.ReconvertPending = false;
        }
        Quantize(state_, form5_->Settings(), *this);
    });
}

void TJXMainForm::Remap() {
    if (!state_.HasImage()) return;
    Guard([&] { ConvertImage(state_, form5_->Settings(), *this); });
}

void TJXMainForm::ToolButton27Click(bool down) {
    if (Locked()) return;
    if (down) {
        if (!form5_->isVisible()) {
            form5_->adjustSize();
            const QRect m = frameGeometry();
            form5_->move(m.center() - QPoint(form5_->width() / 2, form5_->height() / 2));
        }
        form5_->show();
        form5_->raise();
    } else {
        form5_->close();
    }
}

void TJXMainForm::ToolButton4Click() {
    if (Locked() || !state_.HasImage()) return;
    QApplication::clipboard()->setImage(view_);
}

void TJXMainForm::ColorsChange(const QString& text) {
    if (text.isEmpty()) {
        colors_->setEditText("16");
        return;
    }
    if (form5_ && form5_->Colors->currentText() != text) form5_->Colors->setEditText(text);
}

void TJXMainForm::ColorsSelect() {
    if (Locked()) return;
    form5_->Colors->setEditText(colors_->currentText());
    form5_->ColorsSelect();
}

void TJXMainForm::TrackBar1Change(int position) {
    if (form5_ && form5_->TrackBar2->value() != position) form5_->TrackBar2->setValue(position);
    if (trackBar1_->value() != position) trackBar1_->setValue(position);
}

void TJXMainForm::ResizeImage1() {
    if (!state_.HasImage()) return;
    image1_->setFixedSize(state_.ImageWidth() << zoomShift_, state_.ImageHeight() << zoomShift_);
}

void TJXMainForm::ZoomStep(char c) {
    QScrollBar* hb = scrollBox1_->horizontalScrollBar();
    QScrollBar* vb = scrollBox1_->verticalScrollBar();
    if (c == '+') {
        if (zoomShift_ < 4) {
            savedScroll_[static_cast<size_t>(zoomShift_)] = {vb->value(), hb->value()};
            ++zoomShift_;
            const int v = vb->value() * 2 + scrollBox1_->viewport()->height() / 2;
            const int hh = hb->value() * 2 + scrollBox1_->viewport()->width() / 2;
            ResizeImage1();
            hb->setValue(hh);
            vb->setValue(v);
        }
    } else if (c == '-') {
        if (zoomShift_ > 0) {
            --zoomShift_;
            ResizeImage1();
            const auto [v, hh] = savedScroll_[static_cast<size_t>(zoomShift_)];
            vb->setValue(v);
            hb->setValue(hh);
        }
    }
}

void TJXMainForm::ZoomActual() {
    zoomShift_ = 0;
    ResizeImage1();
}

QPoint TJXMainForm::ImagePoint(QPoint p) const { return QPoint(p.x() >> zoomShift_, p.y() >> zoomShift_); }

void TJXMainForm::RenderImageView() {
    if (!state_.HasImage()) return;
    view_ = RenderImage(state_, viewOptions_);
    image1_->update();
    if (isVisible()) scrollBox1_->setFocus();
}

void TJXMainForm::DrawPaletteView() {
    const QImage grid = DrawPaletteGrid(state_);
    if (grid.isNull()) {
        image2_->setVisible(false);
        return;
    }
    image2_->setPixmap(QPixmap::fromImage(grid));
    image2_->setFixedSize(grid.size());
    image2_->setVisible(true);
}

void TJXMainForm::DrawHistogramView() {
    if (!mouseOutside_) return;
    magnifier_ = DrawHistogram(state_, paintBox1_->size(), palette().button().color());
    paintBox1_->update();
}

void TJXMainForm::PaintBox1Paint(QPainter& p) {
    if (magnifier_.isNull() && state_.HasImage())
        magnifier_ = DrawHistogram(state_, paintBox1_->size(), palette().button().color());
    if (!magnifier_.isNull()) p.drawImage(0, 0, magnifier_);
}

void TJXMainForm::DrawZoomView(int x, int y) {
    if (!state_.HasImage() || view_.isNull()) return;
    const int w = paintBox1_->width(), h = paintBox1_->height();
    QImage box(w, h, QImage::Format_RGB32);
    box.fill(Qt::black);
    QPainter p(&box);
    const QRect src(x - w / 16, y - h / 16, w / 8, h / 8);
    p.drawImage(QRect(0, 0, w, h), view_, src);
    p.setCompositionMode(QPainter::RasterOp_NotSourceAndNotDestination);
    p.setPen(QColor(255, 0, 0));
    p.drawLine(0, h / 2, w, h / 2);
    p.drawLine(w / 2, 0, w / 2, h);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (x >= 0 && y >= 0 && x < state_.ImageWidth() && y < state_.ImageHeight() &&
        state_.WorkingImage.SameShape(state_.SourceImage)) {
        const TPixelRec& o = state_.WorkingImage[y][x];
        p.fillRect(0, 0, 80, 32, QColor(o.R, o.G, o.B));
        DrawCaption(p, 2, QString("X:%1 Y:%2").arg(x).arg(y), 0);
        DrawCaption(p, 2,
                    "#" + QString("%1%2%3%4")
                              .arg(state_.HasAlpha ? o.A : 0, 2, 16, QChar('0'))
                              .arg(o.R, 2, 16, QChar('0'))
                              .arg(o.G, 2, 16, QChar('0'))
                              .arg(o.B, 2, 16, QChar('0'))
                              .toUpper(),
                    16);
    }
    p.end();
    magnifier_ = box;
    paintBox1_->update();
}

void TJXMainForm::Image1MouseDown(QMouseEvent* e) {
    if (Locked() || !state_.HasImage() || e->button() != Qt::LeftButton) return;
    scrollBox1_->setFocus();
    panning_ = true;
    panAnchor_ = e->globalPosition().toPoint();
    const Qt::KeyboardModifiers m = e->modifiers();
    if (m == Qt::AltModifier) {
        viewOptions_.ShowErrorMap = true;
        RenderImageView();
    } else if (m == Qt::ControlModifier) {
        viewOptions_.ShowSourceOpaque = true;
        RenderImageView();
    } else if (m == (Qt::ControlModifier | Qt::ShiftModifier)) {
        viewOptions_.ShowAlphaChannel = true;
        RenderImageView();
    } else {
        view_ = ShowSource(state_);
        image1_->update();
    }
    const QPoint ip = ImagePoint(e->position().toPoint());
    DrawZoomView(ip.x(), ip.y());
}

void TJXMainForm::Image1MouseMove(QMouseEvent* e) {
    if (!state_.HasImage()) return;
    if (panning_) {
        const QPoint now = e->globalPosition().toPoint();
        const QPoint d = panAnchor_ - now;
        scrollBox1_->horizontalScrollBar()->setValue(scrollBox1_->horizontalScrollBar()->value() + d.x());
        scrollBox1_->verticalScrollBar()->setValue(scrollBox1_->verticalScrollBar()->value() + d.y());
        panAnchor_ = now;
    }
    const QPoint ip = ImagePoint(e->position().toPoint());
    lastMousePoint_ = ip;
    DrawZoomView(ip.x(), ip.y());
}

void TJXMainForm::Image1MouseUp(QMouseEvent* e) {
    if (Locked()) return;
    if (!state_.HasImage()) {
        ToolButton1Click();
        return;
    }
    panning_ = false;
    viewOptions_ = {};
    RenderImageView();
}

void TJXMainForm::Image1MouseEnter() {
    if (!state_.HasImage()) return;
    groupBox1_->setTitle("Zoom");
    mouseOutside_ = false;
    if (lastMousePoint_.x() < state_.ImageWidth() && lastMousePoint_.y() < state_.ImageHeight())
        DrawZoomView(lastMousePoint_.x(), lastMousePoint_.y());
}

void TJXMainForm::Image1MouseLeave() {
    groupBox1_->setTitle("Levels");
    mouseOutside_ = true;
    DrawHistogramView();
}

bool TJXMainForm::KeyUp(QKeyEvent* e) {
    const Qt::KeyboardModifiers m = e->modifiers() & ~Qt::KeypadModifier;
    const int k = e->key();
    if (m == Qt::ControlModifier) {
        if (k == Qt::Key_C || k == Qt::Key_Insert) {
            ToolButton4Click();
            return true;
        }
        if (k == Qt::Key_O) {
            ToolButton1Click();
            return true;
        }
        if (k == Qt::Key_S) {
            Button3Click();
            return true;
        }
        // Ctrl+Y, Ctrl+Z, Ctrl+V and Shift+Insert wait for undo and paste.
    }
    if (k == Qt::Key_Escape) {
        cancel_.Request();
        return true;
    }
    return false;
}

bool TJXMainForm::KeyPress(QKeyEvent* e) {
    if (!state_.HasImage()) return false;
    const QString t = e->text();
    if (t.size() != 1 || !t[0].isPrint()) return false;
    if (t[0] == QChar(96)) {
        panel1_->setVisible(!panel1_->isVisible());
        return true;
    }
    ZoomStep(t[0].toLatin1());
    return t[0] == '+' || t[0] == '-';
}

bool TJXMainForm::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::Wheel)
        return QMainWindow::eventFilter(watched, event);
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || w->window() != this) return QMainWindow::eventFilter(watched, event);
    if (toolRunning_) {
        // While a save's tools run only Esc gets through: it stops them.
        auto* k = static_cast<QKeyEvent*>(event);
        if (type == QEvent::KeyRelease && k->key() == Qt::Key_Escape) cancel_.Request();
        return true;
    }
    if (Locked()) return type != QEvent::Wheel;  // every key route is closed while a tool dialog is open
    if (type == QEvent::Wheel) {
        if (!state_.HasImage() || (!scrollBox1_->hasFocus() && !scrollBox1_->isAncestorOf(QApplication::focusWidget())))
            return false;
        if (!(w == scrollBox1_ || scrollBox1_->isAncestorOf(w))) return false;
        ZoomStep(static_cast<QWheelEvent*>(event)->angleDelta().y() > 0 ? '+' : '-');
        return true;
    }
    auto* k = static_cast<QKeyEvent*>(event);
    if (type == QEvent::KeyRelease) return !k->isAutoRepeat() && KeyUp(k);
    if (IsTextEntry(w)) return false;  // typing into the colour-count box is not a view command
    return KeyPress(k);
}

void TJXMainForm::dragEnterEvent(QDragEnterEvent* e) {
    if (!Locked() && e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void TJXMainForm::dropEvent(QDropEvent* e) {
    if (Locked()) return;
    QStringList names;
    for (const QUrl& url : e->mimeData()->urls())
        if (url.isLocalFile()) names << url.toLocalFile();
    e->acceptProposedAction();
    DropFiles(names);
}

void TJXMainForm::DropFiles(const QStringList& names) {
    if (Locked()) return;
    QString lastImage, lastPalette;
    for (const QString& name : names) {
        const QFileInfo info(name);
        const QString ext = info.suffix().isEmpty() ? QString() : "." + info.suffix();
        if (!ext.isEmpty() && QString(kPaletteFilter).contains(ext))
            lastPalette = name;
        else
            lastImage = name;
    }
    if (names.size() > 1 && lastPalette.isEmpty()) {
        ShowBatchNotAvailable();
        return;
    }
    if (!lastImage.isEmpty()) {
        tabControl1_->setVisible(false);
        OpenImage(lastImage);
    }
    if (!lastPalette.isEmpty()) ShowMessage("Loading palettes is not available yet.");
}

void TJXMainForm::InfoClear() { form5_->Memo1->clear(); }

void TJXMainForm::InfoLine(const std::string& line) { form5_->Memo1->appendPlainText(QString::fromStdString(line)); }

void TJXMainForm::BusyBegin() {
    if (busyDepth_++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
}

void TJXMainForm::BusyEnd() {
    if (busyDepth_ > 0 && --busyDepth_ == 0) {
        QApplication::restoreOverrideCursor();
        if (closePending_) QTimer::singleShot(0, this, [this] { close(); });
    }
}

void TJXMainForm::ShowColorCount(const std::string& text) {
    const QString t = QString::fromStdString(text);
    if (colors_->currentText() != t) colors_->setEditText(t);
    if (form5_ && form5_->Colors->currentText() != t) form5_->Colors->setEditText(t);
}

void TJXMainForm::Refresh(TRefreshTarget target) {
    switch (target) {
        case TRefreshTarget::Histogram:
            magnifier_ = QImage();
            DrawHistogramView();
            break;
        case TRefreshTarget::ErrorMetrics:
            form5_->ShowErrorMetrics();
            break;
        case TRefreshTarget::ImageView:
            RenderImageView();
            break;
        case TRefreshTarget::PaletteGrid:
            DrawPaletteView();
            break;
        case TRefreshTarget::SelectedColor:
            break;
        case TRefreshTarget::ShowImageView:
            image1_->setVisible(true);
            break;
    }
}

}  // namespace jx
