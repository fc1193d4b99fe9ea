// The quality-mask brush and crop on the tool bar, and crop to the selection (Enter or a
// double-click on the view while Crop is down). The buttons' pressed states are checked by the
// handlers, so mask and crop mode refuse each other and a missing image.
#include "gui/command_router.h"
#include "gui/main_form.h"
#include "gui/mask_crop_view.h"

namespace jx {
namespace {

const TCommandRegistrar registrar([](TCommandRouter& r) {
    r.Add({.Name = "Edit quality mask", .ToolButton = "EditMaskButton",
           .Run = [](TJXMainForm& f) { f.MaskCrop().EditMaskClick(); }});
    r.Add({.Name = "Brush", .ToolButton = "BrushButton", .Run = [](TJXMainForm& f) { f.MaskCrop().BrushClick(); }});
    // Its pressed state is read at each stroke.
    r.Add({.Name = "Eraser", .ToolButton = "EraserButton", .Run = [](TJXMainForm&) {}});
    r.Add({.Name = "Clear mask", .ToolButton = "ClearMaskButton", .NeedsImage = true,
           .Run = [](TJXMainForm& f) { f.MaskCrop().ClearMaskClick(); }});
    r.Add({.Name = "Crop", .ToolButton = "CropButton", .Run = [](TJXMainForm& f) { f.MaskCrop().CropClick(); }});
    r.Add({.Name = "Auto crop borders", .ToolButton = "AutoCropButton", .NeedsImage = true,
           .Run = [](TJXMainForm& f) { f.MaskCrop().AutoCropClick(); }});
    r.Add({.Name = "Crop to selection", .NeedsImage = true, .Run = [](TJXMainForm& f) { f.MaskCrop().CropImage(); }});
});

}  // namespace
}  // namespace jx
