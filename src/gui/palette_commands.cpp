#include "gui/palette_commands.h"

#include <QAction>
#include <QActionGroup>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolBar>
#include <QToolButton>
#include <cmath>

#include "fileio/palette_file.h"
#include "gui/command_router.h"
#include "gui/glyphs.h"
#include "gui/image_view.h"
#include "gui/main_form.h"
#include "gui/palette_panel.h"
#include "gui/image_menu.h"
#include "gui/preview.h"
#include "gui/save_question.h"

namespace jx {
namespace {

const char* const kSavePaletteFilters[] = {"JASC Palette (*.pal)", "Adobe Color Table File (*.act)"};

QString Hex2(int v) { return QString("%1").arg(v, 2, 16, QChar('0')).toUpper(); }

// The quick-add mode in the image menu.
const TImageMenuGroup quickAddGroup(20, [](TJXMainForm& f, QMenu& menu) {
    QMenu* middle = menu.addMenu("Middle button click");
    auto* group = new QActionGroup(middle);
    QAction* addNewColor = middle->addAction("Add new color");
    addNewColor->setObjectName("AddNewColor");
    QAction* replace = middle->addAction("Replace nearest color");
    replace->setObjectName("ReplaceNearestColor");
    for (QAction* a : {addNewColor, replace}) {
        a->setCheckable(true);
        a->setIcon(Glyph(gUnchecked));
        a->setIconVisibleInMenu(true);
        QObject::connect(a, &QAction::toggled, a, [a](bool on) { a->setIcon(Glyph(on ? gChecked : gUnchecked)); });
        group->addAction(a);
    }
    addNewColor->setChecked(true);
    QObject::connect(addNewColor, &QAction::triggered, &f, [&f] { f.PaletteCommands().SetQuickAddMode(TQuickAddMode::AddNew); });
    QObject::connect(replace, &QAction::triggered, &f,
                     [&f] { f.PaletteCommands().SetQuickAddMode(TQuickAddMode::ReplaceNearest); });
});

}  // namespace

void TPaletteCommands::StopWatching() {
    grid_.removeEventFilter(this);
    selectedColorLabel_.removeEventFilter(this);
}

TPaletteCommands::TPaletteCommands(TJXMainForm& form, QLabel& grid, QLabel& selectedColor)
    : QObject(&form), form_(form), grid_(grid), selectedColorLabel_(selectedColor) {
    colorPicker_ = [this](QRect, uint32_t, const TPixelRec& start) { return form_.PickColor(start); };

    paletteMenu_ = new QMenu(&form_);
    paletteMenu_->setObjectName("PaletteMenu");
    paletteMenu_->addAction("Replace", this, [this] { PaletteEditColor(true); });
    paletteMenu_->addAction("Add", this, [this] { PaletteEditColor(false); });
    paletteMenu_->addAction("Delete", this, [this] { DeletePaletteEntry(); });
    paletteMenu_->addSeparator();
    QMenu* remove = paletteMenu_->addMenu("Remove");
    remove->addAction("double", this, [this] { RemoveDuplicateColors(); });
    remove->addAction("unused", this, [this] { RemoveUnusedColors(); });
    paletteMenu_->addSeparator();
    paletteMenu_->addAction("Sort palette", this, [this] { SortPalette(); });

    imageMenu_ = BuildImageMenu(form_, &form_);
    addNewColorAction_ = imageMenu_->findChild<QAction*>("AddNewColor");
    replaceNearestAction_ = imageMenu_->findChild<QAction*>("ReplaceNearestColor");

    BuildSortMenu();

    grid_.installEventFilter(this);
    selectedColorLabel_.installEventFilter(this);
    form_.ImageView()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(form_.ImageView(), &QWidget::customContextMenuRequested, this, [this](QPoint p) {
        if (!form_.Locked()) imageMenu_->popup(form_.ImageView()->mapToGlobal(p));
    });
    // Enabled by a quick add with preview, until the whole image is remapped.
    if (QAction* recalc = form_.MainToolBar()->findChild<QAction*>("RecalculateButton")) recalc->setEnabled(false);
}

TPaletteEditTarget TPaletteCommands::Target() {
    return {form_.State(), settings_, form_.Reports(), form_.UndoStore(), selection_};
}

template <class F>
void TPaletteCommands::Edit(F&& f) {
    if (form_.Locked() || !form_.State().HasImage()) return;
    settings_ = form_.Settings();
    form_.Guard(std::forward<F>(f));
}

void TPaletteCommands::BuildSortMenu() {
    sortMenu_ = new QMenu(&form_);
    sortMenu_->setObjectName("SortMenu");
    auto* methods = new QActionGroup(sortMenu_);
    const char* const names[] = {"Popularity", "Color", "Luminance"};
    for (int m = 0; m < 3; ++m) {
        QAction* a = sortMenu_->addAction(names[m]);
        a->setCheckable(true);
        a->setChecked(m == 1);
        methods->addAction(a);
        connect(a, &QAction::triggered, this, [this] { SortTypeChosen(); });
        sortMethods_[m] = a;
    }
    sortMenu_->addSeparator();
    auto* directions = new QActionGroup(sortMenu_);
    for (const char* name : {"Ascending", "Descending"}) {
        QAction* a = sortMenu_->addAction(name);
        a->setCheckable(true);
        directions->addAction(a);
        connect(a, &QAction::triggered, this, [this] { SortTypeChosen(); });
        sortDescending_ = a;
    }
    directions->actions().first()->setChecked(true);
    sortMenu_->addSeparator();
    sortAlpha_ = sortMenu_->addAction("Alpha");
    sortAlpha_->setCheckable(true);
    sortAlpha_->setEnabled(false);
    connect(sortAlpha_, &QAction::triggered, this, [this] { SortAlphaClicked(); });
    // The alpha orders only mean something for an image with alpha.
    connect(sortMenu_, &QMenu::aboutToShow, this, [this] { sortAlpha_->setEnabled(form_.State().HasAlpha); });

    QAction* button = form_.PalettePanel()->findChild<QAction*>("SortPaletteButton");
    if (!button) return;
    button->setMenu(sortMenu_);
    for (QObject* o : button->associatedObjects())
        if (auto* bar = qobject_cast<QToolBar*>(o))
            if (auto* b = qobject_cast<QToolButton*>(bar->widgetForAction(button)))
                b->setPopupMode(QToolButton::MenuButtonPopup);
}

TPaletteSortChoice TPaletteCommands::SortChoice() const {
    TPaletteSortChoice c;
    for (int m = 0; m < 3; ++m)
        if (sortMethods_[m]->isChecked()) c.Method = m;
    c.Descending = sortDescending_->isChecked();
    c.Alpha = sortAlpha_->isChecked();
    return c;
}

void TPaletteCommands::SortTypeChosen() {
    if (form_.Locked()) return;
    EngineState& s = form_.State();
    const int32_t type = PaletteSortTypeOf(SortChoice(), s.HasAlpha);
    if (!s.HasImage()) {
        s.PaletteSortType = type;
        return;
    }
    Edit([&] { SortPaletteBy(Target(), type); });
    FrameSelectedColor();
    DrawSelectedColor();
}

void TPaletteCommands::SortAlphaClicked() {
    if (!form_.State().HasImage()) {
        sortAlpha_->setChecked(!sortAlpha_->isChecked());  // the click does not count without an image
        return;
    }
    SortTypeChosen();
}

void TPaletteCommands::SetQuickAddMode(TQuickAddMode mode) {
    quickAddMode_ = mode;
    if (addNewColorAction_) addNewColorAction_->setChecked(mode == TQuickAddMode::AddNew);
    if (replaceNearestAction_) replaceNearestAction_->setChecked(mode == TQuickAddMode::ReplaceNearest);
}

QRect TPaletteCommands::SelectedCell() const {
    const int x = (selection_.Index % kPaletteColumns) * kPaletteCell;
    const int y = (selection_.Index / kPaletteColumns) * kPaletteCell;
    return QRect(x, y, kPaletteCell, kPaletteCell);
}

void TPaletteCommands::FrameSelectedColor() {
    EngineState& s = form_.State();
    QImage grid = DrawPaletteGrid(s, false);
    if (grid.isNull()) {
        grid_.setVisible(false);
        return;
    }
    if (selection_.Valid(s)) {
        QPainter p(&grid);
        const QRect cell = SelectedCell();
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(Qt::white, 3));
        p.drawRect(cell);
        p.setPen(QPen(Qt::black, 1));
        p.drawRect(cell);
    }
    grid_.setPixmap(QPixmap::fromImage(grid));
    grid_.setFixedSize(grid.size());
    grid_.setVisible(true);
}

void TPaletteCommands::DrawSelectedColor() {
    const EngineState& s = form_.State();
    QLabel* label = &selectedColorLabel_;
    if (!selection_.Valid(s) || size_t(selection_.Index) >= s.Palette.size()) {
        selectedColorImage_ = QImage();
        label->clear();
        return;
    }
    const TPixelRec& c = s.Palette[size_t(selection_.Index)];
    const int w = std::max(label->width(), 1), h = std::max(label->height(), 1);
    QImage img(w, h, QImage::Format_RGB32);
    const double a = c.A / 255.0;
    for (int y = 0; y < h; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const double checker = (((x / 4) ^ (y / 4)) & 1) ? 192.0 : 255.0;
            auto mix = [&](uint8_t v) { return static_cast<int>(std::nearbyint(v * a + (1.0 - a) * checker)); };
            row[x] = qRgb(mix(c.R), mix(c.G), mix(c.B));
        }
    }
    QPainter p(&img);
    DrawCaption(p, 3, "Color: #" + Hex2(c.R) + Hex2(c.G) + Hex2(c.B), 1);
    const int percent = static_cast<int>(std::nearbyint(a * 100.0));
    DrawCaption(p, 3, "Alpha: #" + Hex2(c.A) + " (" + QString::number(percent) + "%)", 1 + CaptionLineHeight());
    const int lineX = static_cast<int>(std::nearbyint(a * (w - 1)));
    p.setPen(QPen(Qt::white, 1, Qt::SolidLine));
    p.drawLine(lineX, 0, lineX, h - 1);
    p.setPen(QPen(Qt::red, 1, Qt::DotLine));
    p.drawLine(lineX, 0, lineX, h - 1);
    p.end();
    selectedColorImage_ = img;
    label->setPixmap(QPixmap::fromImage(img));
}

void TPaletteCommands::PaletteRedrawn() {
    selection_.Follow(form_.State());
    FrameSelectedColor();
}

void TPaletteCommands::SelectColorKey(uint32_t key) { selection_.SelectKey(form_.State(), key); }

void TPaletteCommands::PaletteEditColor(bool replace) {
    if (form_.Locked() || !form_.State().HasImage()) return;
    replaceFlag_ = replace;
    const EngineState& s = form_.State();
    TPixelRec start;
    if (selection_.Valid(s) && size_t(selection_.Index) < s.Palette.size()) start = s.Palette[size_t(selection_.Index)];
    const std::optional<TPixelRec> picked = colorPicker_(SelectedCell().adjusted(0, 0, -1, -1), selection_.Key, start);
    Edit([&] { jx::PaletteEditColor(Target(), picked, replaceFlag_); });
    replaceFlag_ = false;
    FrameSelectedColor();
    DrawSelectedColor();
}

void TPaletteCommands::DeletePaletteEntry() {
    Edit([&] { jx::DeletePaletteEntry(Target()); });
    FrameSelectedColor();
    DrawSelectedColor();
}

void TPaletteCommands::RemoveDuplicateColors() {
    Edit([&] { jx::RemoveDuplicateColors(Target()); });
    FrameSelectedColor();
    DrawSelectedColor();
}

void TPaletteCommands::RemoveUnusedColors() {
    Edit([&] { jx::RemoveUnusedColors(Target()); });
    FrameSelectedColor();
    DrawSelectedColor();
}

void TPaletteCommands::SortPalette() {
    if (form_.Locked() || !form_.State().HasImage()) return;
    EngineState& s = form_.State();
    const QImage grid = DrawPaletteGrid(s, true);  // sorts by the current type
    (void)grid;
    PaletteRedrawn();
    DrawSelectedColor();
}

void TPaletteCommands::Recalculate() {
    Edit([&] { RecalculateQuickAdd(Target()); });
    if (QAction* recalc = form_.MainToolBar()->findChild<QAction*>("RecalculateButton")) recalc->setEnabled(false);
    FrameSelectedColor();
}

void TPaletteCommands::SavePalClick() {
    if (form_.Locked() || form_.State().Palette.empty()) return;
    QFileDialog dialog(&form_, "Save palette");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({kSavePaletteFilters[0], kSavePaletteFilters[1]});
    if (!form_.File().Name.isEmpty()) dialog.selectFile(QFileInfo(form_.File().Name).completeBaseName());
    const auto index = [&] { return dialog.selectedNameFilter() == kSavePaletteFilters[1] ? 2 : 1; };
    // The question is about the file written: the filter's extension may be appended.
    const auto written = [&] {
        return QString::fromStdString(PaletteSaveTarget(dialog.selectedFiles().first().toStdString(), index()).Name);
    };
    if (!ExecSaveDialog(dialog, written)) return;
    SavePalette(dialog.selectedFiles().first(), index());
}

bool TPaletteCommands::SavePalette(const QString& fileName, int filterIndex) {
    if (form_.Locked()) return false;
    return form_.Guard([&] { jx::SavePalette(form_.State(), fileName.toStdString(), filterIndex); });
}

void TPaletteCommands::InvertSelectedInView() {
    const EngineState& s = form_.State();
    QImage& view = form_.ImageView()->Bitmap();
    if (!selection_.Valid(s) || view.isNull() || view.width() != s.ImageWidth() || view.height() != s.ImageHeight() ||
        !s.WorkingImage.SameShape(s.SourceImage))
        return;
    view = view.convertToFormat(QImage::Format_RGB32);
    const TPixelRec entry = s.Palette[size_t(selection_.Index)];
    for (int y = 0; y < view.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(view.scanLine(y));
        const TPixelRec* out = s.WorkingImage[y];
        for (int x = 0; x < view.width(); ++x)
            if (SameRgba(out[x], entry)) row[x] ^= 0x00FFFFFFu;
    }
    form_.ImageView()->update();
}

void TPaletteCommands::PaletteGridMouseDown(Qt::MouseButton button, QPoint p) {
    if (form_.Locked() || !form_.State().HasImage()) return;
    const int32_t index = PaletteCellAt(form_.State(), p.x(), p.y());
    if (index < 0 || !selection_.Select(form_.State(), index)) return;  // an empty cell selects nothing
    if (button == Qt::LeftButton) {
        pressFlag_ = true;
        InvertSelectedInView();
    } else if (button == Qt::MiddleButton) {
        Edit([&] { TogglePaletteAlpha(Target(), index); });
    }
}

void TPaletteCommands::PaletteGridMouseUp(Qt::MouseButton button) {
    if (!form_.State().HasImage()) return;
    if (button == Qt::LeftButton && pressFlag_) {
        pressFlag_ = false;
        InvertSelectedInView();
    }
    FrameSelectedColor();
    DrawSelectedColor();
}

void TPaletteCommands::ImageReleased(Qt::MouseButton button, QPoint ip) {
    if (form_.Locked() || !form_.State().HasImage()) return;
    selection_.SelectAt(form_.State(), ip.x(), ip.y());
    if (button == Qt::MiddleButton) {
        QAction* quick = form_.MainToolBar()->findChild<QAction*>("QuickAddButton");
        const bool preview = quick && quick->isChecked();
        bool added = false;
        Edit([&] { added = QuickAddColor(Target(), ip.x(), ip.y(), quickAddMode_, preview); });
        if (added && preview)
            if (QAction* recalc = form_.MainToolBar()->findChild<QAction*>("RecalculateButton")) recalc->setEnabled(true);
        FrameSelectedColor();
        if (added) form_.ImageView()->Magnifier().DrawZoom(ip.x(), ip.y());
    } else {
        FrameSelectedColor();
    }
    DrawSelectedColor();
}

bool TPaletteCommands::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == &grid_) {
        if (type == QEvent::MouseButtonPress) {
            auto* e = static_cast<QMouseEvent*>(event);
            PaletteGridMouseDown(e->button(), e->position().toPoint());
            return true;
        }
        if (type == QEvent::MouseButtonRelease) {
            auto* e = static_cast<QMouseEvent*>(event);
            PaletteGridMouseUp(e->button());
            if (e->button() == Qt::RightButton && !form_.Locked() && form_.State().HasImage())
                paletteMenu_->popup(e->globalPosition().toPoint());
            return true;
        }
    } else if (watched == &selectedColorLabel_ && type == QEvent::MouseButtonRelease) {
        PaletteEditColor(true);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

namespace {

const TCommandRegistrar registrar([](TCommandRouter& r) {
    r.Add({.Name = "Save palette", .ToolButton = "SavePaletteButton",
           .Run = [](TJXMainForm& f) { f.PaletteCommands().SavePalClick(); }});
    r.Add({.Name = "Sort palette", .ToolButton = "SortPaletteButton", .NeedsImage = true,
           .Run = [](TJXMainForm& f) { f.PaletteCommands().SortPalette(); }});
    r.Add({.Name = "Recalculate", .ToolButton = "RecalculateButton", .NeedsImage = true,
           .Run = [](TJXMainForm& f) { f.PaletteCommands().Recalculate(); }});
    // The button only holds its state; the middle button on the image reads it.
    r.Add({.Name = "Quick add color", .ToolButton = "QuickAddButton", .Run = [](TJXMainForm&) {}});
});

}  // namespace
}  // namespace jx
