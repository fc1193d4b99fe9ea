// The main window's making, first show and close: the one place that builds every room and
// wires them to each other, so it includes them all and nothing includes it.
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QMessageBox>
#include <QScrollArea>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QSpinBox>
#include <cstdio>

#include "gui/alpha_menu.h"
#include "gui/batch_form.h"
#include "gui/color_dlg.h"
#include "gui/command_router.h"
#include "gui/file_dialogs.h"
#include "gui/glyphs.h"
#include "gui/grid_settings.h"
#include "gui/image_view.h"
#include "gui/main_form.h"
#include "gui/mask_crop_view.h"
#include "gui/options_commands.h"
#include "gui/palette_commands.h"
#include "gui/palette_panel.h"
#include "gui/pointer_form.h"
#include "gui/quantizer_settings.h"
#include "gui/save_commands.h"
#include "gui/screen_capture.h"
#include "gui/status_panels.h"
#include "gui/tool_host.h"
#include "gui/window_reports.h"
#include "fileio/tools.h"
#include "imaging/color_space.h"
#include "platform/session.h"
#include "platform/version.h"

namespace jx {
namespace {

// The session's named images that the close removes beside the tools (the undo files go with the folder).
const char* const kSessionFiles[] = {"WindowShot.bmp", "ScreenShot.bmp", "Opaque.bmp",     "Translucent.bmp",
                                     "Clipboard.bmp",  "Alpha.bmp",      "Original.bmp"};

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
    reports_ = std::make_unique<TWindowReports>(*this);
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
    statusPanels_ = new TStatusPanels;
    statusBar()->addWidget(statusPanels_, 1);
    resize(900, 640);

    maskCrop_ = new TMaskCropView(*this);
    imageView_->SetModes(*maskCrop_);
    imageView_->SetMagnifier(*palettePanel_->HistogramBox());
    quantizerSettingsForm_ = new TQuantizerSettingsForm(this, state_);
    quantizerSettingsForm_->AttachToWindow(*palettePanel_, *fileTabs);
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
    imageView_->ReleasedOnImage = [this](Qt::MouseButton button, QPoint at) { paletteCommands_->ImageReleased(button, at); };
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

EditObserver& TJXMainForm::Reports() { return *reports_; }

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

void TJXMainForm::closeEvent(QCloseEvent* e) {
    if (reports_->Busy()) {
        // A child tool or a long pass is running inside a pumped wait: stop it first, then close.
        // A save is asked about first: stopping it drops the file being written.
        e->ignore();
        if (saveCommands_->AskingToStop() || reports_->ClosePending()) return;
        if (saveCommands_->ToolRunning() && !saveCommands_->StopForClose(this)) return;
        cancel_.Request();
        reports_->CloseWhenIdle();
        if (!reports_->Busy()) QTimer::singleShot(0, this, [this] { close(); });  // it ended meanwhile
        return;
    }
    FormClose();
    QMainWindow::closeEvent(e);
}

void TJXMainForm::FormClose() {
    if (closed_) return;
    closed_ = true;
    for (const QPointer<QWidget>& d : toolDialogs_)
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

void TJXMainForm::UpdateLockedControls() {
    const bool enabled = lockCount_ == 0;
    mainToolBar_->setEnabled(enabled);
    palettePanel_->setEnabled(enabled);
    setAcceptDrops(enabled && firstShowDone_);
}

}  // namespace jx
