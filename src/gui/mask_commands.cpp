// The quality-mask brush and crop on the tool bar, and crop to the selection (Enter or a
// double-click on the view while Crop is down). The buttons' pressed states are checked by the
// handlers, so mask and crop mode refuse each other and a missing image.
#include "gui/command_router.h"
#include "gui/main_form.h"
#include "gui/mask_crop_view.h"

namespace jx {
namespace {

const TCommandRegistrar registrar([](TCommandRouter& r) {
    r.Add({.Name = "Edit quality mask", .ToolButton = "ToolButton8",
           .Run = [](TJXMainForm& f) { f.MaskCrop().ToolButton8Click(); }});
    r.Add({.Name = "Brush", .ToolButton = "ToolButton12", .Run = [](TJXMainForm& f) { f.MaskCrop().ToolButton12Click(); }});
    // Its pressed state is read at each stroke.
    r.Add({.Name = "Eraser", .ToolButton = "ToolButton10", .Run = [](TJXMainForm&) {}});
    r.Add({.Name = "Clear mask", .ToolButton = "ToolButton11", .NeedsImage = true,
           .Run = [](TJXMainForm& f) { f.MaskCrop().ToolButton11Click(); }});
    r.Add({.Name = "Crop", .ToolButton = "ToolButton17", .Run = [](TJXMainForm& f) { f.MaskCrop().ToolButton17Click(); }});
    r.Add({.Name = "Auto crop borders", .ToolButton = "ToolButton18", .NeedsImage = true,
           .Run = [](TJXMainForm& f) { f.MaskCrop().ToolButton18Click(); }});
    r.Add({.Name = "Crop to selection", .NeedsImage = true, .Run = [](TJXMainForm& f) { f.MaskCrop().CropImage(); }});
});

}  // namespace
}  // namespace jx
