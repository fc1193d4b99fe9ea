#include "gui/tool_dialog.h"

#include <QShowEvent>

namespace jx {

TToolDialog::TToolDialog(TJXMainForm* owner, const QString& caption, EngineState& state, TToolHost host, bool locks)
    : TPointerform(owner, caption, kFades), state_(state), host_(std::move(host)), locks_(locks) {}

TToolDialog::~TToolDialog() {
    if (locked_ && host_.Unlock) host_.Unlock();
}

void TToolDialog::showEvent(QShowEvent* e) {
    if (locks_ && !locked_) {
        locked_ = true;
        if (host_.Lock) host_.Lock();
    }
    TPointerform::showEvent(e);
}

void TToolDialog::FormClose() {
    ToolClose();
    if (locked_) {
        locked_ = false;
        if (host_.Unlock) host_.Unlock();
    }
}

void TToolDialog::Commit(TToolCommit c) {
    if (host_.Commit) host_.Commit(std::move(c));
}

void TToolDialog::Requantize() {
    if (host_.Requantize) host_.Requantize();
}

void TToolDialog::Refresh() {
    if (host_.Refresh) host_.Refresh();
}

QImage ToQImage(const TPixelImage& image) {
    QImage out(image.Width(), image.Height(), QImage::Format_ARGB32);
    for (int32_t y = 0; y < image.Height(); ++y) {
        const TPixelRec* in = image[y];
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int32_t x = 0; x < image.Width(); ++x) line[x] = qRgba(in[x].R, in[x].G, in[x].B, in[x].A);
    }
    return out;
}

}  // namespace jx
