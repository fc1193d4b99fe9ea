// The main window's view bitmap and its keys; the image view widget (image_view.h) zooms, pans
// and takes the mouse.
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QGroupBox>
#include <QKeyEvent>

#include "gui/command_router.h"
#include "gui/image_view.h"
#include "gui/main_form.h"
#include "gui/palette_panel.h"
#include "gui/palette_commands.h"
#include "gui/mask_crop_view.h"
#include "gui/preview.h"

namespace jx {

void TJXMainForm::RenderImageView() {
    if (!state_.HasImage()) return;
    view_ = toolPreview_.isNull() ? RenderImage(state_, imageView_->ViewOptions()) : toolPreview_;
    maskCrop_->Rendered();
    imageView_->update();
    if (isVisible()) imageScroll_->setFocus();
}

bool TJXMainForm::KeyPress(QKeyEvent* e) {
    if (!state_.HasImage()) return false;
    const QString t = e->text();
    if (t.size() != 1 || !t[0].isPrint()) return false;
    if (t[0] == QChar(96)) {
        palettePanel_->setVisible(!palettePanel_->isVisible());
        return true;
    }
    imageView_->ZoomStep(t[0].toLatin1());
    return t[0] == '+' || t[0] == '-';
}

}  // namespace jx
