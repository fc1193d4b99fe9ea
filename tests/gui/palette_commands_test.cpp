#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QToolBar>
#include <filesystem>
#include <unistd.h>

#include "gui/command_router.h"
#include "gui/image_view.h"
#include "gui/main_form.h"
#include "gui/palette_panel.h"
#include "gui/palette_commands.h"
#include "gui_app.h"
#include "window_fixture.h"
#include "platform/session.h"

namespace fs = std::filesystem;

namespace {

class PaletteCommandsTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        form_->OpenImage(SuiteFile("basn3p02.png"));  // 4 colours
        ASSERT_TRUE(form_->State().HasImage());
        ASSERT_GT(form_->State().PaletteSize, 0);
    }
    jx::TPaletteCommands& Palette() { return form_->PaletteCommands(); }
    QLabel* PaletteGrid() { return form_->PaletteCommands().PaletteGrid(); }
};

TEST_F(PaletteCommandsTest, GridClicksSelectAndMiddleClickTogglesAlphaWithUndo) {
    auto& s = form_->State();
    const int n = s.PaletteSize;
    QTest::mouseClick(PaletteGrid(), Qt::LeftButton, {}, QPoint(16 + 3, 3));
    EXPECT_EQ(Palette().SelectedColorIndex(), 1);
    // An empty cell past the palette changes nothing.
    QTest::mouseClick(PaletteGrid(), Qt::LeftButton, {}, QPoint(16 * n + 3, 3));
    EXPECT_EQ(Palette().SelectedColorIndex(), 1);

    const int states = form_->UndoStore().Count();
    QTest::mouseClick(PaletteGrid(), Qt::MiddleButton, {}, QPoint(16 + 3, 3));
    EXPECT_EQ(s.Palette[1].A, 0);
    EXPECT_TRUE(s.HasAlpha);
    EXPECT_EQ(form_->UndoStore().Count(), states + 1);
    form_->Router().Route("Undo");
    for (const jx::TPixelRec& p : s.SourceImage.Vector()) ASSERT_EQ(p.A, 255);
    for (int i = 0; i < s.PaletteSize; ++i) EXPECT_EQ(s.Palette[size_t(i)].A, 255);
}

TEST_F(PaletteCommandsTest, SelectedColourBoxShowsTheEntryOverTheChecker) {
    auto& s = form_->State();
    Palette().Selection().Select(s, 0);
    s.Palette[0].A = 0;  // fully transparent: the checkerboard alone
    Palette().DrawSelectedColor();
    const QImage& img = Palette().SelectedColorImage();
    ASSERT_FALSE(img.isNull());
    const int y = img.height() - 1;  // below the captions
    EXPECT_EQ(qRed(img.pixel(img.width() - 3, y)), ((img.width() - 3) / 4 ^ y / 4) & 1 ? 192 : 255);
    s.Palette[0].A = 255;
    Palette().DrawSelectedColor();
    const QImage& opaque = Palette().SelectedColorImage();
    const QRgb px = opaque.pixel(opaque.width() / 2, opaque.height() - 1);
    EXPECT_EQ(qRed(px), s.Palette[0].R);
    EXPECT_EQ(qBlue(px), s.Palette[0].B);
}

TEST_F(PaletteCommandsTest, SavePaletteWritesBothFormatsAndRefusesLargeTables) {
    auto& s = form_->State();
    const int n = s.PaletteSize;
    ASSERT_TRUE(Palette().SavePalette(QString::fromStdString((base_ / "p").string()), 1));
    QFile pal(QString::fromStdString((base_ / "p.pal").string()));
    ASSERT_TRUE(pal.open(QIODevice::ReadOnly));
    EXPECT_EQ(pal.readAll().count('\n'), n + 3);
    ASSERT_TRUE(Palette().SavePalette(QString::fromStdString((base_ / "p").string()), 2));
    EXPECT_EQ(fs::file_size(base_ / "p.act"), 768u);

    s.Palette.resize(300);
    s.PaletteSize = 300;
    EXPECT_FALSE(Palette().SavePalette(QString::fromStdString((base_ / "big").string()), 2));
    EXPECT_EQ(messages_, QStringList{"Palette too large!"});
    EXPECT_FALSE(fs::exists(base_ / "big.act"));
}

TEST_F(PaletteCommandsTest, MenusAndPanelButtonsAreWired) {
    QMenu* m2 = Palette().ImageMenu();
    ASSERT_NE(m2->findChild<QAction*>("AddNewColor"), nullptr);
    EXPECT_TRUE(m2->findChild<QAction*>("AddNewColor")->isChecked());
    m2->findChild<QAction*>("ReplaceNearestColor")->trigger();
    EXPECT_EQ(Palette().QuickAddMode(), jx::TQuickAddMode::ReplaceNearest);
    EXPECT_FALSE(m2->findChild<QAction*>("AddNewColor")->isChecked());
    for (const char* b : {"SortPaletteButton", "LoadPaletteButton", "SavePaletteButton"})
        EXPECT_TRUE(form_->PalettePanel()->findChild<QAction*>(b)->isEnabled()) << b;
    EXPECT_FALSE(form_->MainToolBar()->findChild<QAction*>("RecalculateButton")->isEnabled());

    // Quick add with preview enables Recalculate; Recalculate turns it off again.
    Palette().SetQuickAddMode(jx::TQuickAddMode::AddNew);
    form_->MainToolBar()->findChild<QAction*>("QuickAddButton")->setChecked(true);
    const int n = form_->State().PaletteSize;
    Palette().ImageReleased(Qt::MiddleButton, QPoint(0, 0));
    EXPECT_EQ(form_->State().PaletteSize, n + 1);
    EXPECT_TRUE(form_->State().QuickAddPreview);
    QAction* recalc = form_->MainToolBar()->findChild<QAction*>("RecalculateButton");
    EXPECT_TRUE(recalc->isEnabled());
    recalc->trigger();
    EXPECT_FALSE(form_->State().QuickAddPreview);
    EXPECT_FALSE(recalc->isEnabled());
}

TEST_F(PaletteCommandsTest, SortMenuOnTheButtonSortsByTheChosenType) {
    auto& s = form_->State();
    QAction* button = form_->PalettePanel()->findChild<QAction*>("SortPaletteButton");
    QMenu* menu = Palette().SortMenu();
    ASSERT_EQ(button->menu(), menu);
    auto item = [&](const QString& text) {
        for (QAction* a : menu->actions())
            if (a->text() == text) return a;
        return static_cast<QAction*>(nullptr);
    };
    ASSERT_TRUE(item("Color")->isChecked());
    ASSERT_TRUE(item("Ascending")->isChecked());
    emit menu->aboutToShow();
    EXPECT_FALSE(item("Alpha")->isEnabled());  // the image is opaque

    Palette().Selection().Select(s, 2);
    const uint32_t key = jx::PixelKey(s.Palette[2]);
    const int states = form_->UndoStore().Count();
    item("Luminance")->trigger();
    item("Descending")->trigger();
    EXPECT_FALSE(item("Color")->isChecked());
    EXPECT_FALSE(item("Ascending")->isChecked());
    EXPECT_EQ(s.PaletteSortType, 5);
    for (int i = 1; i < s.PaletteSize; ++i) EXPECT_LE(s.Palette[size_t(i - 1)].c1, s.Palette[size_t(i)].c1);
    EXPECT_EQ(jx::PixelKey(s.Palette[size_t(Palette().SelectedColorIndex())]), key);
    EXPECT_EQ(form_->UndoStore().Count(), states);  // the view order is no undo step

    // With alpha in the image "Alpha" gives the alpha order of the chosen method.
    QTest::mouseClick(PaletteGrid(), Qt::MiddleButton, {}, QPoint(3, 3));
    ASSERT_TRUE(s.HasAlpha);
    emit menu->aboutToShow();
    ASSERT_TRUE(item("Alpha")->isEnabled());
    item("Alpha")->trigger();
    EXPECT_EQ(s.PaletteSortType, 9);
    item("Popularity")->trigger();
    EXPECT_EQ(s.PaletteSortType, 3);
}

}  // namespace
