// The Options and About buttons.
#include <QToolBar>
#include <QWidget>

#include "gui/about_form.h"
#include "gui/command_router.h"
#include "gui/main_form.h"
#include "gui/options_form.h"
#include "platform/version.h"

namespace jx {

void TJXMainForm::OptionsClick() {
    if (Locked()) return;
    QWidget* button = mainToolBar_->widgetForAction(mainToolBar_->findChild<QAction*>("OptionsButton"));
    const QRect frame = frameGeometry();
    optionsForm_->move(frame.left() + (button ? button->x() : 0), frame.top() + (button ? button->height() : 0));
    optionsForm_->exec();
    // The dialog has edited the options in place; keep them now, not only at close.
    if (!settingsFile_.empty()) Guard([&] { SaveOptions(settingsFile_, options_, VersionText()); });
}

void TJXMainForm::AboutClick() {
    if (Locked()) return;
    aboutForm_->adjustSize();
    const QRect frame = frameGeometry();
    aboutForm_->move(frame.center() - QPoint(aboutForm_->width() / 2, aboutForm_->height() / 2));
    aboutForm_->exec();
}

namespace {

const TCommandRegistrar registrar([](TCommandRouter& r) {
    r.Add({.Name = "Options", .ToolButton = "OptionsButton", .Run = [](TJXMainForm& f) { f.OptionsClick(); }});
    r.Add({.Name = "About", .ToolButton = "AboutButton", .Run = [](TJXMainForm& f) { f.AboutClick(); }});
});

}  // namespace
}  // namespace jx
