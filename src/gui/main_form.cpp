#include "gui/main_form.h"
#include "gui/palette_commands.h"
#include "gui/options_commands.h"
#include "gui/palette_panel.h"

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

#include "gui/about_form.h"
#include "gui/alpha_menu.h"
#include "gui/batch_form.h"
#include "gui/color_dlg.h"
#include "gui/file_dialogs.h"
#include "gui/command_router.h"
#include "gui/glyphs.h"
#include "gui/grid_settings.h"
#include "gui/icon_form.h"
#include "gui/image_view.h"
#include "gui/lossy_form.h"
#include "gui/mask_crop_view.h"
#include "gui/options_form.h"
#include "gui/picture_dialogs.h"
#include "gui/pointer_form.h"
#include "gui/preview.h"
#include "gui/quantizer_settings.h"
#include "gui/save_commands.h"
#include "gui/save_question.h"
#include "gui/screen_capture.h"
#include "gui/status_panels.h"
#include "gui/taskbar_progress.h"
#include "gui/tool_host.h"
#include "edit/batch.h"
#include "edit/commit.h"
#include "edit/open_command.h"
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

const char* const kPaletteFilter =
    "Palettes (*.pal;*.act)|*.pal;*.act|JASC Palette (*.pal)|*.pal|Adobe Color Table File (*.act)|*.act";

// The session's named images that the close removes beside the tools (the undo files go with the folder).
const char* const kSessionFiles[] = {"WindowShot.bmp", "ScreenShot.bmp", "Opaque.bmp",     "Translucent.bmp",
                                     "Clipboard.bmp",  "Alpha.bmp",      "Original.bmp"};

bool IsTextEntry(QObject* o) {
    // An editable combo box gets the keys for its line edit.
    const auto* combo = qobject_cast<QComboBox*>(o);
    return qobject_cast<QLineEdit*>(o) || qobject_cast<QPlainTextEdit*>(o) || qobject_cast<QAbstractSpinBox*>(o) ||
           (combo && combo->isEditable());
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
    undoStore_ = std::make_unique<TURClass>(SessionPath());
    router_ = std::make_unique<TCommandRouter>(*this);
    router_->AddRegistered();

    BuildToolBar();
    auto* central = new QWidget;
    auto* h = new QHBoxLayout(central);
    h->setContentsMargins(0, 0, 0, 0);
    auto* leftSide = new QVBoxLayout;
    auto* fileTabs = new QTabBar;
    fileTabs->setVisible(false);  // tabs only while a split view exists
    imageScroll_ = new QScrollArea;
    imageScroll_->setObjectName("ImageScroll");
    imageScroll_->setFocusPolicy(Qt::StrongFocus);
    imageScroll_->setAlignment(Qt::AlignCenter);
    imageView_ = new TImageView(this, nullptr);
    imageView_->setObjectName("ImageView");
    // Until an image loads the view fills the box, so a click anywhere on it opens a file.
    imageScroll_->setWidget(imageView_);
    imageScroll_->setWidgetResizable(true);
    leftSide->addWidget(fileTabs);
    leftSide->addWidget(imageScroll_, 1);
    h->addLayout(leftSide, 1);
    palettePanel_ = new TPalettePanel(*this);
    h->addWidget(palettePanel_);
    setCentralWidget(central);
    BuildStatusBar();
    resize(900, 640);

    maskCrop_ = new TMaskCropView(*this);
    quantizerSettingsForm_ = new TQuantizerSettingsForm(this, state_);
    RegisterToolDialog(quantizerSettingsForm_);
    tools_ = std::make_unique<TToolDialogs>(*this);
    fileDialogs_ = std::make_unique<TFileDialogs>(*this);
    saveCommands_ = std::make_unique<TSaveCommands>(*this);
    capture_ = new TScreenCapture(*this);
    optionsCommands_ = std::make_unique<TOptionsCommands>(*this, settingsFile_);
    colorDlg_ = new TColorDlgForm(this, state_);
    quantizerSettingsForm_->PickColor = [this](QColor initial) {
        return PickOpaqueColor(initial, [this](const TPixelRec& start) { return PickColor(start); });
    };
    gridSettingsForm_ = new TGridSettingsForm(this, state_, [this] { RenderImageView(); },
                        [this](const TPixelRec& start) { return PickColor(start); });
    alphaCommands_ = new TAlphaCommands(*this, *fileTabs);
    QList<QAction*> buttons = mainToolBar_->actions();
    buttons << palettePanel_->LoadPaletteButton() << palettePanel_->findChild<QAction*>("SortPaletteButton") << palettePanel_->findChild<QAction*>("SavePaletteButton");
    router_->ConnectToolButtons(buttons);
    SetGlyph(palettePanel_->QuantizerSettingsButton(), gQuantizerSettings);
    SetGlyph(palettePanel_->findChild<QAction*>("SortPaletteButton"), gSortPalette);
    SetGlyph(palettePanel_->LoadPaletteButton(), gLoadPalette);
    SetGlyph(palettePanel_->findChild<QAction*>("SavePaletteButton"), gSavePalette);
    SetGlyph(palettePanel_->ApplyButton(), gApply, true);
    paletteCommands_ = new TPaletteCommands(*this, *palettePanel_->findChild<QLabel*>("PaletteGrid"),
                                            *palettePanel_->findChild<QLabel*>("SelectedColor"));
    undoStore_->ButtonsChanged = [this](bool undo, bool redo) {
        mainToolBar_->findChild<QAction*>("UndoButton")->setEnabled(undo);
        mainToolBar_->findChild<QAction*>("RedoButton")->setEnabled(redo);
    };
    undoStore_->UpdateButtons();
    qApp->installEventFilter(this);
}

TJXMainForm::~TJXMainForm() {
    qApp->removeEventFilter(this);
    // The window still closes once this part is gone (QWidget's destructor): the palette room's
    // filters must not see those events through a half-destroyed window.
    paletteCommands_->StopWatching();
    if (!closed_) FormClose();
    tools_.reset();  // their host reaches into this window's members, so they go first
}

void TJXMainForm::BuildToolBar() {
    mainToolBar_ = addToolBar("ToolBar1");  // the title the window's context menu shows
    mainToolBar_->setObjectName("MainToolBar");
    mainToolBar_->setMovable(false);
    // Glyphs only, the captions in the tooltips: every button fits at the default width.
    mainToolBar_->setIconSize(QSize(16, 16));
    mainToolBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    auto add = [this](const QString& name, const QString& hint, int glyph, bool enabled = true, bool check = false) {
        QAction* a = mainToolBar_->addAction(Glyph(glyph), hint);
        a->setObjectName(name);
        a->setToolTip(hint);
        a->setEnabled(enabled);
        a->setCheckable(check);
        return a;
    };
    // Every button starts disabled; the router enables and connects those that have a route.
    add("OpenButton", "Open", gOpen, false);
    add("BatchButton", "Batch processing", gBatch, false);
    add("SaveAsButton", "Save As", gSave, false);
    add("OptionsButton", "Options", gSettings, false);
    add("CopyButton", "Copy", gCopy, false);
    add("PasteButton", "Paste", gPaste, false);
    add("UndoButton", "Undo (Ctrl+z)", gUndo, false);
    add("RedoButton", "Redo (Ctrl+y)", gRedo, false);
    add("EditMaskButton", "Edit quality mask", gMask, false, true);
    add("BrushButton", "Brush", gBrush13, false);
    add("EraserButton", "Eraser", gEraser, false, true);
    add("ClearMaskButton", "Clear mask", gClearMask, false);
    add("ColorCorrectionButton", "Color correction", gColorCorrection, false);
    add("FilterButton", "Filter", gFilter, false);
    // Kept hidden: the smoothing dialog only previews and has no OK to keep its result.
    add("SmoothingButton", "Smoothing", gSmoothing, false)->setVisible(false);
    add("RecalculateButton", "Recalculate", gRecalculate, false);
    add("QuickAddButton", "Quick add color", gQuickAdd, false, true);
    add("ImageResizeButton", "Image resize", gImageResize, false);
    add("CanvasResizeButton", "Canvas resize", gCanvasResize, false);
    add("CropButton", "Crop", gCrop, false, true);
    add("AutoCropButton", "Auto crop borders", gAutoCrop, false);
    add("AboutButton", "About", gAbout, false);
}

void TJXMainForm::BuildStatusBar() {
    statusPanels_ = new TStatusPanels;
    statusBar()->addWidget(statusPanels_, 1);
}

void TJXMainForm::SetStatus(int panel, const QString& text) { statusPanels_->SetText(panel, text); }

QString TJXMainForm::StatusText(int panel) const { return statusPanels_->Text(panel); }

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
    if (options_.prtSc) capture_->RegisterCaptureHotKeys();
    imageView_->ForgetMouse();
    state_.BatchQuantize = false;
    state_.LumaShift = static_cast<uint8_t>(quantizerSettingsForm_->VisualPerception->value());
    if (session_) {
        // quillox from beside jx (or the build tree), the other tools from PATH. A failure is shown
        // and the window goes on: saving reports each missing tool when it runs.
        Guard([&] { installedTools_ = InstallTools(LocateTools(ExecutableDir()), session_->Path()); });
    }
    gridSettingsForm_->SetDefaults();
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
        // A save is asked about first: stopping it drops the file being written.
        e->ignore();
        if (askingToStopSave_ || closePending_) return;
        if (ToolRunning()) {
            askingToStopSave_ = true;
            const bool stop = AskStopSave ? AskStopSave()
                                          : QMessageBox::question(this, windowTitle(), kStopSaveQuestion,
                                                                  QMessageBox::Yes | QMessageBox::No,
                                                                  QMessageBox::No) == QMessageBox::Yes;
            askingToStopSave_ = false;
            if (!stop) return;
        }
        cancel_.Request();
        closePending_ = true;
        if (busyDepth_ == 0) QTimer::singleShot(0, this, [this] { close(); });  // it ended meanwhile
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
    capture_->UnregisterCaptureHotKeys();
    undoStore_->Clear();
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

bool TJXMainForm::ToolRunning() const { return saveCommands_->ToolRunning(); }

THistogramBox* TJXMainForm::HistogramBox() const { return palettePanel_->HistogramBox(); }

void TJXMainForm::UpdateLockedControls() {
    const bool enabled = lockCount_ == 0;
    mainToolBar_->setEnabled(enabled);
    palettePanel_->setEnabled(enabled);
    setAcceptDrops(enabled && firstShowDone_);
}

void TJXMainForm::ShowBatchForm(const QStringList& names) {
    if (Locked()) return;
    if (!batchForm_) batchForm_ = std::make_unique<TBatchForm>(this);
    if (!batchForm_->isVisible()) batchForm_->FormShow({});
    batchForm_->AddPaths(names);
    batchForm_->show();
    batchForm_->raise();
}

void TJXMainForm::OpenClick() {
    if (Locked()) return;
    TMyOpenPictureDialog* d = fileDialogs_->OpenPictureDialog();
    if (const QString folder = DialogFolder(); !folder.isEmpty()) d->setDirectory(folder);
    if (d->exec() != QDialog::Accepted || d->FileName().isEmpty()) return;
    ClearFileTabs();
    OpenImage(d->FileName());
}

void TJXMainForm::OpenImage(const QString& fileName) {
    if (Locked()) return;
    Guard([&] {
        TQuantizerSettings settings = quantizerSettingsForm_->Settings();
        TOpenedFile current{currentFileName_.toStdString(), currentFileSize_};
        TOpenTarget target{state_, settings, *this, current};
        if (session_ && !session_->Removed()) target.Tools.SessionFolder = session_->Path();
        cancel_.Clear();
        target.Tools.Cancel = &cancel_;
        target.Tools.Pump = [] { QApplication::processEvents(QEventLoop::AllEvents, 50); };
        if (!OpenImageCommand(target, fileName.toStdString(), *undoStore_,
                              [this](const std::string& w) { Warning(w); }))
            return;
        quantizerSettingsForm_->SetColorCountText(QString::fromStdString(settings.ColorCount));  // its last good count
        currentFileName_ = QString::fromStdString(current.Name);
        currentFileSize_ = current.Size;
        // An icon's frame is a file in the session folder: the dialogs stay with the icon.
        const QString opened = QFileInfo(fileName).absoluteFilePath();
        if (!session_ || session_->Removed() || !FolderContains(session_->Path(), opened.toStdString()))
            lastOpenedPath_ = opened;
        ClearFileTabs();  // a split belongs to the image it was made from
        imageView_->setVisible(true);
    });
}

bool TJXMainForm::ToolBarEnabled() { return !Locked(); }

void TJXMainForm::LeaveEditingModes() {
    // Crop and mask editing come with their commands; the undo store is cleared by the open
    // command right after this. The view goes back to 1:1.
    maskCrop_->LeaveModes();
    imageView_->ResetZoom();
}

void TJXMainForm::ClearFileTabs() { alphaCommands_->ClearTabs(); }

void TJXMainForm::ImageResized(int32_t, int32_t) {
    imageView_->ResetZoom();
    imageView_->ResizeToImage();
    maskCrop_->ImageResized();
}

void TJXMainForm::MaskRestored(bool hasMask) { maskCrop_->MaskRestored(hasMask); }

void TJXMainForm::PaletteTypeRestored(TPaletteType type) {
    quantizerSettingsForm_->SetPalType(static_cast<int>(type));
}

bool TJXMainForm::MaskEditing() { return maskCrop_->MaskMode(); }

void TJXMainForm::MaskPasted() { maskCrop_->MaskPasted(); }

void TJXMainForm::Warning(const std::string& text) { ShowMessage(QString::fromStdString(text)); }

TQuantizerSettings TJXMainForm::Settings() const { return quantizerSettingsForm_->Settings(); }

std::string TJXMainForm::SessionPath() const { return session_ && !session_->Removed() ? session_->Path() : std::string(); }

void TJXMainForm::ShowIconDialog(const std::string& fileName) {
    if (!session_ || session_->Removed()) {
        ShowMessage("There is no session folder for the icon's frames.");
        return;
    }
    lastOpenedPath_ = QFileInfo(QString::fromStdString(fileName)).absoluteFilePath();
    fileDialogs_->IconForm()->ShowFor(QString::fromStdString(fileName));
}

QString TJXMainForm::DialogFolder() const { return lastOpenedPath_.isEmpty() ? QString() : QFileInfo(lastOpenedPath_).path(); }

void TJXMainForm::SourceReplaced(int32_t, int32_t, bool) {
    // The last save's size belongs to the image before: the new one has not been written.
    SetStatus(4, QString());
    if (tools_) tools_->ImageOpened();
    imageView_->ResizeToImage();
}

void TJXMainForm::StatusText(int32_t panel, const std::string& text) {
    if (panel >= 0 && panel < 5) SetStatus(panel, QString::fromStdString(text));
}

void TJXMainForm::OpenWarning(const std::string& text) {
    // The last panel, where saving reports too: the newest word about the file is shown.
    SetStatus(4, QString::fromStdString(text));
}

void TJXMainForm::CopyClick() {
    if (Locked() || !state_.HasImage()) return;
    QApplication::clipboard()->setImage(maskCrop_->MaskMode() ? maskCrop_->MaskBitmap() : view_);
}

bool TJXMainForm::KeyUp(QKeyEvent* e) {
    const Qt::KeyboardModifiers m = e->modifiers() & ~Qt::KeypadModifier;
    const int k = e->key();
    if ((k == Qt::Key_Return || k == Qt::Key_Enter) && maskCrop_->CropDown()) {
        router_->Route("Crop to selection");  // with any shift state
        return true;
    }
    if (router_->KeyReleased(k, m)) return true;
    if (k == Qt::Key_Escape) {
        cancel_.Request();
        maskCrop_->Escape();
        return true;
    }
    return false;
}

bool TJXMainForm::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::Wheel)
        return QMainWindow::eventFilter(watched, event);
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || w->window() != this) return QMainWindow::eventFilter(watched, event);
    if (type == QEvent::KeyPress && !static_cast<QKeyEvent*>(event)->isAutoRepeat())
        router_->KeyPressed(static_cast<QKeyEvent*>(event)->key(), static_cast<QKeyEvent*>(event)->modifiers());
    if (ToolRunning()) {
        // While a save's tools run only Esc gets through: it stops them.
        auto* k = static_cast<QKeyEvent*>(event);
        if (type == QEvent::KeyRelease && k->key() == Qt::Key_Escape) cancel_.Request();
        return true;
    }
    if (Locked()) return type != QEvent::Wheel;  // every key route is closed while a tool dialog is open
    if (type == QEvent::Wheel) {
        if (!state_.HasImage() || (!imageScroll_->hasFocus() && !imageScroll_->isAncestorOf(QApplication::focusWidget())))
            return false;
        if (!(w == imageScroll_ || imageScroll_->isAncestorOf(w))) return false;
        imageView_->ZoomStep(static_cast<QWheelEvent*>(event)->angleDelta().y() > 0 ? '+' : '-');
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
    router_->Guarded([&] {
        QStringList names;
        for (const QUrl& url : e->mimeData()->urls())
            if (url.isLocalFile()) names << url.toLocalFile();
        e->acceptProposedAction();
        DropFiles(names);
    });
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
        ShowBatchForm(names);
        return;
    }
    if (!lastImage.isEmpty()) {
        ClearFileTabs();
        OpenImage(lastImage);
    }
    if (!lastPalette.isEmpty()) palettePanel_->LoadPalette(lastPalette);
}

void TJXMainForm::SelectColorKey(uint32_t key) { paletteCommands_->SelectColorKey(key); }

void TJXMainForm::InfoClear() { quantizerSettingsForm_->InfoText->clear(); }

void TJXMainForm::InfoLine(const std::string& line) {
    quantizerSettingsForm_->InfoText->appendPlainText(QString::fromStdString(line));
}

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
    // The count now in effect: what a refused text in either box goes back to.
    const QString t = QString::fromStdString(text);
    if (quantizerSettingsForm_)
        quantizerSettingsForm_->SetColorCountText(t);
    else
        palettePanel_->Colors()->ShowCount(t);
}

void TJXMainForm::Refresh(TRefreshTarget target) {
    switch (target) {
        case TRefreshTarget::Histogram:
            HistogramBox()->ForgetDrawing();
            HistogramBox()->ShowHistogram();
            break;
        case TRefreshTarget::ErrorMetrics:
            quantizerSettingsForm_->ShowErrorMetrics();
            break;
        case TRefreshTarget::ImageView:
            RenderImageView();
            break;
        case TRefreshTarget::PaletteGrid:
            paletteCommands_->PaletteRedrawn();
            break;
        case TRefreshTarget::SelectedColor:
            paletteCommands_->DrawSelectedColor();
            break;
        case TRefreshTarget::ShowImageView:
            imageView_->setVisible(true);
            break;
    }
}

}  // namespace jx
