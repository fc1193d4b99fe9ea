#pragma once
#include <QString>
#include <functional>

class QWidget;

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
    // True while a save runs its child tools (the window pumps events meanwhile).
    bool ToolRunning() const { return toolRunning_; }
    // Closing while a save runs asks kStopSaveQuestion over parent first; true stops the save. A
    // hook set by tests stands in for the message box.
    static constexpr const char* kStopSaveQuestion = "The image is still being saved. Stop saving and close?";
    std::function<bool()> AskStopSave;
    bool StopForClose(QWidget* parent);
    // True while that question is open: another close waits for its answer.
    bool AskingToStop() const { return askingToStop_; }

private:
    TJXMainForm& form_;
    bool toolRunning_ = false;
    bool askingToStop_ = false;
};

}  // namespace jx
