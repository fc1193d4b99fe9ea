// The colour-count boxes as a user drives them (keys into the box, picks from its list), and the
// undo history they leave behind.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QToolBar>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "gui/image_view.h"
#include "gui/main_form.h"
#include "gui/palette_panel.h"
#include "gui/quantizer_settings.h"
#include "window_fixture.h"

namespace {

class CountBoxTest : public MainWindowTest {
protected:
    void BeforeShow() override { form_->resize(900, 700); }

    // Focus moves as it does for a user only in the active window.
    void Activate(QWidget* w) {
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    }
    // Types over the box's whole text, then Enter.
    void Type(QComboBox* box, const QString& text, bool enter = true) {
        box->setFocus();
        box->lineEdit()->selectAll();
        QTest::keyClicks(box, text);
        if (enter) QTest::keyClick(box, Qt::Key_Return);
    }
    // Opens the list and picks the entry by keys, as the mouse would.
    void Pick(QComboBox* box, const QString& item) {
        box->showPopup();
        QAbstractItemView* list = box->view();
        list->setCurrentIndex(list->model()->index(box->findText(item), 0));
        QTest::keyClick(list, Qt::Key_Return);
    }
    // The undo files on disk: base name and extension.
    std::set<std::string> StateFiles() const {
        std::set<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(form_->SessionPath())) {
            const std::string name = e.path().filename().string();
            if (name.size() == 12 && name[8] == '.' && name.find_first_not_of("0123456789ABCDEF") == 8) out.insert(name);
        }
        return out;
    }
    size_t StatesOnDisk() const {
        std::set<std::string> bases;
        for (const std::string& f : StateFiles()) bases.insert(f.substr(0, 8));
        return bases.size();
    }
    // Each user action: exactly one more state, in the list and on disk.
    void ExpectOneMoreState(const std::function<void()>& action, const char* what) {
        const int32_t before = form_->UndoStore().Count();
        action();
        EXPECT_EQ(form_->UndoStore().Count(), before + 1) << what;
        EXPECT_EQ(StatesOnDisk(), size_t(before + 1)) << what;
    }
};

TEST_F(CountBoxTest, OneEnterOrOnePickIsOneUndoState) {
    form_->OpenImage(SuiteFile("basn2c08.png"));  // more than 256 colours: true colour
    ASSERT_EQ(form_->State().PaletteSize, -1);
    Activate(form_.get());
    QComboBox* main = form_->PalettePanel()->Colors();
    ExpectOneMoreState([&] { Type(main, "16"); }, "Enter in the main window's box");
    EXPECT_EQ(form_->State().PaletteSize, 16);
    ExpectOneMoreState([&] { Pick(main, "64"); }, "a pick from the main window's list");
    EXPECT_EQ(form_->State().PaletteSize, 64);

    jx::TQuantizerSettingsForm* settingsForm = form_->QuantizerSettingsForm();
    form_->PalettePanel()->QuantizerSettingsButton()->trigger();
    Activate(settingsForm);
    ExpectOneMoreState([&] { Type(settingsForm->Colors, "32"); }, "Enter in the dialog's box");
    EXPECT_EQ(form_->State().PaletteSize, 32);
    ExpectOneMoreState([&] { Pick(settingsForm->Colors, "128"); }, "a pick from the dialog's list");
    EXPECT_EQ(form_->State().PaletteSize, 128);
    EXPECT_EQ(main->currentText(), "128");

    // Typing without Enter and leaving the box is no action, though the text is in the list.
    Activate(form_.get());
    const int32_t states = form_->UndoStore().Count();
    Type(main, "64", false);
    form_->ImageScroll()->setFocus();
    EXPECT_EQ(form_->UndoStore().Count(), states);
    EXPECT_EQ(form_->State().PaletteSize, 128);
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
}

TEST_F(CountBoxTest, ATypedCountIsTakenAsTyped) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    Activate(form_.get());
    QComboBox* main = form_->PalettePanel()->Colors();
    Type(main, "2");  // the list's "256" must not complete it
    EXPECT_EQ(form_->State().PaletteSize, 2);
    EXPECT_EQ(main->currentText(), "2");
    EXPECT_LE(DistinctColors(form_->ImageView()->Bitmap()), 2);
    Type(main, "1");
    EXPECT_EQ(form_->State().PaletteSize, 2) << "one colour is made two";

    // A minus sign is not a zoom key in the box, and the count is refused, not read as 5.
    const int32_t states = form_->UndoStore().Count();
    Type(main, "-5");
    EXPECT_EQ(form_->ImageView()->ZoomShift(), 0);
    ASSERT_EQ(messages_.size(), 1);
    EXPECT_TRUE(messages_[0].startsWith("\"-5\" is not a number of colors")) << messages_[0].toStdString();
    EXPECT_EQ(form_->State().PaletteSize, 2);
    EXPECT_EQ(main->currentText(), "2");
    EXPECT_EQ(form_->UndoStore().Count(), states);

    Type(form_->QuantizerSettingsForm()->Colors, "0");  // true colour
    EXPECT_EQ(form_->State().PaletteSize, -1);
    EXPECT_EQ(main->currentText(), "TrueColor");
    EXPECT_EQ(messages_.size(), 1);
}

TEST_F(CountBoxTest, UndoAndRedoMoveAlongTheHistoryAndWriteNothing) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    Activate(form_.get());
    QComboBox* main = form_->PalettePanel()->Colors();
    Pick(main, "16");
    const QImage sixteen = form_->ImageView()->Bitmap();
    form_->UndoClick();  // true colour; the view takes the focus from the box
    EXPECT_EQ(main->currentText(), "TrueColor");
    form_->RedoClick();
    EXPECT_EQ(form_->UndoStore().Count(), 2) << "redo appended a state";
    EXPECT_EQ(form_->ImageView()->Bitmap(), sixteen);
    main->setFocus();
    Pick(main, "64");
    const QImage sixtyFour = form_->ImageView()->Bitmap();
    ASSERT_EQ(form_->UndoStore().Count(), 3);

    // Walk the whole history back and forth, the focus going between the box and the view.
    const auto names = form_->UndoStore().States();
    const auto files = StateFiles();
    for (int round = 0; round < 2; ++round) {
        form_->UndoClick();
        EXPECT_EQ(form_->ImageView()->Bitmap(), sixteen);
        EXPECT_EQ(main->currentText(), "16");
        main->setFocus();
        form_->ImageScroll()->setFocus();  // the box's editing ends
        form_->UndoClick();
        EXPECT_EQ(main->currentText(), "TrueColor");
        EXPECT_FALSE(form_->MainToolBar()->findChild<QAction*>("UndoButton")->isEnabled());
        main->setFocus();
        form_->RedoClick();
        form_->RedoClick();
        EXPECT_EQ(form_->ImageView()->Bitmap(), sixtyFour) << "the last state is reachable";
        EXPECT_EQ(main->currentText(), "64");
        EXPECT_FALSE(form_->MainToolBar()->findChild<QAction*>("RedoButton")->isEnabled());
        form_->ImageScroll()->setFocus();
        EXPECT_EQ(form_->UndoStore().States(), names) << round;
        EXPECT_EQ(StateFiles(), files) << round;
    }
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
}

TEST_F(CountBoxTest, TrueColorIsOneStepReachedByUndoAndRedo) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    Activate(form_.get());
    QComboBox* main = form_->PalettePanel()->Colors();
    Pick(main, "16");
    Pick(main, "64");
    ExpectOneMoreState([&] { Pick(main, "TrueColor"); }, "TrueColor picked");
    const QImage trueColor = form_->ImageView()->Bitmap();
    ASSERT_GT(DistinctColors(trueColor), 64);

    form_->UndoClick();
    EXPECT_EQ(form_->State().PaletteSize, 64) << "the step before true colour";
    EXPECT_EQ(main->currentText(), "64");
    form_->UndoClick();
    EXPECT_EQ(main->currentText(), "16");
    form_->RedoClick();
    form_->RedoClick();
    EXPECT_EQ(form_->State().PaletteSize, -1);
    EXPECT_EQ(main->currentText(), "TrueColor");
    EXPECT_EQ(form_->QuantizerSettingsForm()->Colors->currentText(), "TrueColor");
    EXPECT_EQ(form_->ImageView()->Bitmap(), trueColor);
    EXPECT_FALSE(form_->MainToolBar()->findChild<QAction*>("RedoButton")->isEnabled());

    form_->UndoClick();  // typed 0 after an undo: one state in place of the true-colour one
    main->setFocus();
    Type(main, "0");
    EXPECT_EQ(main->currentText(), "TrueColor");
    EXPECT_EQ(form_->UndoStore().Count(), 4);
    EXPECT_EQ(form_->UndoStore().CurrentState(), 3);
    EXPECT_EQ(StatesOnDisk(), 4u);
    form_->UndoClick();
    EXPECT_EQ(main->currentText(), "64");
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
}

TEST_F(CountBoxTest, AnEmptiedBoxTakesWhatIsTypedNext) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    Activate(form_.get());
    QComboBox* main = form_->PalettePanel()->Colors();
    QComboBox* dialogs = form_->QuantizerSettingsForm()->Colors;
    main->setFocus();
    QTest::keyClick(main, Qt::Key_End);
    for (int i = 0; i < 12; ++i) QTest::keyClick(main, Qt::Key_Backspace);
    EXPECT_EQ(main->currentText(), "");
    EXPECT_EQ(dialogs->currentText(), "");
    QTest::keyClicks(main, "32");
    QTest::keyClick(main, Qt::Key_Return);
    EXPECT_EQ(form_->State().PaletteSize, 32);
    EXPECT_LE(DistinctColors(form_->ImageView()->Bitmap()), 32);
    EXPECT_EQ(main->currentText(), "32");
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();

    // Enter on an empty box is refused as any text that is no count.
    const int32_t states = form_->UndoStore().Count();
    main->setFocus();
    QTest::keyClick(main, Qt::Key_End);
    QTest::keyClick(main, Qt::Key_Backspace);
    QTest::keyClick(main, Qt::Key_Backspace);
    QTest::keyClick(main, Qt::Key_Return);
    ASSERT_EQ(messages_.size(), 1);
    EXPECT_TRUE(messages_[0].startsWith("\"\" is not a number of colors")) << messages_[0].toStdString();
    EXPECT_EQ(main->currentText(), "32");
    EXPECT_EQ(form_->UndoStore().Count(), states);

    // Leaving without Enter: the boxes show the count in use, whatever was typed or emptied.
    for (const QString typed : {"128", "16", ""}) {
        Type(main, typed, false);
        if (typed.isEmpty()) QTest::keyClick(main, Qt::Key_Backspace);
        ASSERT_EQ(main->currentText(), typed);
        form_->ImageScroll()->setFocus();
        EXPECT_EQ(main->currentText(), "32") << typed.toStdString();
        EXPECT_EQ(dialogs->currentText(), "32") << typed.toStdString();
    }
    EXPECT_EQ(form_->UndoStore().Count(), states);

    // The OK button takes a count typed without Enter: its click leaves the box its text.
    Type(main, "8", false);
    QTest::mouseClick(form_->PalettePanel()->ApplyButton(), Qt::LeftButton);
    EXPECT_EQ(form_->State().PaletteSize, 8);
    EXPECT_EQ(main->currentText(), "8");
    form_->ImageScroll()->setFocus();
    EXPECT_EQ(main->currentText(), "8");

    // Closing the settings while their box holds a typed count is leaving that box.
    jx::TQuantizerSettingsForm* settingsForm = form_->QuantizerSettingsForm();
    form_->PalettePanel()->QuantizerSettingsButton()->trigger();
    Activate(settingsForm);
    Type(settingsForm->Colors, "128", false);
    ASSERT_EQ(main->currentText(), "128");
    settingsForm->close();
    EXPECT_EQ(main->currentText(), "8");
    EXPECT_EQ(dialogs->currentText(), "8");
    EXPECT_EQ(form_->State().PaletteSize, 8);
    EXPECT_EQ(messages_.size(), 1);
}

TEST_F(CountBoxTest, UndoneLoadPaletteLeavesTheNextCountAdaptive) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    Activate(form_.get());
    QComboBox* main = form_->PalettePanel()->Colors();
    QComboBox* palType = form_->QuantizerSettingsForm()->PalType;
    Pick(main, "16");
    const std::string five = Write("five.pal", {});
    std::ofstream(five, std::ios::binary)
        << "JASC-PAL\r\n0100\r\n5\r\n0 0 0\r\n255 0 0\r\n0 255 0\r\n0 0 255\r\n255 255 255\r\n";
    ASSERT_TRUE(form_->PalettePanel()->LoadPalette(QString::fromStdString(five)));
    ASSERT_EQ(form_->State().PaletteSize, 5);
    EXPECT_EQ(palType->currentText(), "Custom");

    form_->UndoClick();
    EXPECT_EQ(form_->State().PaletteSize, 16);
    EXPECT_EQ(palType->currentText(), "Adaptive");
    form_->RedoClick();
    EXPECT_EQ(palType->currentText(), "Custom");
    form_->UndoClick();
    Type(main, "64");
    EXPECT_EQ(form_->State().PaletteSize, 64);
    EXPECT_EQ(main->currentText(), "64");
    EXPECT_GT(DistinctColors(form_->ImageView()->Bitmap()), 5);
    EXPECT_EQ(palType->currentText(), "Adaptive");
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
}

}  // namespace
