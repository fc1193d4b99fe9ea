// The Options and About buttons.
#include <QToolBar>
#include <QWidget>

#include "gui/about_form.h"
#include "gui/command_router.h"
#include "gui/main_form.h"
#include "gui/options_commands.h"
#include "gui/options_form.h"
#include "platform/version.h"

namespace jx {

TOptionsCommands::TOptionsCommands(TJXMainForm& form, const std::string& settingsFile)
    : form_(form), settingsFile_(settingsFile) {
    optionsForm_ = new TOptionsForm(&form_, form_.Options(), form_.Capture());
    aboutForm_ = new TAboutForm(&form_);
}

void TOptionsCommands::OptionsClick() {
    if (form_.Locked()) return;
    QToolBar* toolBar = form_.MainToolBar();
    QWidget* button = toolBar->widgetForAction(toolBar->findChild<QAction*>("OptionsButton"));
    const QRect frame = form_.frameGeometry();
    optionsForm_->move(frame.left() + (button ? button->x() : 0), frame.top() + (button ? button->height() : 0));
    optionsForm_->exec();
    // The dialog has edited the options in place; keep them now, not only at close.
    if (!settingsFile_.empty()) form_.Guard([&] { SaveOptions(settingsFile_, form_.Options(), VersionText()); });
}

void TOptionsCommands::AboutClick() {
    if (form_.Locked()) return;
    aboutForm_->adjustSize();
    const QRect frame = form_.frameGeometry();
    aboutForm_->move(frame.center() - QPoint(aboutForm_->width() / 2, aboutForm_->height() / 2));
    aboutForm_->exec();
}

namespace {

const TCommandRegistrar registrar([](TCommandRouter& r) {
    r.Add({.Name = "Options", .ToolButton = "OptionsButton", .Run = [](TJXMainForm& f) { f.OptionsCommands().OptionsClick(); }});
    r.Add({.Name = "About", .ToolButton = "AboutButton", .Run = [](TJXMainForm& f) { f.OptionsCommands().AboutClick(); }});
});

}  // namespace
}  // namespace jx
