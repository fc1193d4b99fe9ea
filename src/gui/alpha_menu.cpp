#include "gui/alpha_menu.h"
#include "gui/glyphs.h"
#include "imaging/observer.h"

#include <QAction>
#include <QActionGroup>
#include <QFileDialog>
#include <QMenu>
#include <QSignalBlocker>
#include <QTabBar>

#include "edit/alpha_command.h"
#include "gui/color_dlg.h"
#include "gui/command_router.h"
#include "gui/grid_settings.h"
#include "gui/main_form.h"
#include "gui/palette_commands.h"
#include "gui/picture_dialogs.h"
#include "gui/image_menu.h"

namespace jx {
namespace {

// Split and background choice, first in the menu.
const TImageMenuGroup backgroundGroup(1, [](TJXMainForm& f, QMenu& menu) {
    QAction* split = menu.addAction("Split image with alpha", &f, [&f] { f.AlphaCommands().SplitImageClick(); });
    split->setObjectName("SplitImage");
    QMenu* background = menu.addMenu("Alpha background");
    auto* group = new QActionGroup(background);
    auto add = [&](const char* name, const char* caption, void (TAlphaCommands::*handler)()) {
        QAction* a = background->addAction(caption);
        a->setObjectName(name);
        a->setCheckable(true);
        // The chosen background shows the "checked" glyph, the others the "unchecked" one.
        a->setIcon(Glyph(gUnchecked));
        a->setIconVisibleInMenu(true);
        QObject::connect(a, &QAction::toggled, a, [a](bool on) { a->setIcon(Glyph(on ? gChecked : gUnchecked)); });
        group->addAction(a);
        QObject::connect(a, &QAction::triggered, &f, [&f, handler] { (f.AlphaCommands().*handler)(); });
        return a;
    };
    add("BackgroundColor", "Color", &TAlphaCommands::BackgroundColorClick);
    add("BackgroundGrid", "Grid", &TAlphaCommands::BackgroundGridClick)->setChecked(true);
    add("BackgroundPicture", "Picture", &TAlphaCommands::BackgroundPictureClick);
    QObject::connect(&menu, &QMenu::aboutToShow, &f, [&f] { f.AlphaCommands().UpdateMenu(); });
});

const TImageMenuGroup convertGroup(2, [](TJXMainForm& f, QMenu& menu) {
    QMenu* convert = menu.addMenu("Convert");
    convert->setObjectName("ConvertMenu");
    auto add = [&](QMenu* m, const char* name, const char* caption, std::function<void(TAlphaCommands&)> run) {
        QAction* a = m->addAction(caption, &f, [&f, run] { run(f.AlphaCommands()); });
        a->setObjectName(name);
    };
    QAction* simple = convert->addAction("Alpha to Simple transparency", &f,
                                         [&f] { f.Router().Route("Alpha to Simple transparency"); });
    simple->setObjectName("AlphaToSimple");
    add(convert, "ImageToAlpha", "Image to Alpha", [](TAlphaCommands& c) { c.AlphaClick(TAlphaMode::ImageToAlpha); });
    add(convert, "ColorToAlpha", "Color to Alpha", [](TAlphaCommands& c) { c.AlphaClick(TAlphaMode::ColorToAlpha); });
    QMenu* fake = convert->addMenu("Fake color");
    add(fake, "FakeRplusGB", "R + GB", [](TAlphaCommands& c) { c.FakeColorClick(TFakeColor::RplusGB); });
    add(fake, "FakeGplusRB", "G + RB", [](TAlphaCommands& c) { c.FakeColorClick(TFakeColor::GplusRB); });
    add(fake, "FakeBplusRG", "B + RG", [](TAlphaCommands& c) { c.FakeColorClick(TFakeColor::BplusRG); });
    add(convert, "Grayscale1", "Grayscale", [](TAlphaCommands& c) { c.GrayscaleClick(); });
});

}  // namespace

// The window's one colour picker: every dialog that picks a colour comes here.
std::optional<TPixelRec> TJXMainForm::PickColor(const std::optional<TPixelRec>& start) {
    if (pickColorHook_) return pickColorHook_(start);
    return colorDlg_->Pick(start ? *start : colorDlg_->PickerColor);
}

TAlphaCommands::TAlphaCommands(TJXMainForm& form, QTabBar& tabs) : QObject(&form), form_(form), tabs_(tabs) {
    PictureFileDialog = [this] {
        TMyOpenPictureDialog* d = BackgroundPictureDialog();
        if (const QString folder = form_.File().DialogFolder(); !folder.isEmpty()) d->setDirectory(folder);
        return d->exec() == QDialog::Accepted ? d->FileName() : QString();
    };
    connect(&tabs_, &QTabBar::currentChanged, this, [this](int index) { FileTabChange(index); });
}

TMyOpenPictureDialog* TAlphaCommands::BackgroundPictureDialog() {
    if (!pictureDialog_) {
        pictureDialog_ = new TMyOpenPictureDialog(&form_);  // the registry's filter
        pictureDialog_->setWindowTitle("Open");
        pictureDialog_->setFileMode(QFileDialog::ExistingFile);
    }
    return pictureDialog_;
}

QAction* TAlphaCommands::Find(const char* name) const {
    QMenu* menu = form_.PaletteCommands().ImageMenu();
    return menu ? menu->findChild<QAction*>(name) : nullptr;
}

void TAlphaCommands::CheckBackground() {
    const char* name = "BackgroundGrid";
    if (form_.State().BackgroundMode == TBackgroundMode::Color) name = "BackgroundColor";
    if (form_.State().BackgroundMode == TBackgroundMode::Picture) name = "BackgroundPicture";
    if (QAction* a = Find(name)) a->setChecked(true);
}

void TAlphaCommands::BackgroundColorClick() {
    if (form_.Locked()) return CheckBackground();
    // No start colour: the picker shows what it last held.
    const std::optional<TPixelRec> c = form_.PickColor(std::nullopt);
    if (c) {
        ChooseBackgroundColor(form_.State(), c->R, c->G, c->B);
        form_.RenderImageView();
    }
    CheckBackground();
}

void TAlphaCommands::BackgroundGridClick() {
    if (form_.Locked()) return CheckBackground();
    ChooseBackgroundGrid(form_.State());
    CheckBackground();
    form_.RenderImageView();
    form_.GridSettingsForm()->exec();
}

void TAlphaCommands::BackgroundPictureClick() {
    if (form_.Locked()) return CheckBackground();
    if (QAction* a = Find("BackgroundPicture")) a->setChecked(true);
    TakeBackgroundPicture(PictureFileDialog ? PictureFileDialog() : QString());
}

void TAlphaCommands::TakeBackgroundPicture(const QString& fileName) {
    TPixelImage picture;
    if (!fileName.isEmpty()) form_.Guard([&] { picture = LoadBackgroundPicture(fileName.toStdString()); });
    ChooseBackgroundPicture(form_.State(), std::move(picture));  // nothing loaded: back to the grid
    CheckBackground();
    form_.RenderImageView();
}

template <class F>
void TAlphaCommands::ImageCommand(F&& f) {
    if (form_.Locked() || !form_.State().HasImage()) return;
    const TQuantizerSettings settings = form_.Settings();
    const BusyGuard busy(form_.Reports());
    form_.Guard([&] { f(settings); });
}

void TAlphaCommands::AlphaClick(TAlphaMode mode) {
    ImageCommand([&](const TQuantizerSettings& s) { AlphaCommand(form_.State(), mode, s, form_.Reports(), form_.UndoStore()); });
}

void TAlphaCommands::FakeColorClick(TFakeColor tag) {
    ImageCommand([&](const TQuantizerSettings& s) { FakeColorCommand(form_.State(), tag, s, form_.Reports(), form_.UndoStore()); });
}

void TAlphaCommands::GrayscaleClick() {
    ImageCommand([&](const TQuantizerSettings& s) { GrayscaleCommand(form_.State(), s, form_.Reports(), form_.UndoStore()); });
}

bool TAlphaCommands::SplitOffered() const { return CanSplitByAlpha(form_.State(), split_.Active()); }

void TAlphaCommands::UpdateMenu() {
    if (QAction* a = Find("SplitImage")) a->setEnabled(SplitOffered());
}

void TAlphaCommands::SplitImageClick() {
    if (form_.Locked() || !SplitOffered()) return;
    bool split = false;
    form_.Guard([&] { split = SplitCommand(split_, form_.State(), form_.SessionPath()); });
    if (!split) return;
    const QSignalBlocker block(&tabs_);
    while (tabs_.count() > 0) tabs_.removeTab(0);
    for (const char* caption : TSplitView::TabCaptions()) tabs_.addTab(caption);
    tabs_.setCurrentIndex(TSplitView::kOriginal);
    tabs_.setVisible(true);
}

void TAlphaCommands::FileTabChange(int index) {
    if (!split_.Active() || index == split_.Current()) return;
    const bool ran = form_.Router().Guarded([&] {
        const TQuantizerSettings settings = form_.Settings();
        const BusyGuard busy(form_.Reports());
        form_.Guard([&] { SelectSplitTab(split_, index, form_.State(), settings, form_.Reports(), form_.UndoStore()); });
    });
    if (!ran || split_.Current() != index) {
        // Locked, or the switch failed: the tab shows the image that is shown.
        const QSignalBlocker block(&tabs_);
        tabs_.setCurrentIndex(split_.Current());
    }
}

void TAlphaCommands::ClearTabs() {
    split_.Reset();
    const QSignalBlocker block(&tabs_);
    while (tabs_.count() > 0) tabs_.removeTab(0);
    tabs_.setVisible(false);
}

}  // namespace jx
