#include "gui/window_reports.h"

#include <QApplication>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTimer>

#include "gui/alpha_menu.h"
#include "gui/file_dialogs.h"
#include "gui/icon_form.h"
#include "gui/image_view.h"
#include "gui/main_form.h"
#include "gui/mask_crop_view.h"
#include "gui/palette_commands.h"
#include "gui/palette_panel.h"
#include "gui/quantizer_settings.h"
#include "gui/status_panels.h"
#include "gui/tool_host.h"
#include "platform/session.h"

namespace jx {

void TWindowReports::InfoClear() { form_.QuantizerSettingsForm()->InfoText->clear(); }

void TWindowReports::InfoLine(const std::string& line) {
    form_.QuantizerSettingsForm()->InfoText->appendPlainText(QString::fromStdString(line));
}

void TWindowReports::BusyBegin() {
    if (busyDepth_++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
}

void TWindowReports::BusyEnd() {
    if (busyDepth_ > 0 && --busyDepth_ == 0) {
        QApplication::restoreOverrideCursor();
        if (closePending_) QTimer::singleShot(0, &form_, [this] { form_.close(); });
    }
}

void TWindowReports::ShowColorCount(const std::string& text) {
    // The count now in effect: what a refused text in either box goes back to.
    const QString t = QString::fromStdString(text);
    if (form_.QuantizerSettingsForm())
        form_.QuantizerSettingsForm()->SetColorCountText(t);
    else
        form_.PalettePanel()->Colors()->ShowCount(t);
}

void TWindowReports::Refresh(TRefreshTarget target) {
    switch (target) {
        case TRefreshTarget::Histogram:
            form_.PalettePanel()->HistogramBox()->ForgetDrawing();
            form_.PalettePanel()->HistogramBox()->ShowHistogram();
            break;
        case TRefreshTarget::ErrorMetrics:
            form_.QuantizerSettingsForm()->ShowErrorMetrics();
            break;
        case TRefreshTarget::ImageView:
            form_.RenderImageView();
            break;
        case TRefreshTarget::PaletteGrid:
            form_.PaletteCommands().PaletteRedrawn();
            break;
        case TRefreshTarget::SelectedColor:
            form_.PaletteCommands().DrawSelectedColor();
            break;
        case TRefreshTarget::ShowImageView:
            form_.ImageView()->setVisible(true);
            break;
    }
}

void TWindowReports::SelectColorKey(uint32_t key) { form_.PaletteCommands().SelectColorKey(key); }

bool TWindowReports::ToolBarEnabled() { return !form_.Locked(); }

void TWindowReports::LeaveEditingModes() {
    // Crop and mask editing come with their commands; the undo store is cleared by the open
    // command right after this. The view goes back to 1:1.
    form_.MaskCrop().LeaveModes();
    form_.ImageView()->ResetZoom();
}

void TWindowReports::ShowIconDialog(const std::string& fileName) {
    if (form_.SessionPath().empty()) {
        form_.ShowMessage("There is no session folder for the icon's frames.");
        return;
    }
    form_.File().LastOpened = QFileInfo(QString::fromStdString(fileName)).absoluteFilePath();
    form_.FileDialogs().IconForm()->ShowFor(QString::fromStdString(fileName));
}

void TWindowReports::SourceReplaced(int32_t, int32_t, bool) {
    // The last save's size belongs to the image before: the new one has not been written.
    form_.StatusPanels().SetText(4, QString());
    form_.Tools().ImageOpened();
    form_.ImageView()->ResizeToImage();
}

void TWindowReports::StatusText(int32_t panel, const std::string& text) {
    if (panel >= 0 && panel < 5) form_.StatusPanels().SetText(panel, QString::fromStdString(text));
}

void TWindowReports::OpenWarning(const std::string& text) {
    // The last panel, where saving reports too: the newest word about the file is shown.
    form_.StatusPanels().SetText(4, QString::fromStdString(text));
}

bool TWindowReports::MaskEditing() { return form_.MaskCrop().MaskMode(); }

void TWindowReports::MaskPasted() { form_.MaskCrop().MaskPasted(); }

void TWindowReports::ClearFileTabs() { form_.AlphaCommands().ClearTabs(); }

void TWindowReports::ImageResized(int32_t, int32_t) {
    form_.ImageView()->ResetZoom();
    form_.ImageView()->ResizeToImage();
    form_.MaskCrop().ImageResized();
}

void TWindowReports::MaskRestored(bool hasMask) { form_.MaskCrop().MaskRestored(hasMask); }

void TWindowReports::PaletteTypeRestored(TPaletteType type) {
    form_.QuantizerSettingsForm()->SetPalType(static_cast<int>(type));
}

void TWindowReports::Warning(const std::string& text) { form_.ShowMessage(QString::fromStdString(text)); }

}  // namespace jx
