// Undo and redo: the tool-bar buttons and Ctrl+Z / Ctrl+Y. They run whether or not the buttons
// are enabled; the store's own guards keep them harmless at either end.
#include "gui/command_router.h"
#include "gui/main_form.h"

namespace jx {

void TJXMainForm::UndoClick() {
    if (Locked()) return;
    Guard([&] { undoStore_->Undo(state_, Settings(), Reports()); });
}

void TJXMainForm::RedoClick() {
    if (Locked()) return;
    Guard([&] { undoStore_->Redo(state_, Settings(), Reports()); });
}

namespace {

const TCommandRegistrar registrar([](TCommandRouter& r) {
    const auto ctrl = Qt::KeyboardModifiers(Qt::ControlModifier);
    r.Add({.Name = "Undo", .ToolButton = "UndoButton", .Keys = {{Qt::Key_Z, ctrl}},
           .Run = [](TJXMainForm& f) { f.UndoClick(); }});
    r.Add({.Name = "Redo", .ToolButton = "RedoButton", .Keys = {{Qt::Key_Y, ctrl}},
           .Run = [](TJXMainForm& f) { f.RedoClick(); }});
});

}  // namespace
}  // namespace jx
