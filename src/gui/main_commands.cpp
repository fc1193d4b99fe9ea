// The window's file and clipboard commands: open, save as, copy, paste, batch.
#include <QApplication>
#include <QClipboard>
#include <QImage>

#include "edit/open_command.h"
#include "gui/command_router.h"
#include "gui/image_view.h"
#include "gui/main_form.h"
#include "gui/save_commands.h"
#include "gui/palette_panel.h"
#include "gui/quantizer_settings.h"

namespace jx {

void TJXMainForm::PasteClick() {
    if (Locked()) return;
    const QImage image = QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB888);
    if (image.isNull() || SessionPath().empty()) return;
    TClipboardBitmap bitmap{image.width(), image.height(), {}};
    bitmap.Bgr.reserve(size_t(image.width()) * size_t(image.height()) * 3);
    for (int y = 0; y < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x) bitmap.Bgr.insert(bitmap.Bgr.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
    }
    Guard([&] {
        TQuantizerSettings settings = Settings();
        TOpenedFile current{currentFileName_.toStdString(), currentFileSize_};
        TOpenTarget target{state_, settings, *this, current};
        if (!PasteCommand(target, bitmap, SessionPath(), *undoStore_, [this](const std::string& w) { Warning(w); }))
            return;
        quantizerSettingsForm_->SetColorCountText(QString::fromStdString(settings.ColorCount));
        currentFileName_ = QString::fromStdString(current.Name);
        currentFileSize_ = current.Size;
        imageView_->setVisible(true);
    });
}

namespace {

const TCommandRegistrar registrar([](TCommandRouter& r) {
    const auto ctrl = Qt::KeyboardModifiers(Qt::ControlModifier);
    r.Add({.Name = "Open", .ToolButton = "OpenButton", .Keys = {{Qt::Key_O, ctrl}},
           .Run = [](TJXMainForm& f) { f.OpenClick(); }});
    r.Add({.Name = "Batch processing", .ToolButton = "BatchButton",
           .Run = [](TJXMainForm& f) { f.ShowBatchForm(); }});
    r.Add({.Name = "Save As", .ToolButton = "SaveAsButton", .Keys = {{Qt::Key_S, ctrl}},
           .Run = [](TJXMainForm& f) { f.SaveCommands().SaveAsClick(); }});
    r.Add({.Name = "Copy", .ToolButton = "CopyButton", .Keys = {{Qt::Key_C, ctrl}, {Qt::Key_Insert, ctrl}},
           .NeedsImage = true, .Run = [](TJXMainForm& f) { f.CopyClick(); }});
    r.Add({.Name = "Paste", .ToolButton = "PasteButton",
           .Keys = {{Qt::Key_V, ctrl}, {Qt::Key_Insert, Qt::KeyboardModifiers(Qt::ShiftModifier)}},
           .Run = [](TJXMainForm& f) { f.PasteClick(); }});
    r.Add({.Name = "Load palette", .ToolButton = "LoadPaletteButton", .Run = [](TJXMainForm& f) { f.PalettePanel()->LoadPalClick(); }});
});

}  // namespace
}  // namespace jx
