#pragma once
// The question every save asks before it replaces a file. It is asked about the file the save will
// actually write, which may differ from the name typed: the format appends or swaps the extension.
#include <QString>
#include <functional>
#include <string>

class QFileDialog;
class QWidget;

namespace jx {

struct PngChainResult;
class TJXMainForm;

// True when no file is at `path` (a link is followed, as the save follows it), or when the user
// answers Yes to "<path> already exists. Do you want to replace it?"; No is the default.
bool ConfirmReplace(QWidget* parent, const QString& title, const QString& path);

// True when path's folder is sessionFolder or lies inside it (links resolved).
bool InSessionFolder(const std::string& sessionFolder, const QString& path);

// Runs a save dialog until it is cancelled (false) or accepted with a choice whose file, as
// `finalName` derives it from the dialog's state, is free or may be replaced (true); after a "No"
// the dialog comes back, as it does after a typed name with a double quote is refused with a
// message, or after a file in the window's session folder (removed when jx closes) is refused
// with a message. The dialog's own question is switched off: it would ask about the name typed,
// not the one written.
bool ExecSaveDialog(QFileDialog& dialog, const std::function<QString()>& finalName);

// A written PNG whose tools' work was undone (a failing script, a tool missing) is told in the
// window's message box; the status panel already names the first reason.
void ShowChainWarnings(TJXMainForm& form, const QString& fileName, const PngChainResult& chain);

}  // namespace jx
