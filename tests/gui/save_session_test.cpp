#include <gtest/gtest.h>

#include <QComboBox>
#include <QFileInfo>
#include <QImage>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QAction>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fileio/tools.h"
#include "gui/lossy_form.h"
#include "gui/file_dialogs.h"
#include "gui/main_form.h"
#include "gui/save_commands.h"
#include "gui/palette_panel.h"
#include "gui/quantizer_settings.h"
#include "gui_app.h"
#include "window_fixture.h"
#include "platform/session.h"

namespace fs = std::filesystem;

namespace {

// A main window with a real session folder in a private temporary base.
class SaveSessionTest : public MainWindowTest {
protected:
    void OpenQuantized(const char* name, const char* colors) {
        form_->OpenImage(SuiteFile(name));
        ASSERT_TRUE(form_->State().HasImage());
        form_->PalettePanel()->Colors()->setEditText(colors);
        form_->PalettePanel()->ColorsSelect();
    }

    // The saved file, decoded, equals the working image (alpha too when the image has it).
    void ExpectSavedImageIsWorkingImage(const fs::path& file) {
        const QImage img = QImage(QString::fromStdString(file.string())).convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(img.isNull()) << file;
        const jx::EngineState& st = form_->State();
        ASSERT_EQ(img.width(), st.ImageWidth());
        ASSERT_EQ(img.height(), st.ImageHeight());
        EXPECT_EQ(img.hasAlphaChannel() && QImage(QString::fromStdString(file.string())).hasAlphaChannel(),
                  st.HasAlpha);
        int wrong = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QRgb q = img.pixel(x, y);
                const jx::TPixelRec& p = st.WorkingImage[y][x];
                const int a = st.HasAlpha ? p.A : 255;
                if (qAlpha(q) != a || (a != 0 && (qRed(q) != p.R || qGreen(q) != p.G || qBlue(q) != p.B))) ++wrong;
            }
        EXPECT_EQ(wrong, 0);
    }

    bool HaveQuillox() const { return fs::exists(session_->FilePath("quillox")); }
};

TEST_F(SaveSessionTest, ToolsArePlacedAtStartAndGoneAfterClose) {
    for (const jx::ToolSource& t : jx::LocateTools(jx::ExecutableDir())) {
        if (t.from.empty()) continue;
        EXPECT_TRUE(fs::exists(session_->FilePath(t.name))) << t.name;
    }
    // The build tree's quillox is found from the test program's folder too.
    if (fs::exists(jx::ExecutableDir().parent_path() / "bin" / "quillox")) {
        EXPECT_TRUE(HaveQuillox());
    }
    size_t entries = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(session_->Path()))
        entries += e.path().filename() != jx::SessionFolder::kLockName;
    EXPECT_EQ(form_->InstalledTools().size(), entries);
    const std::string folder = session_->Path();
    form_->close();
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(form_->InstalledTools().empty());
}

TEST_F(SaveSessionTest, SaveAsWritesAnOptimizedPngOfTheWorkingImage) {
    OpenQuantized("basn2c08.png", "16");
    form_->Options().optimization = 0;  // "Fast": quillox alone
    const fs::path out = base_ / "out.png";
    ASSERT_TRUE(form_->SaveCommands().SaveAs(QString::fromStdString(out.string()))) << messages_.join("\n").toStdString();
    ExpectSavedImageIsWorkingImage(out);
    EXPECT_EQ(form_->StatusPanels().Text(4), QString("Write (png): %1 bytes").arg(fs::file_size(out)));
    const QString info = form_->QuantizerSettingsForm()->InfoText->toPlainText();
    EXPECT_TRUE(info.contains(QString("Write: %1 bytes (").arg(fs::file_size(out))));
    if (HaveQuillox()) {
        EXPECT_FALSE(info.contains("quillox")) << info.toStdString();  // no warning about it
    }
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
    // The chain's intermediates are gone; the tools stay for the next save.
    EXPECT_FALSE(fs::exists(session_->FilePath("0.png")));
    EXPECT_FALSE(fs::exists(session_->FilePath("1.png")));
}

TEST_F(SaveSessionTest, SaveAsKeepsAlphaAndAddsTheExtension) {
    OpenQuantized("basn6a08.png", "64");
    ASSERT_TRUE(form_->State().HasAlpha);
    form_->Options().optimization = 2;  // "Slow": quillox and advdef, the smaller one wins
    ASSERT_TRUE(form_->SaveCommands().SaveAs(QString::fromStdString((base_ / "alpha").string())))
        << messages_.join("\n").toStdString();
    ExpectSavedImageIsWorkingImage(base_ / "alpha.png");
}

TEST_F(SaveSessionTest, OtherFiltersWriteTheirFormatUnderItsExtension) {
    OpenQuantized("basn2c08.png", "16");
    for (const auto& [index, ext] : {std::pair{2, "gif"}, std::pair{3, "bmp"}}) {
        ASSERT_TRUE(form_->SaveCommands().SaveAs(QString::fromStdString((base_ / "out.png").string()), index))
            << messages_.join("\n").toStdString();
        const fs::path file = base_ / (std::string("out.") + ext);
        ExpectSavedImageIsWorkingImage(file);
        EXPECT_EQ(form_->StatusPanels().Text(4), QString("Write (%1): %2 bytes").arg(ext).arg(fs::file_size(file)));
    }
    EXPECT_FALSE(fs::exists(base_ / "out.png"));
    // Another image has not been written: the last save's size goes.
    form_->OpenImage(SuiteFile("basn3p02.png"));
    EXPECT_TRUE(form_->StatusPanels().Text(4).isEmpty()) << form_->StatusPanels().Text(4).toStdString();
    // JPEG goes through the quality dialog: nothing is written until its Save.
    EXPECT_TRUE(form_->SaveCommands().SaveAs(QString::fromStdString((base_ / "out").string()), 6));
    EXPECT_TRUE(messages_.isEmpty());
    EXPECT_FALSE(fs::exists(base_ / "out.jpg"));
    form_->FileDialogs().LossyForm()->close();
}

TEST_F(SaveSessionTest, UnwritableDestinationIsShownAndTheWindowLivesOn) {
    OpenQuantized("basn3p02.png", "TrueColor");
    EXPECT_FALSE(form_->SaveCommands().SaveAs(QString::fromStdString((base_ / "no" / "such" / "x.png").string())));
    ASSERT_EQ(messages_.size(), 1);
    EXPECT_EQ(form_->StatusPanels().Text(4), "Error...");
    EXPECT_FALSE(form_->Locked());
    EXPECT_FALSE(form_->SaveCommands().ToolRunning());
    // A later save works.
    EXPECT_TRUE(form_->SaveCommands().SaveAs(QString::fromStdString((base_ / "x.png").string())));
}

TEST_F(SaveSessionTest, MissingScriptIsReportedAndNothingIsWritten) {
    OpenQuantized("basn3p02.png", "TrueColor");
    form_->Options().optimization = 4;
    form_->Options().own = (base_ / "none.sh").string();
    const fs::path out = base_ / "x.png";
    EXPECT_FALSE(form_->SaveCommands().SaveAs(QString::fromStdString(out.string())));
    ASSERT_EQ(messages_.size(), 1);
    EXPECT_EQ(messages_[0], QString("Batch file is not found: \"%1\".\n\rCheck the settings are correct.")
                                .arg(QString::fromStdString((base_ / "none.sh").string())));
    EXPECT_EQ(form_->StatusPanels().Text(4), "Error...");
    EXPECT_FALSE(fs::exists(out));
}

// A script that fails, or writes garbage: the unoptimised PNG is kept, and the status bar and a
// message say so rather than only the size written.
TEST_F(SaveSessionTest, AFailedScriptIsShownInTheStatusBarAndAMessage) {
    OpenQuantized("basn3p02.png", "TrueColor");
    form_->Options().optimization = 4;
    const fs::path script = base_ / "opt.sh";
    for (const char* body : {"exit 3\n", "printf garbage > \"$1\"\n"}) {
        SCOPED_TRACE(body);
        std::ofstream(script) << "#!/bin/sh\n" << body;
        fs::permissions(script, fs::perms::owner_all);
        form_->Options().own = script.string();
        messages_.clear();
        const fs::path out = base_ / "x.png";
        ASSERT_TRUE(form_->SaveCommands().SaveAs(QString::fromStdString(out.string())));
        ExpectSavedImageIsWorkingImage(out);
        const QString status = form_->StatusPanels().Text(4);
        EXPECT_TRUE(status.startsWith(QString("Write (png): %1 bytes; script ").arg(fs::file_size(out))))
            << status.toStdString();
        EXPECT_TRUE(status.endsWith("0.png was kept as it was.")) << status.toStdString();
        ASSERT_EQ(messages_.size(), 1);
        EXPECT_TRUE(messages_[0].startsWith(QString("\"%1\" was written, but not optimised as asked:\n")
                                                .arg(QString::fromStdString(out.string()))))
            << messages_[0].toStdString();
        EXPECT_TRUE(messages_[0].contains(status.mid(status.indexOf("; ") + 2))) << messages_[0].toStdString();
    }
}

// A script that would run long: the save is stopped from inside its pumped wait.
class SlowScriptTest : public SaveSessionTest {
protected:
    void SetUp() override {
        SaveSessionTest::SetUp();
        const fs::path script = base_ / "slow.sh";
        std::ofstream(script) << "#!/bin/sh\nsleep 60\n";
        fs::permissions(script, fs::perms::owner_all);
        form_->Options().optimization = 4;
        form_->Options().own = script.string();
        OpenQuantized("basn3p02.png", "TrueColor");
    }
};

TEST_F(SlowScriptTest, EscCancelsTheRunningTool) {
    QTimer::singleShot(0, form_.get(), [this] {
        EXPECT_TRUE(form_->SaveCommands().ToolRunning());
        QTest::keyClick(form_->ImageScroll(), Qt::Key_Escape);
    });
    const fs::path out = base_ / "x.png";
    EXPECT_FALSE(form_->SaveCommands().SaveAs(QString::fromStdString(out.string())));
    EXPECT_EQ(form_->StatusPanels().Text(4), "Canceled...");
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(form_->isVisible());
    EXPECT_FALSE(form_->Locked());
}

TEST_F(SlowScriptTest, CloseDuringTheRunAsksThenCancelsAndCloses) {
    int asked = 0;
    form_->SaveCommands().AskStopSave = [&] {
        ++asked;
        EXPECT_TRUE(form_->SaveCommands().ToolRunning()) << "asked while the save still runs";
        return true;
    };
    QTimer::singleShot(0, form_.get(), [this] { form_->close(); });
    const std::string folder = session_->Path();
    EXPECT_FALSE(form_->SaveCommands().SaveAs(QString::fromStdString((base_ / "x.png").string())));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(form_->StatusPanels().Text(4), "Canceled...");
    QApplication::processEvents();  // the close asked for during the run
    EXPECT_FALSE(form_->isVisible());
    EXPECT_FALSE(fs::exists(folder));
}

TEST_F(SlowScriptTest, ANoKeepsTheSaveRunningAndTheWindowOpen) {
    int asked = 0;
    form_->SaveCommands().AskStopSave = [&] {
        ++asked;
        return false;
    };
    QTimer::singleShot(0, form_.get(), [this] {
        form_->close();
        // Still running after the answer; the test ends it with Esc.
        EXPECT_TRUE(form_->SaveCommands().ToolRunning());
        EXPECT_FALSE(form_->Cancel().IsRequested());
        QTimer::singleShot(0, form_.get(), [this] { QTest::keyClick(form_->ImageScroll(), Qt::Key_Escape); });
    });
    EXPECT_FALSE(form_->SaveCommands().SaveAs(QString::fromStdString((base_ / "x.png").string())));
    EXPECT_EQ(asked, 1);
    QApplication::processEvents();
    EXPECT_TRUE(form_->isVisible());
    EXPECT_TRUE(fs::exists(session_->Path()));
}

TEST_F(SlowScriptTest, EveryButtonLooksDisabledWhileSaving) {
    for (const char* count : {"2", "3"}) {
        form_->PalettePanel()->Colors()->setEditText(count);
        form_->PalettePanel()->ColorsSelect();
    }
    form_->UndoClick();  // Undo and Redo both enabled
    QToolBar* bar = form_->MainToolBar();
    for (const char* name : {"UndoButton", "RedoButton", "FilterButton"})
        ASSERT_TRUE(bar->widgetForAction(bar->findChild<QAction*>(name))->isEnabled()) << name;
    QStringList enabled;
    QTimer::singleShot(0, form_.get(), [&] {
        for (QAction* a : bar->actions())
            if (QWidget* w = bar->widgetForAction(a); w && w->isVisible() && w->isEnabled()) enabled << a->objectName();
        for (QWidget* w : form_->PalettePanel()->findChildren<QWidget*>())
            if (w->isVisible() && w->isEnabled()) enabled << w->objectName();
        QTest::keyClick(form_->ImageScroll(), Qt::Key_Escape);
    });
    form_->SaveCommands().SaveAs(QString::fromStdString((base_ / "x.png").string()));
    EXPECT_TRUE(enabled.isEmpty()) << enabled.join(", ").toStdString();
    EXPECT_TRUE(bar->widgetForAction(bar->findChild<QAction*>("UndoButton"))->isEnabled());
}

}  // namespace
