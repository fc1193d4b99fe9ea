// The image-editing tool dialogs: each opens modeless over the main window; while one is open
// the window is locked, so these routes cannot stack two tools.
#include "gui/alpha_conv.h"
#include "gui/color_correction.h"
#include "gui/command_router.h"
#include "gui/filter_form.h"
#include "gui/jpeg_filter_form.h"
#include "gui/main_form.h"
#include "gui/resize_form.h"
#include "gui/tool_host.h"

namespace jx {
namespace {

void ShowResize(TJXMainForm& f, uint8_t canvasMode) {
    TResizeForm* d = f.Tools().ResizeForm();
    if (d->isVisible()) return;
    d->CanvasMode = canvasMode;
    f.Tools().Show(d);
}

const TCommandRegistrar registrar([](TCommandRouter& r) {
    r.Add({.Name = "Color correction", .ToolButton = "ColorCorrectionButton", .NeedsImage = true,
           .Run = [](TJXMainForm& f) { f.Tools().Show(f.Tools().ColorCorrection()); }});
    r.Add({.Name = "Filter", .ToolButton = "FilterButton", .NeedsImage = true,
           .Run = [](TJXMainForm& f) { f.Tools().Show(f.Tools().JPEGFilterForm()); }});
    r.Add({.Name = "Smoothing", .ToolButton = "SmoothingButton", .NeedsImage = true,
           .Run = [](TJXMainForm& f) { f.Tools().Show(f.Tools().FilterForm()); }});
    r.Add({.Name = "Image resize", .ToolButton = "ImageResizeButton", .NeedsImage = true,
           .Run = [](TJXMainForm& f) { ShowResize(f, 0); }});
    r.Add({.Name = "Canvas resize", .ToolButton = "CanvasResizeButton", .NeedsImage = true,
           .Run = [](TJXMainForm& f) { ShowResize(f, 1); }});
    // The image view's menu item "Convert" > "Alpha to Simple transparency" (AlphaToSimple) runs this.
    r.Add({.Name = "Alpha to Simple transparency", .NeedsImage = true, .Run = [](TJXMainForm& f) {
               if (f.State().HasAlpha) f.Tools().Show(f.Tools().AConv());
           }});
});

}  // namespace
}  // namespace jx
