// Undo and redo: the tool-bar buttons and Ctrl+Z / Ctrl+Y. They run whether or not the buttons
// are enabled; the store's own guards keep them harmless at either end.
#include "gui/command_router.h"
#include "gui/main_form.h"

namespace jx {

void TJXMainForm::ToolButton25Click() {
    if (Locked()) return;
    Guard([&] { undoStore_->Undo(state_, Settings(), *this); });
}

void TJXMainForm::ToolButton26Click() {
    if (Locked()) return;
    Guard([&] { undoStore_->Redo(state_, Settings(), *this); });
}

namespace {

const TCommandRegistrar registrar([](TCommandRouter& r) {
    const auto ctrl = Qt::KeyboardModifiers(Qt::ControlModifier);
    r.Add({.Name = "Undo", .ToolButton = "ToolButton25", .Keys = {{Qt::Key_Z, ctrl}},
           .Run = [](TJXMainForm& f) { f.ToolButton25Click(); }});
    r.Add({.Name = "Redo", .ToolButton = "ToolButton26", .Keys = {{Qt::Key_Y, ctrl}},
           .Run = [](TJXMainForm& f) { f.ToolButton26Click(); }});
});

}  // namespace
}  // namespace jx
