// The window as a user meets it: progress while a save's tool runs, where the quantizer settings
// open, the status bar at the minimum width, the key chords, the image menu's layout.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "gui/alpha_menu.h"
#include "gui/command_router.h"
#include "gui/preview.h"
#include <QComboBox>
#include <QTabBar>
#include "gui/lossy_form.h"
#include "gui/file_dialogs.h"
#include "gui/main_form.h"
#include "gui/save_commands.h"
#include "gui/palette_panel.h"
#include "gui/status_panels.h"
#include "gui/palette_commands.h"
#include "gui/quantizer_settings.h"
#include "gui/taskbar_progress.h"
#include "gui_app.h"
#include "window_fixture.h"

namespace fs = std::filesystem;

namespace {

// The settings dialog's place for a main window that fills a small screen, one with room on its
// right, one with room on its left only, and a dialog taller than the screen.
TEST(SettingsDialogPlace, InsideTheScreenAndOffTheToggle) {
    const QRect screen(0, 0, 1024, 768);
    const QSize dialog(580, 640);
    struct Case {
        QRect main;
        QRect toggle;
        bool beside;
    };
    const Case cases[] = {
        {QRect(61, 51, 902, 665), QRect(684, 590, 276, 70), false},  // no room on either side
        {QRect(0, 0, 400, 300), QRect(300, 250, 100, 40), true},     // room on the right
        {QRect(600, 100, 424, 500), QRect(900, 550, 120, 40), true}, // room on the left
        {QRect(0, 0, 1024, 768), QRect(744, 700, 276, 60), false},   // maximised: above the toggle
    };
    for (const Case& c : cases) {
        const QRect placed(jx::SettingsDialogPlace(c.main, dialog, c.toggle, screen), dialog);
        EXPECT_TRUE(screen.contains(placed)) << placed.x() << "," << placed.y();
        EXPECT_FALSE(placed.intersects(c.toggle)) << placed.x() << "," << placed.y();
        EXPECT_EQ(!placed.intersects(c.main), c.beside) << placed.x() << "," << placed.y();
    }
    // Taller than the screen: the title bar stays on it.
    const QPoint at = jx::SettingsDialogPlace(QRect(100, 100, 600, 400), QSize(500, 900), QRect(600, 450, 90, 40), screen);
    EXPECT_EQ(at.y(), 0);
    EXPECT_GE(at.x(), 0);
}

class WindowTrialTest : public MainWindowTest {};

TEST_F(WindowTrialTest, SettingsDialogOpensOnTheScreenAndItsToggleClosesIt) {
    const QRect available = form_->screen()->availableGeometry();
    // A small window at the screen's bottom left, and one that fills the screen.
    for (const QRect where : {QRect(available.left(), available.bottom() - 400, 560, 400), available}) {
        form_->setGeometry(where);
        QApplication::processEvents();
        form_->PalettePanel()->QuantizerSettingsButton()->trigger();
        jx::TQuantizerSettingsForm* settingsForm = form_->QuantizerSettingsForm();
        ASSERT_TRUE(settingsForm->isVisible());
        EXPECT_TRUE(available.contains(settingsForm->frameGeometry())) << settingsForm->frameGeometry().y();
        // Where the screen leaves room beside the toggle, the dialog keeps off it.
        if (available.width() - form_->PalettePanel()->SettingsToggleArea().width() > settingsForm->frameGeometry().width() + 8 ||
            form_->PalettePanel()->SettingsToggleArea().top() > settingsForm->frameGeometry().height() + 8) {
            EXPECT_FALSE(settingsForm->frameGeometry().intersects(form_->PalettePanel()->SettingsToggleArea()));
        }
        form_->PalettePanel()->QuantizerSettingsButton()->trigger();  // the toggle again
        EXPECT_FALSE(settingsForm->isVisible());
    }
}

TEST_F(WindowTrialTest, StatusPanelsKeepTheirOrderAtTheMinimumWidth) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    form_->StatusPanels().SetText(1, "Dimension: 4096x4096");
    form_->StatusPanels().SetText(2, "Unique colors: 283045");
    form_->resize(560, 400);
    QApplication::processEvents();
    for (int i = 0; i + 1 < 5; ++i) {
        EXPECT_LE(form_->StatusPanels().PanelRect(i).right(), form_->StatusPanels().PanelRect(i + 1).left()) << i;
    }
    // Panels 1 and 2 are wide enough for their whole text, with the bar shown or not.
    form_->StatusPanels().ShowProgress(1, 4);
    for (int i : {1, 2}) {
        const QLabel* label = form_->findChild<QLabel*>(QString("StatusPanel%1").arg(i));
        ASSERT_NE(label, nullptr);
        EXPECT_GE(form_->StatusPanels().PanelRect(i).width(), label->fontMetrics().horizontalAdvance(label->text())) << i;
    }
    // The bar lies on panel 4, over no other panel.
    const QRect bar = form_->StatusPanels().ProgressBar()->geometry();
    EXPECT_GE(bar.left(), form_->StatusPanels().PanelRect(4).left());
    form_->StatusPanels().ProgressDone();
}

TEST_F(WindowTrialTest, ChordFiresOnceWhicheverKeyIsReleasedFirst) {
    int undos = 0;
    jx::TRoute undo = *form_->Router().Find("Undo");
    undo.Run = [&undos](jx::TJXMainForm&) { ++undos; };
    undo.NeedsImage = false;
    form_->Router().Add(undo);
    QWidget* w = form_->ImageScroll();

    // Ctrl released first, then Z.
    QTest::keyPress(w, Qt::Key_Control, Qt::ControlModifier);
    QTest::keyPress(w, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyRelease(w, Qt::Key_Control, Qt::NoModifier);
    QTest::keyRelease(w, Qt::Key_Z, Qt::NoModifier);
    EXPECT_EQ(undos, 1);
    // Z released first, then Ctrl.
    QTest::keyPress(w, Qt::Key_Control, Qt::ControlModifier);
    QTest::keyPress(w, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyRelease(w, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyRelease(w, Qt::Key_Control, Qt::NoModifier);
    EXPECT_EQ(undos, 2);
    // Shift held with them: not exactly Ctrl, even when Shift goes first.
    QTest::keyPress(w, Qt::Key_Control, Qt::ControlModifier);
    QTest::keyPress(w, Qt::Key_Shift, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyPress(w, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyRelease(w, Qt::Key_Shift, Qt::ControlModifier);
    QTest::keyRelease(w, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyRelease(w, Qt::Key_Control, Qt::NoModifier);
    EXPECT_EQ(undos, 2);
    // Z alone after the chord is no chord.
    QTest::keyClick(w, Qt::Key_Z);
    EXPECT_EQ(undos, 2);
}

TEST_F(WindowTrialTest, ImageMenuAndToolBarAsLaidOut) {
    QMenu* menu = form_->PaletteCommands().ImageMenu();
    QStringList captions;
    for (QAction* a : menu->actions())
        if (!a->isSeparator()) captions << a->text();
    EXPECT_EQ(captions, QStringList({"Split image with alpha", "Alpha background", "Convert", "Middle button click", "Zoom"}));
    // The choices show their state by glyph.
    for (const char* name : {"BackgroundColor", "BackgroundGrid", "BackgroundPicture", "AddNewColor", "ReplaceNearestColor"}) {
        QAction* a = menu->findChild<QAction*>(name);
        ASSERT_NE(a, nullptr) << name;
        EXPECT_FALSE(a->icon().isNull()) << name;
        EXPECT_TRUE(a->isIconVisibleInMenu()) << name;
    }
    // The smoothing dialog keeps nothing: its button is not shown; colour correction commits.
    form_->OpenImage(SuiteFile("basn2c08.png"));
    EXPECT_FALSE(form_->MainToolBar()->findChild<QAction*>("SmoothingButton")->isVisible());
    EXPECT_TRUE(form_->MainToolBar()->findChild<QAction*>("ColorCorrectionButton")->isVisible());
}

TEST_F(WindowTrialTest, BatchForcedRgbReachesTheOptionsAndTheLossyDialogHasItsSize) {
    jx::TQuantizerSettingsForm* settingsForm = form_->QuantizerSettingsForm();
    settingsForm->FRGB->click();
    EXPECT_TRUE(form_->Options().forcedRgb);
    settingsForm->FRGB->click();
    EXPECT_FALSE(form_->Options().forcedRgb);
    // Sized by itself, before any window manager sees it.
    const QSize lossy = form_->FileDialogs().LossyForm()->size();
    EXPECT_GE(lossy.width(), form_->FileDialogs().LossyForm()->minimumSizeHint().width());
    EXPECT_GE(lossy.height(), form_->FileDialogs().LossyForm()->minimumSizeHint().height());
}

TEST_F(WindowTrialTest, ErrorFiguresCountOnlyThePixelsOfTheSplitViewsTab) {
    // Opaque on the left, half transparent on the right.
    QImage picture(16, 8, QImage::Format_ARGB32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) picture.setPixel(x, y, qRgba(x * 16, y * 32, 200 - x * 8, x < 8 ? 255 : 128));
    const QString file = QString::fromStdString((base_ / "split.png").string());
    ASSERT_TRUE(picture.save(file));
    form_->OpenImage(file);
    form_->PalettePanel()->Colors()->setEditText("16");
    form_->PalettePanel()->ColorsSelect();
    form_->AlphaCommands().SplitImageClick();
    ASSERT_EQ(form_->AlphaCommands().FileTabs()->count(), 3);
    jx::TQuantizerSettingsForm* settingsForm = form_->QuantizerSettingsForm();
    const auto metric = static_cast<jx::TErrorMetric>(settingsForm->ErrorMetric->currentIndex());
    for (int tab : {1, 2}) {
        form_->AlphaCommands().FileTabs()->setCurrentIndex(tab);
        ASSERT_EQ(form_->AlphaCommands().SplitView().Current(), tab);
        jx::EngineState& st = form_->State();
        if (tab == 1) {
            // An alpha error on a pixel of the translucent part, which the opaque tab leaves out.
            const auto at = std::find_if(st.SourceImage.Data(), st.SourceImage.Data() + st.SourceImage.Count(),
                                         [](const jx::TPixelRec& p) { return p.A != 255; });
            ASSERT_NE(at, st.SourceImage.Data() + st.SourceImage.Count());
            st.WorkingImage.Data()[at - st.SourceImage.Data()].A = 200;
            settingsForm->ShowErrorMetrics();
            EXPECT_NE(jx::ErrorMetricTexts(st, metric, 1), jx::ErrorMetricTexts(st, metric, 0));
        }
        const auto own = jx::ErrorMetricTexts(st, metric, tab);
        EXPECT_EQ(settingsForm->LumaError->text(), own[0]) << tab;
        EXPECT_EQ(settingsForm->AlphaError->text(), own[3]) << tab;
    }
}

// A save whose tool runs until the bar has moved: the script waits for the test's "go", which the
// test gives only when it saw the bar advance while the script was running.
TEST_F(WindowTrialTest, ProgressBarMovesWhileAChainStepRuns) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    ASSERT_TRUE(form_->State().HasImage());
    const fs::path running = base_ / "running", go = base_ / "go", script = base_ / "slow.sh";
    // Gives up after a minute so that a broken timer fails the test instead of hanging it.
    std::ofstream(script) << "#!/bin/sh\ntouch '" << running.string() << "'\nn=0\nwhile [ ! -e '" << go.string()
                          << "' ] && [ $n -lt 1200 ]; do sleep 0.05; n=$((n+1)); done\n";
    fs::permissions(script, fs::perms::owner_all);
    form_->Options().optimization = 4;
    form_->Options().own = script.string();

    int startValue = -1;
    bool advanced = false;
    QObject::connect(form_->StatusPanels().ProgressBar(), &QProgressBar::valueChanged, form_.get(), [&](int value) {
        if (!fs::exists(running)) return;
        if (startValue < 0) {
            startValue = value;
            return;
        }
        if (value > startValue && !advanced) {
            advanced = true;
            std::ofstream(go) << "go";
        }
    });
    // The first tick after the tool started gives the value the step runs from.
    QObject::connect(form_->StatusPanels().SaveProgressTimer(), &QTimer::timeout, form_.get(), [&] {
        if (startValue < 0 && fs::exists(running)) startValue = form_->StatusPanels().ProgressBar()->value();
    });
    ASSERT_TRUE(form_->SaveCommands().SaveAs(QString::fromStdString((base_ / "x.png").string()))) << messages_.join("\n").toStdString();
    EXPECT_TRUE(advanced);
    EXPECT_FALSE(form_->StatusPanels().ProgressBar()->isVisible());
    EXPECT_FALSE(form_->StatusPanels().SaveProgressTimer()->isActive());
}

}  // namespace
