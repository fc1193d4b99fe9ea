#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolBar>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>

#include <QTreeWidget>

#include "gui/batch_form.h"
#include "gui/image_view.h"
#include "gui/image_view.h"
#include "gui/main_form.h"
#include "gui/palette_panel.h"
#include "gui/save_commands.h"
#include "gui/status_panels.h"
#include "gui/save_commands.h"
#include "gui/palette_panel.h"
#include "gui/palette_commands.h"
#include "gui/pointer_form.h"
#include "gui/quantizer_settings.h"
#include "gui_app.h"
#include "platform/session.h"
#include "platform/settings.h"
#include "platform/version.h"

namespace fs = std::filesystem;

namespace {

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        form_ = std::make_unique<jx::TJXMainForm>(nullptr, "");
        form_->SetMessageHandler([this](const QString& m) { messages_ << m; });
        form_->show();
        form_->FirstShow("");
    }
    void TearDown() override { form_.reset(); }

    std::unique_ptr<jx::TJXMainForm> form_;
    QStringList messages_;
};

TEST_F(MainFormTest, OpeningFillsStatusAndQuantizes) {
    const QString file = SuiteFile("basn2c08.png");
    form_->OpenImage(file);
    EXPECT_EQ(form_->StatusPanels().Text(0), "basn2c08.png");
    EXPECT_EQ(form_->StatusPanels().Text(1), "Dimension: 32x32");
    const int unique = DistinctColors(QImage(file));
    EXPECT_EQ(form_->StatusPanels().Text(2), QString("Unique colors: %1").arg(unique));
    EXPECT_EQ(form_->StatusPanels().Text(3), QString("File size: %1 bytes").arg(QFileInfo(file).size()));
    EXPECT_EQ(form_->State().UniqueColorCount, unique);
    // More than 256 colours: true colour, shown in both boxes.
    EXPECT_GT(unique, 256);
    EXPECT_EQ(form_->PalettePanel()->Colors()->currentText(), "TrueColor");
    EXPECT_EQ(form_->QuantizerSettingsForm()->Colors->currentText(), "TrueColor");
    EXPECT_EQ(form_->ImageView()->Bitmap().size(), QSize(32, 32));
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
}

TEST_F(MainFormTest, ADroppedChunkIsToldInTheStatusBar) {
    // basn2c08 with a tEXt chunk after IHDR whose CRC is wrong: it opens, and says so.
    QFile in(SuiteFile("basn2c08.png"));
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    QByteArray bytes = in.readAll();
    bytes.insert(33, QByteArray("\0\0\0\3tEXta\0b\1\2\3\4", 15));
    const fs::path folder = fs::temp_directory_path() / ("jx_crc_" + std::to_string(getpid()));
    fs::create_directories(folder);
    const QString file = QString::fromStdString((folder / "crc_text.png").string());
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes);
    out.close();
    form_->OpenImage(file);
    fs::remove_all(folder);
    EXPECT_EQ(form_->StatusPanels().Text(1), "Dimension: 32x32");
    EXPECT_EQ(form_->StatusPanels().Text(4), "crc_text.png: chunk tEXt has a bad CRC and was left out");
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
}

TEST_F(MainFormTest, WithoutASessionFolderSavingSaysWhy) {
    EXPECT_TRUE(form_->InstalledTools().empty());
    form_->OpenImage(SuiteFile("basn3p02.png"));
    EXPECT_FALSE(form_->SaveCommands().SaveAs("/tmp/never.png"));
    EXPECT_EQ(messages_.size(), 1);
}

TEST_F(MainFormTest, MissingOrUnknownFilesDoNothing) {
    form_->OpenImage("/no/such/file.png");
    form_->OpenImage(QString(JX_TEST_DATA_DIR "/pngsuite/rgba/README"));
    EXPECT_FALSE(form_->State().HasImage());
    EXPECT_TRUE(form_->StatusPanels().Text(1).isEmpty());
    EXPECT_TRUE(messages_.isEmpty());
}

TEST_F(MainFormTest, DamagedImageIsReportedAndTheWindowLivesOn) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    form_->OpenImage(SuiteFile("xcrn0g04.png"));
    EXPECT_EQ(messages_.size(), 1);
    EXPECT_EQ(form_->StatusPanels().Text(0), "basn2c08.png");
    EXPECT_EQ(form_->State().ImageWidth(), 32);
}

TEST_F(MainFormTest, ChangingTheColourCountRequantizes) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    const QImage before = form_->ImageView()->Bitmap();
    form_->PalettePanel()->Colors()->setEditText("16");
    EXPECT_EQ(form_->QuantizerSettingsForm()->Colors->currentText(), "16");  // the boxes follow each other
    QTest::keyClick(form_->PalettePanel()->Colors()->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(form_->State().PaletteSize, 16);
    EXPECT_LE(DistinctColors(form_->ImageView()->Bitmap()), 16);
    EXPECT_NE(form_->ImageView()->Bitmap(), before);
    EXPECT_TRUE(form_->PaletteCommands().PaletteGrid()->isVisibleTo(form_.get()));

    // Back to true colour from the dialog's own list: the output equals the source again.
    form_->QuantizerSettingsForm()->Colors->setCurrentIndex(9);
    form_->QuantizerSettingsForm()->ColorsSelect();
    EXPECT_EQ(form_->State().PaletteSize, -1);
    EXPECT_EQ(form_->ImageView()->Bitmap(), before);
    EXPECT_EQ(form_->PalettePanel()->Colors()->currentText(), "TrueColor");
}

TEST_F(MainFormTest, BadColourCountIsRefusedAndChangesNothing) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    form_->PalettePanel()->Colors()->setEditText("64");
    form_->PalettePanel()->ColorsSelect();
    const QImage before = form_->ImageView()->Bitmap();
    for (const char* bad : {"abc", "-5", "-0", "70000", "12x"}) {
        messages_.clear();
        form_->PalettePanel()->Colors()->setEditText(bad);
        form_->PalettePanel()->ColorsSelect();
        EXPECT_EQ(messages_.size(), 1) << bad;
        EXPECT_EQ(form_->State().PaletteSize, 64) << bad;
        EXPECT_EQ(form_->ImageView()->Bitmap(), before) << bad;
        EXPECT_EQ(form_->PalettePanel()->Colors()->currentText(), "64") << bad;
        EXPECT_EQ(form_->QuantizerSettingsForm()->Colors->currentText(), "64") << bad;
    }
    // The OK button refuses it the same way.
    messages_.clear();
    form_->PalettePanel()->Colors()->setEditText("many");
    form_->PalettePanel()->ApplyClick();
    EXPECT_EQ(messages_.size(), 1);
    EXPECT_EQ(form_->State().PaletteSize, 64);
    // 0 is true colour, from either road.
    messages_.clear();
    for (const auto& apply : {std::function<void()>([&] { form_->PalettePanel()->ColorsSelect(); }),
                              std::function<void()>([&] { form_->PalettePanel()->ApplyClick(); })}) {
        form_->PalettePanel()->Colors()->setEditText("64");
        form_->PalettePanel()->ColorsSelect();
        form_->PalettePanel()->Colors()->setEditText("0");
        apply();
        EXPECT_EQ(form_->State().PaletteSize, -1);
        EXPECT_EQ(form_->PalettePanel()->Colors()->currentText(), "TrueColor");
        EXPECT_EQ(form_->QuantizerSettingsForm()->Colors->currentText(), "TrueColor");
    }
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
}

TEST_F(MainFormTest, ZoomStepsStopAtSixteenAndRestoreScroll) {
    form_->resize(700, 500);
    form_->OpenImage(SuiteFile("basn2c08.png"));
    form_->ImageView()->ZoomStep('-');
    EXPECT_EQ(form_->ImageView()->ZoomShift(), 0);
    for (int i = 0; i < 5; ++i) form_->ImageView()->ZoomStep('+');
    EXPECT_EQ(form_->ImageView()->ZoomShift(), 4);
    EXPECT_EQ(form_->ImageView()->size(), QSize(512, 512));
    form_->ImageView()->ZoomStep('-');
    form_->ImageView()->ZoomStep('-');
    QScrollBar* v = form_->ImageScroll()->verticalScrollBar();
    QApplication::processEvents();
    const int saved = v->value();
    form_->ImageView()->ZoomStep('+');
    v->setValue(v->maximum());
    form_->ImageView()->ZoomStep('-');
    EXPECT_EQ(v->value(), saved);
    form_->ImageView()->ZoomActual();
    EXPECT_EQ(form_->ImageView()->ZoomShift(), 0);
    EXPECT_EQ(form_->ImageView()->size(), QSize(32, 32));
}

TEST_F(MainFormTest, KeysZoomAndToggleThePanel) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    form_->ImageScroll()->setFocus();
    QTest::keyClick(form_->ImageScroll(), '+');
    EXPECT_EQ(form_->ImageView()->ZoomShift(), 1);
    ASSERT_TRUE(form_->PalettePanel()->isVisible());
    QTest::keyClick(form_->ImageScroll(), Qt::Key_QuoteLeft);
    EXPECT_FALSE(form_->PalettePanel()->isVisible());
    // Typing into the colour-count box is not a view command.
    QTest::keyClicks(form_->PalettePanel()->Colors()->lineEdit(), "+");
    EXPECT_EQ(form_->ImageView()->ZoomShift(), 1);
    QTest::keyClick(form_->ImageScroll(), Qt::Key_Escape);
    EXPECT_TRUE(form_->Cancel().IsRequested());
}

TEST_F(MainFormTest, QuantizerSettingsButtonOpensAndEscClosesTheDialog) {
    jx::TQuantizerSettingsForm* settingsForm = form_->QuantizerSettingsForm();
    form_->PalettePanel()->QuantizerSettingsButton()->trigger();
    ASSERT_TRUE(settingsForm->isVisible());
    EXPECT_TRUE(form_->PalettePanel()->QuantizerSettingsButton()->isChecked());
    QTest::keyClick(settingsForm, Qt::Key_Escape);
    EXPECT_FALSE(settingsForm->isVisible());
    EXPECT_FALSE(form_->PalettePanel()->QuantizerSettingsButton()->isChecked());

    // The close button takes the same road.
    form_->PalettePanel()->QuantizerSettingsButton()->trigger();
    ASSERT_TRUE(settingsForm->isVisible());
    settingsForm->close();
    EXPECT_FALSE(settingsForm->isVisible());
    EXPECT_FALSE(form_->PalettePanel()->QuantizerSettingsButton()->isChecked());
}

// A tool dialog that locks the main window, as the image-editing tools do.
class LockingTool : public jx::TPointerform {
public:
    explicit LockingTool(jx::TJXMainForm* m) : TPointerform(m, "Filter", kFades | kLocksMainWindow) {}
    int closes = 0;

protected:
    void FormClose() override { ++closes; }
};

TEST_F(MainFormTest, LockIsOneCounterThatEveryRouteChecks) {
    LockingTool a(form_.get()), b(form_.get());
    a.show();
    b.show();
    EXPECT_EQ(form_->LockCount(), 2);
    EXPECT_FALSE(form_->MainToolBar()->isEnabled());
    EXPECT_FALSE(form_->PalettePanel()->isEnabled());

    // Routes stay shut: opening, keys, the settings button.
    form_->OpenImage(SuiteFile("basn2c08.png"));
    EXPECT_FALSE(form_->State().HasImage());
    form_->PalettePanel()->QuantizerSettingsClick(true);
    EXPECT_FALSE(form_->QuantizerSettingsForm()->isVisible());

    QTest::keyClick(&a, Qt::Key_Escape);  // Esc closes the first
    EXPECT_FALSE(a.isVisible());
    EXPECT_EQ(a.closes, 1);
    EXPECT_EQ(form_->LockCount(), 1);
    EXPECT_FALSE(form_->MainToolBar()->isEnabled());  // the first to close does not unlock the other

    b.close();  // the close button
    EXPECT_EQ(b.closes, 1);
    EXPECT_EQ(form_->LockCount(), 0);
    EXPECT_TRUE(form_->MainToolBar()->isEnabled());
    EXPECT_TRUE(form_->PalettePanel()->isEnabled());

    // Shown again and hidden by code: still balanced.
    a.show();
    a.hide();
    EXPECT_EQ(form_->LockCount(), 0);
    form_->OpenImage(SuiteFile("basn2c08.png"));
    EXPECT_TRUE(form_->State().HasImage());
}

TEST_F(MainFormTest, DroppedFilesOpenOrGoToTheBatchWindow) {
    form_->DropFiles({SuiteFile("basn2c08.png"), SuiteFile("basn3p02.png")});
    EXPECT_FALSE(form_->State().HasImage());
    // The batch window's turn: it takes the drop and the main window steps aside.
    ASSERT_NE(form_->BatchForm(), nullptr);
    EXPECT_EQ(form_->BatchForm()->FileList->topLevelItemCount(), 2);
    EXPECT_FALSE(form_->isVisible());
    form_->BatchForm()->close();
    EXPECT_TRUE(form_->isVisible());
    EXPECT_TRUE(messages_.isEmpty());
    form_->DropFiles({SuiteFile("basn3p02.png"), "/tmp/some.pal"});
    EXPECT_EQ(form_->StatusPanels().Text(0), "basn3p02.png");
    EXPECT_EQ(messages_.size(), 1);  // the palette follows the image
    messages_.clear();
    // An upper-case palette extension is taken for an image: two images go to the batch window.
    form_->DropFiles({SuiteFile("basn2c08.png"), "/tmp/some.PAL"});
    EXPECT_EQ(form_->StatusPanels().Text(0), "basn3p02.png");
    EXPECT_TRUE(form_->BatchForm()->isVisible());
    EXPECT_EQ(form_->BatchForm()->FileList->topLevelItemCount(), 1);
    EXPECT_TRUE(messages_.isEmpty());
}

TEST(MainFormLife, CloseRemovesTheSessionAndSettingsSurviveARestart) {
    GuiApp();
    std::string base = jx::TempFolder() + "/jx_gui_test_XXXXXX";
    ASSERT_NE(::mkdtemp(base.data()), nullptr);
    const std::string ini = base + "/options.ini";
    {
        jx::SessionFolder session(base);
        const std::string folder = session.Path();
        jx::TJXMainForm form(&session, ini);
        form.show();
        form.FirstShow("");
        session.WriteFile("Quillox", "x", 1);
        session.WriteFile("0000ABCD.img", "x", 1);  // an undo file
        form.Options().optimization = 3;
        form.Options().iter = "22";
        form.close();
        EXPECT_FALSE(fs::exists(folder));
    }
    {
        jx::TJXMainForm form(nullptr, ini);
        form.FirstShow("");
        EXPECT_EQ(form.Options().optimization, 3);
        EXPECT_EQ(form.Options().iter, "22");
    }
    fs::remove_all(base);
}

// A settings file as the build before the control renames wrote it: every key is read, and
// closing writes back the same bytes.
TEST(MainFormLife, SettingsFileOfThePreviousBuildLoadsUnchanged) {
    GuiApp();
    std::string base = jx::TempFolder() + "/jx_gui_test_XXXXXX";
    ASSERT_NE(::mkdtemp(base.data()), nullptr);
    const std::string ini = base + "/options.ini";
    const std::string text = std::string("[Main]\nJXVer=") + jx::VersionText() +
                             "\n\n"
                             "[Capture]\nPrtSc=0\nCaptureCursor=1\nDisableClearType=1\n"
                             "HotKey1=Ctrl+F5\nHotKey2=Shift+Alt+P\nHotKey3=\n\n"
                             "[PNG]\nOptimization=4\nIter=40\nOwn=/home/someone/opt.sh\nShowConsole=1\n";
    std::ofstream(ini, std::ios::binary) << text;
    {
        jx::TJXMainForm form(nullptr, ini);
        form.FirstShow("");
        const jx::JxOptions expected{.prtSc = false, .captureCursor = true, .disableClearType = true,
                                     .hotKey1 = "Ctrl+F5", .hotKey2 = "Shift+Alt+P", .hotKey3 = "",
                                     .optimization = 4, .iter = "40", .own = "/home/someone/opt.sh",
                                     .showConsole = true};
        EXPECT_EQ(form.Options(), expected);
        form.close();
    }
    std::ifstream in(ini, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
    fs::remove_all(base);
}

}  // namespace

namespace {

TEST_F(MainFormTest, HeldButtonShowsInspectionViewsUntilRelease) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    form_->PalettePanel()->Colors()->setEditText("16");
    form_->PalettePanel()->ColorsSelect();
    const QImage output = form_->ImageView()->Bitmap();
    const QPoint at(5, 5);
    QTest::mousePress(form_->ImageView(), Qt::LeftButton, Qt::NoModifier, at);
    EXPECT_NE(form_->ImageView()->Bitmap(), output);  // the source while held
    QTest::mouseRelease(form_->ImageView(), Qt::LeftButton, Qt::NoModifier, at);
    EXPECT_EQ(form_->ImageView()->Bitmap(), output);

    QTest::mousePress(form_->ImageView(), Qt::LeftButton, Qt::AltModifier, at);
    EXPECT_TRUE(form_->ImageView()->ViewOptions().ShowErrorMap);
    QTest::mouseRelease(form_->ImageView(), Qt::LeftButton, Qt::AltModifier, at);
    EXPECT_FALSE(form_->ImageView()->ViewOptions().ShowErrorMap);
    EXPECT_EQ(form_->ImageView()->Bitmap(), output);

    QTest::mousePress(form_->ImageView(), Qt::LeftButton, Qt::ControlModifier | Qt::ShiftModifier, at);
    EXPECT_TRUE(form_->ImageView()->ViewOptions().ShowAlphaChannel);
    QTest::mouseRelease(form_->ImageView(), Qt::LeftButton, Qt::ControlModifier | Qt::ShiftModifier, at);
    EXPECT_FALSE(form_->ImageView()->ViewOptions().ShowAlphaChannel);
    EXPECT_FALSE(form_->PalettePanel()->HistogramBox()->Drawing().isNull());
}

}  // namespace
