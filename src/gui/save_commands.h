#pragma once
#include <QString>

#include "fileio/save_image.h"

namespace jx {

class TJXMainForm;

// "Save as" (also Ctrl+S) and the save it runs: the dialog, the request and the child tools.
class TSaveCommands {
public:
    explicit TSaveCommands(TJXMainForm& form) : form_(form) {}

    void SaveAsClick();
    // Writes the working image to fileName by the save dialog's filter index (1 PNG through the
    // optimisation chain, 2 GIF, 3 BMP, 4 TGA, 5 WebP, 6 JPEG); the extension follows the filter.
    // Status, info box and message box report the outcome; true when written.
    bool SaveAs(const QString& fileName, int filterIndex = 1);
    // The save's request for fileName: the session folder, the PNG options, Esc and the event pump.
    TSaveRequest MakeSaveRequest(const QString& fileName, int filterIndex);
    // A written PNG whose tools' work was undone (a failing script, a tool missing) is told in
    // the message box; the status panel already names the first reason.
    void ShowChainWarnings(const QString& fileName, const PngChainResult& chain);
    // True while a save runs its child tools (the window pumps events meanwhile).
    bool ToolRunning() const { return toolRunning_; }
    // "Lossy" of the save dialog: WebP goes through the quality dialog.
    bool SaveWebpLossy = false;

private:
    TJXMainForm& form_;
    bool toolRunning_ = false;
};

}  // namespace jx
