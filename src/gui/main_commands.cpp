// The window's file and clipboard commands: open, drops, save as, copy, paste, batch.
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QFileInfo>
#include <QImage>
#include <QMimeData>

#include "edit/open_command.h"
#include "gui/alpha_menu.h"
#include "gui/batch_form.h"
#include "gui/command_router.h"
#include "gui/file_dialogs.h"
#include "gui/image_view.h"
#include "gui/main_form.h"
#include "gui/mask_crop_view.h"
#include "gui/picture_dialogs.h"
#include "gui/save_commands.h"
#include "gui/palette_panel.h"
#include "gui/quantizer_settings.h"
#include "gui/window_reports.h"
#include "platform/session.h"

namespace jx {
namespace {

const char* const kPaletteFilter =
    "Palettes (*.pal;*.act)|*.pal;*.act|JASC Palette (*.pal)|*.pal|Adobe Color Table File (*.act)|*.act";

}  // namespace

void TJXMainForm::OpenClick() {
    if (Locked()) return;
    TMyOpenPictureDialog* d = fileDialogs_->OpenPictureDialog();
    if (const QString folder = file_.DialogFolder(); !folder.isEmpty()) d->setDirectory(folder);
    if (d->exec() != QDialog::Accepted || d->FileName().isEmpty()) return;
    alphaCommands_->ClearTabs();
    OpenImage(d->FileName());
}

void TJXMainForm::OpenImage(const QString& fileName) {
    if (Locked()) return;
    Guard([&] {
        TQuantizerSettings settings = quantizerSettingsForm_->Settings();
        TOpenedFile current{file_.Name.toStdString(), file_.Size};
        TOpenTarget target{state_, settings, *reports_, current};
        if (session_ && !session_->Removed()) target.Tools.SessionFolder = session_->Path();
        cancel_.Clear();
        target.Tools.Cancel = &cancel_;
        target.Tools.Pump = [] { QApplication::processEvents(QEventLoop::AllEvents, 50); };
        if (!OpenImageCommand(target, fileName.toStdString(), *undoStore_,
                              [this](const std::string& w) { reports_->Warning(w); }))
            return;
        quantizerSettingsForm_->SetColorCountText(QString::fromStdString(settings.ColorCount));  // its last good count
        file_.Name = QString::fromStdString(current.Name);
        file_.Size = current.Size;
        // An icon's frame is a file in the session folder: the dialogs stay with the icon.
        const QString opened = QFileInfo(fileName).absoluteFilePath();
        if (!session_ || session_->Removed() || !FolderContains(session_->Path(), opened.toStdString()))
            file_.LastOpened = opened;
        alphaCommands_->ClearTabs();  // a split belongs to the image it was made from
        imageView_->setVisible(true);
    });
}

void TJXMainForm::ShowBatchForm(const QStringList& names) {
    if (Locked()) return;
    if (!batchForm_) batchForm_ = std::make_unique<TBatchForm>(this);
    if (!batchForm_->isVisible()) batchForm_->FormShow({});
    batchForm_->AddPaths(names);
    batchForm_->show();
    batchForm_->raise();
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
        alphaCommands_->ClearTabs();
        OpenImage(lastImage);
    }
    if (!lastPalette.isEmpty()) palettePanel_->LoadPalette(lastPalette);
}

void TJXMainForm::CopyClick() {
    if (Locked() || !state_.HasImage()) return;
    QApplication::clipboard()->setImage(maskCrop_->MaskMode() ? maskCrop_->MaskBitmap() : imageView_->Bitmap());
}

TQuantizerSettings TJXMainForm::Settings() const { return quantizerSettingsForm_->Settings(); }

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
        TOpenedFile current{file_.Name.toStdString(), file_.Size};
        TOpenTarget target{state_, settings, *reports_, current};
        if (!PasteCommand(target, bitmap, SessionPath(), *undoStore_, [this](const std::string& w) { reports_->Warning(w); }))
            return;
        quantizerSettingsForm_->SetColorCountText(QString::fromStdString(settings.ColorCount));
        file_.Name = QString::fromStdString(current.Name);
        file_.Size = current.Size;
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
