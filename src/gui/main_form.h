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

// Where the quantizer settings dialog (frame size `dialog`) opens: beside the main window when
// the screen has room there, else over it but off `keepClear`; always within `available` (its
// top left kept on it when the dialog is larger).
QPoint SettingsDialogPlace(const QRect& main, const QSize& dialog, const QRect& keepClear, const QRect& available);

// The main window: the output image in a zoomable, scrollable view, the palette and settings panel
// on the right, tool bar and status bar. Owns the engine state and the undo store; its dialogs get
// a reference. Its rooms live in files of their own: main_form.cpp (layout, tool bar, engine
// reports), main_view.cpp (rendering the view, keys), image_view.h (zoom, pan, mouse, held-button
// views, histogram and magnifier), status_panels.h (status texts and progress), palette_panel.h
// (the right-hand panel), command_router.h (every route to a command, behind the lock) and one
// *_commands.cpp file per group of commands.
class TJXMainForm : public QMainWindow, public EditObserver {
    Q_OBJECT
public:
    // session may be null (then nothing is written to disk); settingsFile empty = no settings file.
    TJXMainForm(SessionFolder* session, std::string settingsFile, QWidget* parent = nullptr);
    ~TJXMainForm() override;

    EngineState& State() { return state_; }
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
    // Where the picture dialogs start: the folder of the file the user last opened (an icon's,
    // not its frame's in the session folder), or empty before any.
    QString DialogFolder() const;
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

    // Status texts of panels 0..4.
    QString StatusText(int panel) const;
    // Esc sets it; the child-tool runner and the PNG chain stop on it.
    CancelFlag& Cancel() { return cancel_; }
    bool CancelRequested() const { return cancel_.IsRequested(); }
    void ClearCancel() { cancel_.Clear(); }
    // True while a save runs its child tools (the window pumps events meanwhile).
    bool ToolRunning() const;
    // Closing while a save runs asks kStopSaveQuestion first; true stops the save and closes. A
    // hook set by tests stands in for the message box.
    static constexpr const char* kStopSaveQuestion = "The image is still being saved. Stop saving and close?";
    std::function<bool()> AskStopSave;

    // The status bar's panels and progress bar.
    TStatusPanels& StatusPanels() const { return *statusPanels_; }

    // Accessors for the views and controls (tests and dialogs).
    QToolBar* MainToolBar() const { return mainToolBar_; }
    // The right-hand panel, its controls and their handlers.
    TPalettePanel* PalettePanel() const { return palettePanel_; }
    QScrollArea* ImageScroll() const { return imageScroll_; }
    TImageView* ImageView() const { return imageView_; }
    const QImage& ViewImage() const { return view_; }
    THistogramBox* HistogramBox() const;

    // Tool dialogs that follow the main window when it moves.
    void RegisterToolDialog(TPointerform* dialog);
    // The image-editing tool dialogs, made once with the window.
    TToolDialogs& Tools() { return *tools_; }
    // A tool's preview of another size than the source, shown instead of WorkingImage; a null
    // image goes back to the normal view.
    void ShowToolPreview(const QImage& image);

    // Engine observer.
    void InfoClear() override;
    void InfoLine(const std::string& line) override;
    void BusyBegin() override;
    void BusyEnd() override;
    void ShowColorCount(const std::string& text) override;
    void Refresh(TRefreshTarget target) override;
    void SelectColorKey(uint32_t key) override;
    // Opening observer.
    bool ToolBarEnabled() override;
    void LeaveEditingModes() override;
    void ShowIconDialog(const std::string& fileName) override;
    void SourceReplaced(int32_t width, int32_t height, bool hasAlpha) override;
    void StatusText(int32_t panel, const std::string& text) override;
    void OpenWarning(const std::string& text) override;
    bool MaskEditing() override;
    void MaskPasted() override;
    void ClearFileTabs() override;
    // Editing reports.
    void ImageResized(int32_t width, int32_t height) override;
    void MaskRestored(bool hasMask) override;
    void PaletteTypeRestored(TPaletteType type) override;
    void Warning(const std::string& text) override;

    // Errors and refusals reach the user here: a message box, or the handler tests set.
    void ShowMessage(const QString& text);
    void SetMessageHandler(std::function<void(const QString&)> handler) { messageHandler_ = std::move(handler); }

    // The current settings of the quantizer dialog.
    TQuantizerSettings Settings() const;
    void SetStatus(int panel, const QString& text);

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
    friend class TPaletteCommands;  // the palette room draws into the grid, colour box and view
    friend class TMaskCropView;
    friend class THistogramBox;
    friend class TSaveCommands;  // the save dialog opens where the last image came from
    friend class TImageView;  // the image view's mouse reaches the engine, the modes and the panel
    void BuildToolBar();
    void BuildStatusBar();
    void UpdateLockedControls();
    bool KeyUp(QKeyEvent* e);
    bool KeyPress(QKeyEvent* e);
    void FormClose();

    EngineState state_;
    SessionFolder* session_;
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
    std::vector<QPointer<TPointerform>> toolDialogs_;  // a dialog may go before the window
    std::unique_ptr<TFileDialogs> fileDialogs_;
    std::unique_ptr<TSaveCommands> saveCommands_;

    QToolBar* mainToolBar_ = nullptr;
    QScrollArea* imageScroll_ = nullptr;
    TImageView* imageView_ = nullptr;
    TPalettePanel* palettePanel_ = nullptr;  // a child widget
    TStatusPanels* statusPanels_ = nullptr;

    QImage view_;       // what ImageView shows, at 1:1
    QImage toolPreview_;  // composited over the background; null when none shows
    QRect mainWindowRect_;
    int lockCount_ = 0;
    int busyDepth_ = 0;
    CancelFlag cancel_;
    std::vector<std::filesystem::path> installedTools_;
    bool closePending_ = false;  // a close asked for while busy, done when the work ends
    bool askingToStopSave_ = false;
    bool firstShowDone_ = false;
    bool closed_ = false;
    QString currentFileName_;
    qint64 currentFileSize_ = 0;
    QString lastOpenedPath_;
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
