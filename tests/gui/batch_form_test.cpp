#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <map>

#include "common/animated_gif.h"
#include "common/test_data.h"
#include "gui/batch_form.h"
#include "gui/main_form.h"
#include "gui_app.h"
#include "platform/session.h"

namespace fs = std::filesystem;

namespace {

class BatchFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        std::string base = jx::TempFolder() + "/jx_batch_gui_XXXXXX";
        ASSERT_NE(::mkdtemp(base.data()), nullptr);
        base_ = base;
        fs::create_directory(base_ / "in");
        session_ = std::make_unique<jx::SessionFolder>(base_.string());
        main_ = std::make_unique<jx::TJXMainForm>(session_.get(), "");
        main_->FirstShow("");  // the window itself is never shown, as in batch mode
        form_ = std::make_unique<jx::TBatchForm>(main_.get());
        form_->Tell = [this](const QString& m) { told_ << m; };
        form_->Ask = [this](const QString& m) {
            asked_ << m;
            return false;
        };
    }
    void TearDown() override {
        form_.reset();
        main_.reset();
        session_.reset();
        fs::remove_all(base_);
    }
    // A few suite images: some that a re-encode beats, some it cannot.
    void CopySuite() {
        for (const char* n : {"basn0g01", "basn2c08", "basn3p01", "basn4a08", "z00n2c08", "tbrn2c08"}) {
            const fs::path p = base_ / "in" / (std::string(n) + ".png");
            fs::copy_file(std::string(JX_TEST_DATA_DIR "/pngsuite/png/") + n + ".png", p);
            sizes_[p.filename().string()] = fs::file_size(p);
        }
    }
    QString Cell(int row, int col) const { return form_->FileList->topLevelItem(row)->text(col); }

    fs::path base_;
    std::unique_ptr<jx::SessionFolder> session_;
    std::unique_ptr<jx::TJXMainForm> main_;
    std::unique_ptr<jx::TBatchForm> form_;
    std::map<std::string, uintmax_t> sizes_;
    QStringList told_, asked_;
};

TEST_F(BatchFormTest, CommandLineFolderEndsWithTotalsAndKeepsOnlySmallerFiles) {
    CopySuite();
    form_->FormShow({"--batch", QString::fromStdString((base_ / "in").string())});
    const int n = form_->FileList->topLevelItemCount();
    ASSERT_EQ(n, 6);
    EXPECT_EQ(form_->FileList->headerItem()->text(jx::TBatchForm::colRatio), "Ratio");
    EXPECT_EQ(Cell(0, jx::TBatchForm::colOut), "-----");
    form_->DelSrc->setChecked(true);
    form_->StartStopClick();

    EXPECT_EQ(form_->StartButton->text(), "Start");
    ASSERT_FALSE(form_->BatchResult->isHidden());
    EXPECT_EQ(form_->BatchResult->item(0, 0)->text(), " Files processed");
    EXPECT_EQ(form_->BatchResult->item(0, 1)->text(), "6 ");
    EXPECT_EQ(form_->BatchResult->item(1, 1)->text(), "0 ");
    EXPECT_TRUE(form_->BatchResult->item(6, 1)->text().endsWith("% "));
    int skipped = 0;
    for (int i = 0; i < n; ++i) {
        const std::string name = Cell(i, jx::TBatchForm::colName).toStdString();
        const fs::path p = base_ / "in" / name;
        ASSERT_TRUE(fs::exists(p)) << name;  // a PNG source is replaced in place or left alone
        const QString ratio = Cell(i, jx::TBatchForm::colRatio);
        if (ratio == "skip") {
            ++skipped;
            EXPECT_EQ(fs::file_size(p), sizes_[name]) << name;
        } else {
            ASSERT_TRUE(ratio.endsWith("%")) << name << " " << ratio.toStdString();
            EXPECT_LT(fs::file_size(p), sizes_[name]) << name;
            EXPECT_EQ(Cell(i, jx::TBatchForm::colLoss), "0.00") << name;
        }
        EXPECT_EQ(form_->FileList->topLevelItem(i)->checkState(0), Qt::Unchecked);
    }
    EXPECT_EQ(form_->BatchResult->item(2, 1)->text(), QString("%1 ").arg(skipped));
    EXPECT_LT(skipped, n);
    EXPECT_FALSE(fs::exists(session_->Path() + jx::kBatchTempName));

    // The optimised files again: nothing pays now, so every row is a skip and no file changes.
    for (auto& [name, size] : sizes_) size = fs::file_size(base_ / "in" / name);
    form_->CheckAll(0);
    form_->StartStopClick();
    EXPECT_EQ(form_->BatchResult->item(2, 1)->text(), QString("%1 ").arg(n));
    for (int i = 0; i < n; ++i) EXPECT_EQ(Cell(i, jx::TBatchForm::colRatio), "skip") << i;
    for (const auto& [name, size] : sizes_) EXPECT_EQ(fs::file_size(base_ / "in" / name), size) << name;
}

TEST_F(BatchFormTest, DestinationChecksUseTheTextsAsTheyStand) {
    CopySuite();
    form_->FormShow({QString::fromStdString((base_ / "in").string())});
    form_->DestinationEdit->setText(QString::fromStdString((base_ / "nowhere").string()));
    form_->StartStopClick();
    ASSERT_EQ(told_.size(), 1);
    EXPECT_EQ(told_[0], "Destination folder does not exist!");

    // Quantizing into the source folders asks first; No runs nothing.
    form_->DestinationEdit->clear();
    main_->State().BatchQuantize = true;
    form_->StartStopClick();
    ASSERT_EQ(asked_.size(), 1);
    EXPECT_TRUE(asked_[0].startsWith("Destination folder is not selected! The files will be overwritten"));
    EXPECT_EQ(Cell(0, jx::TBatchForm::colOut), "-----");
    EXPECT_TRUE(form_->BatchResult->isHidden());
}

// The source folder typed as the destination, with quantizing on, overwrites in place: the
// question of an empty destination is asked, and No leaves every source as it was.
TEST_F(BatchFormTest, QuantizingIntoTheSourceFolderAsksFirst) {
    CopySuite();
    const QString in = QString::fromStdString((base_ / "in").string());
    form_->FormShow({in});
    main_->State().BatchQuantize = true;
    for (const QString& typed : {in + "/", in + "/../in"}) {
        asked_.clear();
        form_->DestinationEdit->setText(typed);
        form_->StartStopClick();
        ASSERT_EQ(asked_.size(), 1) << typed.toStdString();
        EXPECT_EQ(asked_[0], jx::kBatchNoDestinationQuestion);
    }
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Cell(i, jx::TBatchForm::colOut), "-----");
    for (const auto& [name, size] : sizes_) EXPECT_EQ(fs::file_size(base_ / "in" / name), size) << name;
    EXPECT_EQ(fs::file_size(base_ / "in" / "basn2c08.png"), fs::file_size(JX_TEST_DATA_DIR "/pngsuite/png/basn2c08.png"));

    // The question is a real message box whose default is No: Enter runs nothing.
    form_->Ask = nullptr;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        poll.stop();
        defaultButton = box->standardButton(box->defaultButton());
        QTest::keyClick(box, Qt::Key_Return);
    });
    poll.start(5);
    form_->StartStopClick();
    EXPECT_EQ(defaultButton, QMessageBox::No);
    EXPECT_FALSE(poll.isActive());
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Cell(i, jx::TBatchForm::colOut), "-----");
    for (const auto& [name, size] : sizes_) EXPECT_EQ(fs::file_size(base_ / "in" / name), size) << name;
}

TEST_F(BatchFormTest, AFolderAddedTwiceListsEachFileOnce) {
    CopySuite();
    const QString in = QString::fromStdString((base_ / "in").string());
    form_->FormShow({in});
    ASSERT_EQ(form_->FileList->topLevelItemCount(), 6);
    EXPECT_TRUE(form_->AddPaths({in, in + "/", in + "/basn0g01.png"}));
    EXPECT_EQ(form_->FileList->topLevelItemCount(), 6);
}

// The tool-bar's remove buttons, found by name as a user finds them by their look, each do what
// they say: one row goes and the next takes its place, then every row goes.
TEST_F(BatchFormTest, RemoveButtonsTakeTheSelectedRowThenEveryRow) {
    CopySuite();
    form_->FormShow({QString::fromStdString((base_ / "in").string())});
    ASSERT_EQ(form_->FileList->topLevelItemCount(), 6);
    const QString second = Cell(1, jx::TBatchForm::colName), third = Cell(2, jx::TBatchForm::colName);
    form_->FileList->setCurrentItem(form_->FileList->topLevelItem(1));
    auto* removeSelected = form_->findChild<QAction*>("RemoveSelectedButton");
    auto* removeAll = form_->findChild<QAction*>("RemoveAllButton");
    ASSERT_NE(removeSelected, nullptr);
    ASSERT_NE(removeAll, nullptr);
    removeSelected->trigger();
    ASSERT_EQ(form_->FileList->topLevelItemCount(), 5);
    EXPECT_TRUE(form_->FileList->findItems(second, Qt::MatchExactly, jx::TBatchForm::colName).isEmpty());
    EXPECT_EQ(form_->FileList->currentItem()->text(jx::TBatchForm::colName), third);
    removeAll->trigger();
    EXPECT_EQ(form_->FileList->topLevelItemCount(), 0);
}

// A refused row and an animated GIF say why in the row itself: the reason is in the text and,
// whole, in the tooltip that the narrow cell leaves; the GIF is kept though "Delete source" is on.
TEST_F(BatchFormTest, RowsSayWhyAFileWasRefusedOrKept) {
    fs::copy_file(JX_TEST_DATA_DIR "/pngsuite/bmp/basn2c08.bmp", base_ / "in" / "photo.bmp");
    fs::copy_file(JX_TEST_DATA_DIR "/pngsuite/png/basn3p01.png", base_ / "in" / "photo.png");
    jx::test::WriteAnimatedGif((base_ / "in" / "anim.gif").string(), 60, 40, 4);
    const auto gif = jx::test::ReadBytes(base_ / "in" / "anim.gif");
    form_->FormShow({QString::fromStdString((base_ / "in").string())});
    ASSERT_EQ(form_->FileList->topLevelItemCount(), 3);  // anim.gif, photo.bmp, photo.png
    form_->DelSrc->setChecked(true);
    form_->StartStopClick();

    QTreeWidgetItem* refused = form_->FileList->topLevelItem(1);
    ASSERT_EQ(refused->text(jx::TBatchForm::colName), "photo.bmp");
    EXPECT_EQ(refused->text(jx::TBatchForm::colOut), "error");
    EXPECT_TRUE(refused->text(jx::TBatchForm::colLoss).endsWith("photo.png already exists"));
    EXPECT_EQ(refused->toolTip(jx::TBatchForm::colLoss), refused->text(jx::TBatchForm::colLoss));
    EXPECT_TRUE(fs::exists(base_ / "in" / "photo.bmp"));

    QTreeWidgetItem* anim = form_->FileList->topLevelItem(0);
    ASSERT_EQ(anim->text(jx::TBatchForm::colName), "anim.gif");
    EXPECT_NE(anim->text(jx::TBatchForm::colOut), "error");
    EXPECT_EQ(anim->toolTip(jx::TBatchForm::colName), "anim.gif: 4 frames drawn as one still picture; the source is kept");
    EXPECT_TRUE(anim->text(jx::TBatchForm::colLoss).endsWith("the source is kept"))
        << anim->text(jx::TBatchForm::colLoss).toStdString();
    EXPECT_FALSE(anim->icon(jx::TBatchForm::colName).isNull());
    EXPECT_EQ(jx::test::ReadBytes(base_ / "in" / "anim.gif"), gif);
    // A plain row carries no tooltip.
    EXPECT_TRUE(form_->FileList->topLevelItem(2)->toolTip(jx::TBatchForm::colLoss).isEmpty());
    // Sorted by "Loss", the note leaves the figure before it its place.
    const QStringList losses = {"2.00", "1.25; the source is kept", "0.50"};
    for (int i = 0; i < 3; ++i) form_->FileList->topLevelItem(i)->setText(jx::TBatchForm::colLoss, losses[i]);
    form_->FileList->sortItems(jx::TBatchForm::colLoss, Qt::AscendingOrder);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(form_->FileList->topLevelItem(i)->text(jx::TBatchForm::colLoss), losses[2 - i]) << i;
}

TEST_F(BatchFormTest, EscIsStopAndDropsWaitWhileRunning) {
    CopySuite();
    form_->FormShow({QString::fromStdString((base_ / "in").string())});
    form_->show();
    bool dropTaken = true;
    QTimer::singleShot(0, form_.get(), [&] {
        dropTaken = form_->AddPaths({QString::fromStdString((base_ / "in").string())});
        QTest::keyClick(form_.get(), Qt::Key_Escape);
    });
    form_->StartStopClick();
    EXPECT_FALSE(dropTaken);
    EXPECT_FALSE(form_->Running());
    EXPECT_EQ(form_->FileList->topLevelItemCount(), 6);
    // Stopped early: some row never ran, and nothing was lost.
    bool untouched = false;
    for (int i = 0; i < 6; ++i) untouched |= Cell(i, jx::TBatchForm::colOut) == "-----";
    EXPECT_TRUE(untouched);
    for (const auto& [name, size] : sizes_) EXPECT_TRUE(fs::exists(base_ / "in" / name)) << name;
    QApplication::processEvents();  // the close asked for during the run
    EXPECT_FALSE(form_->isVisible());
}

}  // namespace
