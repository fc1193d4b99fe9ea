#pragma once
#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <QRect>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "edit/edit_observer.h"
#include "edit/undo_store.h"
#include "imaging/engine_state.h"
#include "imaging/preview.h"
#include "fileio/open_image.h"
#include "fileio/save_image.h"
#include "platform/cancel_flag.h"
#include "platform/settings.h"

class QPainter;
class QMouseEvent;
class QComboBox;
class QGroupBox;
class QLabel;
class QScrollArea;
class QTabBar;
class QToolBar;
class QTimer;
class QToolButton;
class QWidget;

namespace jx {

class SessionFolder;
class TAlphaCommands;
class TColorDlgForm;
class TFileDialogs;
class TSaveCommands;
class TGridSettingsForm;
class TCommandRouter;
class TBatchForm;
class TOptionsCommands;
class TScreenCapture;
class TQuantizerSettingsForm;
class TImageView;
class TPaletteCommands;
class TPalettePanel;
class TMaskCropView;
class THistogramBox;
class TPointerform;
class TToolDialogs;
class TStatusPanels;
class TWindowReports;

// Where the shown picture came from: the name and size the status bar reports (a paste keeps
// them), and the file the user last opened, whose folder the picture dialogs start in.
struct TWindowFile {
    QString Name;
    qint64 Size = 0;
    QString LastOpened;
    // LastOpened's folder (an icon's, not its frame's in the session folder), or empty before any.
    QString DialogFolder() const;
};

// Where the quantizer settings dialog (frame size `dialog`) opens: beside the main window when
// the screen has room there, else over it but off `keepClear`; always within `available` (its
// top left kept on it when the dialog is larger).
QPoint SettingsDialogPlace(const QRect& main, const QSize& dialog, const QRect& keepClear, const QRect& available);

// The main window: the output image in a zoomable, scrollable view, the palette and settings panel
// on the right, tool bar and status bar. Owns the engine state and the undo store; its dialogs get
// a reference. The rooms include this header and reach the window through what is public here;
// this header names them only. The window itself: main_form.cpp (what needs no room), main_build.cpp
// (making the rooms, first show, close), main_view.cpp (rendering the view, keys),
// main_commands.cpp (open, paste, copy, drops). Its rooms: window_reports.h (the engine's reports),
// image_view.h (zoom, pan, mouse, the view bitmap, histogram and magnifier), status_panels.h
// (status texts and progress), palette_panel.h (the right-hand panel), command_router.h (every
// route to a command, behind the lock) and one *_commands file per group of commands.
class TJXMainForm : public QMainWindow {
    Q_OBJECT
public:
    // session may be null (then nothing is written to disk); settingsFile empty = no settings file.
    TJXMainForm(SessionFolder* session, std::string settingsFile, QWidget* parent = nullptr);
    ~TJXMainForm() override;

    EngineState& State() { return state_; }
    // What the engine and the commands report to: every command is handed this observer.
    EditObserver& Reports();
    TQuantizerSettingsForm* QuantizerSettingsForm() const { return quantizerSettingsForm_; }
    TURClass& UndoStore() { return *undoStore_; }
    TCommandRouter& Router() { return *router_; }
    TPaletteCommands& PaletteCommands() { return *paletteCommands_; }
    // Mask painting and crop on the image view.
    TMaskCropView& MaskCrop() { return *maskCrop_; }
    TAlphaCommands& AlphaCommands() { return *alphaCommands_; }
    // The one colour picker and the grid settings, made with the window.
    TGridSettingsForm* GridSettingsForm() const { return gridSettingsForm_; }
    // Runs the colour picker modally (from start, else from the colour it last held); the colour
    // on "OK", nothing on cancel. A hook set by tests stands in for the dialog.
    std::optional<TPixelRec> PickColor(const std::optional<TPixelRec>& start);
    void SetColorPicker(std::function<std::optional<TPixelRec>(const std::optional<TPixelRec>&)> hook) {
        pickColorHook_ = std::move(hook);
    }
    // The session folder's path ending in '/', or empty without one.
    std::string SessionPath() const;
    // The shown picture's file and the last one opened.
    TWindowFile& File() { return file_; }
    JxOptions& Options() { return options_; }
    SessionFolder* Session() const { return session_; }
    // The Options and About buttons and their dialogs.
    TOptionsCommands& OptionsCommands() { return *optionsCommands_; }
    TScreenCapture* Capture() const { return capture_; }

    // First-show steps (settings, the tools placed in the session folder, defaults, the image
    // named on the command line); runs once.
    void FirstShow(const QString& commandLineImage);
    // The tools first show placed in the session folder (removed again at close).
    const std::vector<std::filesystem::path>& InstalledTools() const { return installedTools_; }

    // Decodes, counts and quantizes a picture file; a missing or unknown file does nothing.
    void OpenImage(const QString& fileName);
    // Dropped files: one image opens, several go to the batch window, a palette is loaded after.
    void DropFiles(const QStringList& names);
    // "Batch processing": the batch window, not modal, with these files in its list.
    void ShowBatchForm(const QStringList& names = {});
    TBatchForm* BatchForm() const { return batchForm_.get(); }

    // The main window's lock while a tool dialog is open: one counter that every route checks.
    void LockMainWindow();
    void UnlockMainWindow();
    bool Locked() const { return lockCount_ > 0; }
    int LockCount() const { return lockCount_; }

    QRect MainWindowRect() const { return mainWindowRect_; }

    // Handlers of the tool bar and their keys.
    void OpenClick();
    // "Save as" (also Ctrl+S) and the save it runs.
    TSaveCommands& SaveCommands() { return *saveCommands_; }
    // The picture dialogs, the icon frame dialog and the lossy quality dialog, made on first use.
    TFileDialogs& FileDialogs() { return *fileDialogs_; }
    void UndoClick();   // also Ctrl+Z
    void RedoClick();   // also Ctrl+Y
    void PasteClick();  // also Ctrl+V, Shift+Insert
    void CopyClick();

    // Draws the view bitmap (also asked for by the engine).
    void RenderImageView();

    // Esc sets it; the child-tool runner and the PNG chain stop on it.
    CancelFlag& Cancel() { return cancel_; }

    // The status bar's panels and progress bar.
    TStatusPanels& StatusPanels() const { return *statusPanels_; }

    // Accessors for the views and controls (tests and dialogs).
    QToolBar* MainToolBar() const { return mainToolBar_; }
    // The right-hand panel, its controls and their handlers.
    TPalettePanel* PalettePanel() const { return palettePanel_; }
    QScrollArea* ImageScroll() const { return imageScroll_; }
    // The view widget, which also holds the view bitmap.
    TImageView* ImageView() const { return imageView_; }

    // Tool dialogs that follow the main window when it moves.
    void RegisterToolDialog(QWidget* dialog);
    // The image-editing tool dialogs, made once with the window.
    TToolDialogs& Tools() { return *tools_; }

    // Errors and refusals reach the user here: a message box, or the handler tests set.
    void ShowMessage(const QString& text);
    void SetMessageHandler(std::function<void(const QString&)> handler) { messageHandler_ = std::move(handler); }

    // The current settings of the quantizer dialog.
    TQuantizerSettings Settings() const;

    // Runs f, showing an engine or file error in a message box; the window lives on.
    template <class F>
    bool Guard(F&& f);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void BuildToolBar();
    void UpdateLockedControls();
    bool KeyUp(QKeyEvent* e);
    bool KeyPress(QKeyEvent* e);
    void FormClose();

    EngineState state_;
    SessionFolder* session_;
    std::unique_ptr<TWindowReports> reports_;
    std::unique_ptr<TURClass> undoStore_;
    std::unique_ptr<TCommandRouter> router_;
    TPaletteCommands* paletteCommands_ = nullptr;  // a child of the window
    TMaskCropView* maskCrop_ = nullptr;  // a child object
    std::unique_ptr<TBatchForm> batchForm_;
    TAlphaCommands* alphaCommands_ = nullptr;      // a child of the window
    TColorDlgForm* colorDlg_ = nullptr;
    TGridSettingsForm* gridSettingsForm_ = nullptr;
    std::function<std::optional<TPixelRec>(const std::optional<TPixelRec>&)> pickColorHook_;
    std::string settingsFile_;
    JxOptions options_;
    TQuantizerSettingsForm* quantizerSettingsForm_ = nullptr;
    std::unique_ptr<TToolDialogs> tools_;
    TScreenCapture* capture_ = nullptr;
    std::unique_ptr<TOptionsCommands> optionsCommands_;
    std::vector<QPointer<QWidget>> toolDialogs_;  // a dialog may go before the window
    std::unique_ptr<TFileDialogs> fileDialogs_;
    std::unique_ptr<TSaveCommands> saveCommands_;

    QToolBar* mainToolBar_ = nullptr;
    QScrollArea* imageScroll_ = nullptr;
    TImageView* imageView_ = nullptr;
    TPalettePanel* palettePanel_ = nullptr;  // a child widget
    TStatusPanels* statusPanels_ = nullptr;

    QRect mainWindowRect_;
    int lockCount_ = 0;
    CancelFlag cancel_;
    std::vector<std::filesystem::path> installedTools_;
    bool firstShowDone_ = false;
    bool closed_ = false;
    TWindowFile file_;
    std::function<void(const QString&)> messageHandler_;
};

template <class F>
bool TJXMainForm::Guard(F&& f) {
    try {
        f();
        return true;
    } catch (const std::exception& e) {
        ShowMessage(QString::fromStdString(e.what()));
        return false;
    }
}

}  // namespace jx
