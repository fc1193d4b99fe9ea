// The Options and About buttons.
#include <QToolBar>
#include <QWidget>

#include "gui/about_form.h"
#include "gui/command_router.h"
#include "gui/main_form.h"
#include "gui/options_form.h"
#include "platform/version.h"

namespace jx {

void TJXMainForm::ToolButton7Click() {
    if (Locked()) return;
    QWidget* button = toolBar1_->widgetForAction(toolBar1_->findChild<QAction*>("ToolButton7"));
    const QRect frame = frameGeometry();
    optionsForm_->move(frame.left() + (button ? button->x() : 0), frame.top() + (button ? button->height() : 0));
    optionsForm_->exec();
    // The dialog has edited the options in place; keep them now, not only at close.
    if (!settingsFile_.empty()) Guard([&] { SaveOptions(settingsFile_, options_, VersionText()); });
}

void TJXMainForm::ToolButton20Click() {
    if (Locked()) return;
    aboutForm_->adjustSize();
    const QRect frame = frameGeometry();
    aboutForm_->move(frame.center() - QPoint(aboutForm_->width() / 2, aboutForm_->height() / 2));
    aboutForm_->exec();
}

namespace {

const TCommandRegistrar registrar([](TCommandRouter& r) {
    r.Add({.Name = "Options", .ToolButton = "ToolButton7", .Run = [](TJXMainForm& f) { f.ToolButton7Click(); }});
    r.Add({.Name = "About", .ToolButton = "ToolButton20", .Run = [](TJXMainForm& f) { f.ToolButton20Click(); }});
});

}  // namespace
}  // namespace jx
