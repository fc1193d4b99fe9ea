#include "gui/tool_host.h"

#include <QScreen>

#include "edit/commit.h"
#include "gui/alpha_conv.h"
#include "gui/color_correction.h"
#include "gui/color_dlg.h"
#include "gui/filter_form.h"
#include "gui/image_view.h"
#include "gui/jpeg_filter_form.h"
#include "gui/main_form.h"
#include "gui/quantizer_settings.h"
#include "gui/resize_form.h"
#include "imaging/preview.h"
#include "imaging/quantize.h"

namespace jx {

QImage CompositePreview(const EngineState& state, const QImage& preview) {
    if (preview.isNull()) return QImage();
    const QImage in = preview.convertToFormat(QImage::Format_ARGB32);
    QImage out(in.size(), QImage::Format_RGB32);
    for (int y = 0; y < in.height(); ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(in.constScanLine(y));
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < in.width(); ++x) {
            const QRgb p = src[x];
            const int a = qAlpha(p);
            if (a == 255) {
                dst[x] = p;
                continue;
            }
            const TRgbQuad bg = BackgroundAt(state, x, y);
            const auto mix = [a](int c, int b) { return (c * a + b * (255 - a) + 127) / 255; };
            dst[x] = qRgb(mix(qRed(p), bg.red), mix(qGreen(p), bg.green), mix(qBlue(p), bg.blue));
        }
    }
    return out;
}

namespace {

// A tool's preview of another size than the source, shown instead of the working image; a null
// image goes back to the normal view.
void ShowToolPreview(TJXMainForm& form, const QImage& image) {
    form.ImageView()->SetToolPreview(CompositePreview(form.State(), image));
    form.ImageView()->ResizeToImage();
    form.RenderImageView();
}

}  // namespace

TToolDialogs::TToolDialogs(TJXMainForm& form) : form_(form) {
    aConv_ = new TAConv(&form_, form_.State(), Host());
    resizeForm_ = new TResizeForm(&form_, form_.State(), Host());
    colorCorrection_ = new TColorCorrection(&form_, form_.State(), Host());
    jpegFilter_ = new TJPEGFilterForm(&form_, form_.State(), Host());
    filterForm_ = new TFilterForm(&form_, form_.State(), Host());
    for (TToolDialog* d : {static_cast<TToolDialog*>(aConv_), static_cast<TToolDialog*>(resizeForm_),
                           static_cast<TToolDialog*>(colorCorrection_), static_cast<TToolDialog*>(jpegFilter_),
                           static_cast<TToolDialog*>(filterForm_)})
        form_.RegisterToolDialog(d);
}

TToolDialogs::~TToolDialogs() {
    // Before the window's own members go: a dialog still shown gives its lock back through the host.
    delete filterForm_;
    delete jpegFilter_;
    delete colorCorrection_;
    delete resizeForm_;
    delete aConv_;
}

TToolHost TToolDialogs::Host() {
    TToolHost h;
    TJXMainForm* f = &form_;
    h.Commit = [this](TToolCommit c) { Commit(std::move(c)); };
    h.Lock = [f] { f->LockMainWindow(); };
    h.Unlock = [f] { f->UnlockMainWindow(); };
    h.Requantize = [f] {
        EngineState& state = f->State();
        if (!state.HasImage()) return;
        if (!f->Guard([&] { Quantize(state, f->Settings(), f->Reports()); })) {
            // Never leave a tool's preview behind as the image that Save writes.
            state.WorkingImage = state.SourceImage;
            f->RenderImageView();
        }
    };
    h.Refresh = [f] { f->RenderImageView(); };
    h.ShowPreview = [f](const QImage& image) { ShowToolPreview(*f, image); };
    h.PickColor = [f](QColor initial) {
        return PickOpaqueColor(initial, [f](const TPixelRec& start) { return f->PickColor(start); });
    };
    return h;
}

void TToolDialogs::Commit(TToolCommit c) {
    // The commit replaces the source, so a preview of another size has had its day.
    ShowToolPreview(form_, QImage());
    TQuantizerSettings settings = form_.Settings();
    const bool done = form_.Guard([&] {
        if (c.TrueColor) {
            // The count box shows what the quantizer is about to do, and the undo state keeps no palette.
            settings.ColorCount = "TrueColor";
            form_.Reports().ShowColorCount(settings.ColorCount);
        }
        TCommitOptions options;
        if (c.MaskChanged) options.Mask = std::move(c.Mask);
        options.HasAlpha = c.HasAlpha;
        CommitImage(form_.State(), std::move(c.Source), settings, form_.Reports(), form_.UndoStore(), std::move(options));
    });
    if (!done && settings.PaletteType == TPaletteType::Custom && !form_.State().LoadCustomPalette)
        form_.QuantizerSettingsForm()->PalTypeFallBack();
}

void TToolDialogs::Show(TToolDialog* dialog) {
    if (!dialog) return;
    if (!dialog->isVisible()) {
        dialog->adjustSize();
        const QRect m = form_.frameGeometry();
        dialog->move(m.center() - QPoint(dialog->width() / 2, dialog->height() / 2));
    }  // its show keeps it on the screen
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void TToolDialogs::ImageOpened() {
    if (filterForm_) filterForm_->ResetMode();
}

}  // namespace jx
