#include <gtest/gtest.h>

#include <QAction>
#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QScrollArea>
#include <QSlider>
#include <QTest>
#include <QToolBar>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "gui/command_router.h"
#include "gui/image_view.h"
#include "gui/main_form.h"
#include "gui/palette_panel.h"
#include "gui/pointer_form.h"
#include "gui/quantizer_settings.h"
#include "gui_app.h"
#include "window_fixture.h"
#include "platform/session.h"

namespace fs = std::filesystem;

namespace {

class UndoWiringTest : public MainWindowTest {
protected:
    QAction* Button(const char* name) { return form_->MainToolBar()->findChild<QAction*>(name); }
    void KeyUp(Qt::Key k, Qt::KeyboardModifiers m) { QTest::keyRelease(form_->ImageScroll(), k, m); }
};

TEST_F(UndoWiringTest, KeysAndButtonsWalkTheHistory) {
    form_->OpenImage(SuiteFile("basn3p02.png"));  // 4 colours
    ASSERT_EQ(form_->UndoStore().Count(), 1);
    EXPECT_FALSE(Button("UndoButton")->isEnabled());
    EXPECT_FALSE(Button("RedoButton")->isEnabled());
    const auto opened = form_->State().Palette;
    KeyUp(Qt::Key_Z, Qt::ControlModifier);  // nothing to undo yet
    EXPECT_EQ(form_->UndoStore().CurrentState(), 0);

    form_->PalettePanel()->Colors()->setEditText("2");
    form_->PalettePanel()->ColorsSelect();  // Apply with a palette saves a state
    ASSERT_EQ(form_->State().PaletteSize, 2);
    ASSERT_EQ(form_->UndoStore().Count(), 2);
    EXPECT_TRUE(Button("UndoButton")->isEnabled());

    KeyUp(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);  // not exactly Ctrl
    EXPECT_EQ(form_->UndoStore().CurrentState(), 1);
    KeyUp(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(form_->UndoStore().CurrentState(), 0);
    EXPECT_EQ(form_->State().PaletteSize, 4);
    EXPECT_EQ(form_->PalettePanel()->Colors()->currentText(), "4");
    EXPECT_TRUE(Button("RedoButton")->isEnabled());
    Button("RedoButton")->trigger();
    EXPECT_EQ(form_->State().PaletteSize, 2);
    EXPECT_EQ(form_->StatusPanels().Text(2).left(15), "Unique colors: ");
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();

    // A new image starts a new history and its files go.
    const auto old = form_->UndoStore().States();
    form_->OpenImage(SuiteFile("basn2c08.png"));
    EXPECT_EQ(form_->UndoStore().Count(), 1);
    for (const std::string& b : old) EXPECT_FALSE(fs::exists(b + ".prm"));
}

class LockingTool : public jx::TPointerform {
public:
    explicit LockingTool(jx::TJXMainForm* m) : TPointerform(m, "Filter", kLocksMainWindow) {}
};

TEST_F(UndoWiringTest, RoutesStayShutWhileLocked) {
    form_->OpenImage(SuiteFile("basn3p02.png"));
    form_->PalettePanel()->Colors()->setEditText("2");
    form_->PalettePanel()->ColorsSelect();
    LockingTool tool(form_.get());
    tool.show();
    EXPECT_FALSE(form_->Router().Route("Undo"));
    KeyUp(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(form_->UndoStore().CurrentState(), 1);
    tool.close();
    EXPECT_TRUE(form_->Router().Route("Undo"));
    EXPECT_EQ(form_->UndoStore().CurrentState(), 0);
    // Every registered route with a button drives that button.
    for (const char* name : {"OpenButton", "SaveAsButton", "CopyButton", "PasteButton"})
        EXPECT_TRUE(Button(name)->isEnabled()) << name;
}

TEST_F(UndoWiringTest, DroppedPaletteLoadsExactlyAndIsUndoable) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    const fs::path pal = base_ / "two.pal";
    std::ofstream(pal, std::ios::binary) << "JASC-PAL\r\n0100\r\n2\r\n0 0 0 255\r\n255 255 255 255\r\n";
    form_->DropFiles({QString::fromStdString(pal.string())});
    EXPECT_EQ(form_->State().PaletteSize, 2);
    EXPECT_EQ(form_->QuantizerSettingsForm()->PalType->currentText(), "Custom");
    EXPECT_EQ(form_->UndoStore().Count(), 2);
    form_->UndoClick();
    EXPECT_EQ(form_->State().PaletteSize, -1);
    EXPECT_EQ(form_->PalettePanel()->Colors()->currentText(), "TrueColor");
}

TEST_F(UndoWiringTest, CustomWithoutAFileFallsBack) {
    form_->OpenImage(SuiteFile("basn3p02.png"));
    form_->QuantizerSettingsForm()->SetPalType(3);  // Windows 256
    form_->QuantizerSettingsForm()->PalType->setCurrentIndex(5);  // "Custom", no file ever chosen
    form_->PalettePanel()->ApplyClick();
    ASSERT_EQ(messages_.size(), 1);
    EXPECT_EQ(form_->QuantizerSettingsForm()->PalType->currentIndex(), 3);
    messages_.clear();
    form_->PalettePanel()->ApplyClick();
    EXPECT_TRUE(messages_.isEmpty()) << "the error comes once";
}

TEST_F(UndoWiringTest, DitherGrooveClickRemapsAtOnce) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    form_->PalettePanel()->Colors()->setEditText("16");
    form_->PalettePanel()->ColorsSelect();
    form_->QuantizerSettingsForm()->DitherButtons->button(2)->click();  // Floyd-Steinberg
    const auto before = form_->State().WorkingImage;
    form_->QuantizerSettingsForm()->DitherBar->setValue(5);  // a click on the groove, no drag
    EXPECT_FLOAT_EQ(form_->State().DitherAmount, 0.05f);
    EXPECT_NE(form_->State().WorkingImage, before);
}

TEST(DialogPlacement, DialogsStayOnTheAvailableArea) {
    const QRect screen(0, 0, 800, 600);
    EXPECT_EQ(jx::TPointerform::OnScreen(QRect(100, 100, 200, 200), screen), QPoint(100, 100));
    EXPECT_EQ(jx::TPointerform::OnScreen(QRect(700, -50, 200, 200), screen), QPoint(600, 0));
    EXPECT_EQ(jx::TPointerform::OnScreen(QRect(10, 20, 574, 726), screen), QPoint(10, 0));  // taller: top stays
}

TEST_F(UndoWiringTest, EmptyViewFillsTheBox) {
    QTest::qWait(0);
    EXPECT_EQ(form_->ImageView()->size(), form_->ImageScroll()->viewport()->size());
    form_->OpenImage(SuiteFile("basn3p02.png"));
    EXPECT_EQ(form_->ImageView()->size(), QSize(32, 32));
}

}  // namespace
