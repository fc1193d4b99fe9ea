#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "gui/about_form.h"
#include "gui/main_form.h"
#include "gui/options_commands.h"
#include "gui/options_form.h"
#include "gui_app.h"
#include "platform/session.h"
#include "platform/version.h"

namespace fs = std::filesystem;

namespace {

class OptionsFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        base_ = jx::TempFolder() + "/jx_options_test_XXXXXX";
        ASSERT_NE(::mkdtemp(base_.data()), nullptr);
        ini_ = base_ + "/options.ini";
        form_ = std::make_unique<jx::TJXMainForm>(nullptr, ini_);
        form_->SetMessageHandler([this](const QString& m) { messages_ << m; });
        form_->show();
        form_->FirstShow("");
        dlg_ = form_->OptionsCommands().OptionsForm();
    }
    void TearDown() override {
        if (dlg_->isVisible()) dlg_->close();
        form_.reset();
        fs::remove_all(base_);
    }
    std::string IniText() const {
        std::ifstream in(ini_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::string base_, ini_;
    std::unique_ptr<jx::TJXMainForm> form_;
    jx::TOptionsForm* dlg_ = nullptr;
    QStringList messages_;
};

TEST_F(OptionsFormTest, ShowingChangesNoStoredValue) {
    jx::JxOptions& o = form_->Options();
    o.optimization = 4;  // "External script", chosen in the save dialog
    o.own = "/Some/Path/My Script.SH";
    o.iter = "20";
    o.prtSc = true;
    o.hotKey2 = "Ctrl+F5";
    const jx::JxOptions before = o;
    dlg_->show();
    EXPECT_EQ(o, before);
    EXPECT_EQ(dlg_->OwnStr->text(), "/Some/Path/My Script.SH");
    EXPECT_EQ(dlg_->Iter->text(), "20");
    EXPECT_TRUE(dlg_->FixedKey[0]->isEnabledTo(dlg_->BtnGroup));
    EXPECT_FALSE(dlg_->FixedKey[1]->isEnabledTo(dlg_->BtnGroup));  // a user key stands in for "Alt + PrtSc"
    // No X11 here: capture is off and the dialog says why, without clearing the stored choice.
    EXPECT_FALSE(dlg_->PrtSc->isEnabled());
    EXPECT_TRUE(dlg_->CaptureMessage->text().contains("X11"));
    EXPECT_FALSE(dlg_->ClearType->isEnabled());
}

TEST_F(OptionsFormTest, IterIsAWholeNumberFromOneToAThousand) {
    form_->Options().iter = "15";
    dlg_->show();
    for (const char* bad : {"0", "1001", "abc", "", "12x", "-3"}) {
        dlg_->Iter->setText(bad);
        EXPECT_TRUE(dlg_->IterMessage->isVisibleTo(dlg_)) << bad;
        EXPECT_EQ(form_->Options().iter, "15") << bad;
    }
    // "OK" with a bad number says so and stays open.
    dlg_->OkButton->click();
    EXPECT_TRUE(dlg_->isVisible());
    EXPECT_EQ(messages_.size(), 1);
    for (const char* good : {"1", "1000", "42"}) {
        dlg_->Iter->setText(good);
        EXPECT_FALSE(dlg_->IterMessage->isVisibleTo(dlg_)) << good;
        EXPECT_EQ(form_->Options().iter, good);
    }
}

TEST_F(OptionsFormTest, HotKeyFieldsKeepOneChordAndTheFixedKeyFollows) {
    dlg_->show();
    dlg_->HotKey[2]->setKeySequence(QKeySequence("Ctrl+F7, Alt+F8"));
    EXPECT_EQ(form_->Options().hotKey3, "Ctrl+F7");
    EXPECT_FALSE(dlg_->FixedKey[2]->isEnabledTo(dlg_->BtnGroup));
    dlg_->HotKey[2]->clear();
    EXPECT_EQ(form_->Options().hotKey3, "");
    EXPECT_TRUE(dlg_->FixedKey[2]->isEnabledTo(dlg_->BtnGroup));
}

TEST_F(OptionsFormTest, ScriptMustBeExecutableOrShell) {
    const std::string plain = base_ + "/notes.txt", shell = base_ + "/Run.sh", exe = base_ + "/Optimise";
    for (const std::string& f : {plain, shell, exe}) std::ofstream(f) << "echo\n";
    ::chmod(exe.c_str(), 0755);
    EXPECT_FALSE(jx::TOptionsForm::ScriptProblem(QString::fromStdString(plain)).isEmpty());
    EXPECT_TRUE(jx::TOptionsForm::ScriptProblem(QString::fromStdString(shell)).isEmpty());
    EXPECT_TRUE(jx::TOptionsForm::ScriptProblem(QString::fromStdString(exe)).isEmpty());
    EXPECT_FALSE(jx::TOptionsForm::ScriptProblem(QString::fromStdString(base_ + "/missing.sh")).isEmpty());

    dlg_->show();
    QString pick = QString::fromStdString(plain);
    dlg_->BrowseScript = [&] { return pick; };
    dlg_->ChooseScriptClick();
    EXPECT_EQ(messages_.size(), 1);
    EXPECT_EQ(form_->Options().own, "");
    pick = QString::fromStdString(exe);
    dlg_->ChooseScriptClick();
    EXPECT_EQ(form_->Options().own, exe);  // case kept
}

TEST_F(OptionsFormTest, TheSettingsFileIsWrittenWhenTheDialogReturns) {
    // Edited inside the modal loop, then closed with Esc: the edits stay and reach the file.
    QTimer::singleShot(0, dlg_, [this] {
        dlg_->Iter->setText("33");
        dlg_->ShowConsole->setChecked(true);
        dlg_->close();
    });
    form_->MainToolBar()->findChild<QAction*>("OptionsButton")->trigger();
    const std::string text = IniText();
    EXPECT_NE(text.find("Iter=33"), std::string::npos);
    EXPECT_NE(text.find("ShowConsole=1"), std::string::npos);
    EXPECT_NE(text.find(std::string("JXVer=") + jx::VersionText()), std::string::npos);
}

}  // namespace
