// The colour-count boxes as a user drives them (keys into the box, picks from its list), and the
// undo history they leave behind.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QScrollArea>
#include <QTest>
#include <QToolBar>
#include <filesystem>
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
    EXPECT_LE(DistinctColors(form_->ViewImage()), 2);
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
    const QImage sixteen = form_->ViewImage();
    form_->UndoClick();  // true colour; the view takes the focus from the box
    EXPECT_EQ(main->currentText(), "TrueColor");
    form_->RedoClick();
    EXPECT_EQ(form_->UndoStore().Count(), 2) << "redo appended a state";
    EXPECT_EQ(form_->ViewImage(), sixteen);
    main->setFocus();
    Pick(main, "64");
    const QImage sixtyFour = form_->ViewImage();
    ASSERT_EQ(form_->UndoStore().Count(), 3);

    // Walk the whole history back and forth, the focus going between the box and the view.
    const auto names = form_->UndoStore().States();
    const auto files = StateFiles();
    for (int round = 0; round < 2; ++round) {
        form_->UndoClick();
        EXPECT_EQ(form_->ViewImage(), sixteen);
        EXPECT_EQ(main->currentText(), "16");
        main->setFocus();
        form_->ImageScroll()->setFocus();  // the box's editing ends
        form_->UndoClick();
        EXPECT_EQ(main->currentText(), "TrueColor");
        EXPECT_FALSE(form_->MainToolBar()->findChild<QAction*>("UndoButton")->isEnabled());
        main->setFocus();
        form_->RedoClick();
        form_->RedoClick();
        EXPECT_EQ(form_->ViewImage(), sixtyFour) << "the last state is reachable";
        EXPECT_EQ(main->currentText(), "64");
        EXPECT_FALSE(form_->MainToolBar()->findChild<QAction*>("RedoButton")->isEnabled());
        form_->ImageScroll()->setFocus();
        EXPECT_EQ(form_->UndoStore().States(), names) << round;
        EXPECT_EQ(StateFiles(), files) << round;
    }
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
}

}  // namespace
