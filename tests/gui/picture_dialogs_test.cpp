#include <gtest/gtest.h>
#include <QApplication>
#include <QTest>
#include <QTimer>

#include <QHeaderView>

#include <QCheckBox>
#include <QGroupBox>
#include <QAbstractItemView>
#include <QCompleter>
#include <QFileInfo>
#include <QLineEdit>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fileio/file_bytes.h"
#include "fileio/png_probe.h"
#include "gui/alpha_menu.h"
#include "gui/icon_form.h"
#include "gui/lossy_form.h"
#include "gui/file_dialogs.h"
#include "gui/main_form.h"
#include "gui/save_commands.h"
#include "gui/picture_dialogs.h"
#include "common/test_data.h"
#include "gui_app.h"
#include "window_fixture.h"
#include "platform/session.h"

namespace fs = std::filesystem;

namespace {

using jx::test::Put16;
using jx::test::Put32;

// An icon of PNG frames of the given sides (bits 32 or 8 in the directory).
std::vector<uint8_t> PngIcon(const std::vector<std::pair<uint32_t, uint8_t>>& frames) {
    std::vector<std::vector<uint8_t>> data;
    for (auto [side, bits] : frames) {
        std::vector<uint8_t> rgba(size_t(side) * side * 4, uint8_t(side));
        data.push_back(jx::EncodePngRgba(side, side, true, rgba));
    }
    std::vector<uint8_t> v;
    Put16(v, 0);
    Put16(v, 1);
    Put16(v, uint32_t(frames.size()));
    uint32_t offset = uint32_t(6 + 16 * frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        v.insert(v.end(), {uint8_t(frames[i].first), uint8_t(frames[i].first), 0, 0});
        Put16(v, 1);
        Put16(v, frames[i].second);
        Put32(v, uint32_t(data[i].size()));
        Put32(v, offset);
        offset += uint32_t(data[i].size());
    }
    for (const auto& d : data) v.insert(v.end(), d.begin(), d.end());
    return v;
}

class PictureDialogsTest : public MainWindowTest {
protected:
    bool HaveTools() const { return fs::exists("/usr/bin/cjpeg") && fs::exists("/usr/bin/cwebp") && fs::exists("/usr/bin/dwebp"); }
};

TEST_F(PictureDialogsTest, SaveDialogShowsOptionsByTypeAndWritesThemBackOnCancel) {
    jx::TMySavePictureDialog* d = form_->FileDialogs().SavePictureDialog();
    EXPECT_TRUE(d->nameFilters()[0].contains("*.PNG"));
    d->SetFilterIndex(1);
    d->show();
    EXPECT_TRUE(d->ForcedRGB()->isVisible());
    EXPECT_TRUE(d->RadioGroup()->isVisible());
    EXPECT_FALSE(d->WEBPLossy()->isVisible());
    d->SetFilterIndex(5);
    d->DoTypeChange();
    EXPECT_FALSE(d->ForcedRGB()->isVisible());
    EXPECT_TRUE(d->WEBPLossy()->isVisible());
    d->WEBPLossy()->setChecked(true);
    d->ForcedRGB()->setChecked(true);
    d->reject();
    EXPECT_TRUE(d->LossyChosen());
    EXPECT_TRUE(form_->SaveCommands().MakeSaveRequest("x.webp", 5).webpLossy);
    EXPECT_TRUE(form_->Options().forcedRgb);
}

TEST_F(PictureDialogsTest, OpenPreviewShowsSizeAndClearsForMissingFiles) {
    jx::TMyOpenPictureDialog* d = form_->FileDialogs().OpenPictureDialog();
    d->show();
    const std::string ico = Write("a.ico", PngIcon({{16, 32}, {48, 32}}));
    d->DoSelectionChange(QString::fromStdString(ico));
    EXPECT_EQ(d->PictureLabel()->text(), " (48x48)");
    EXPECT_TRUE(d->PreviewButton()->isEnabled());
    // A double click on the preview opens the "Preview" window, as the button does.
    QString shown;
    QTimer::singleShot(0, d, [&shown] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            shown = w->objectName();
            w->close();
        }
    });
    QTest::mouseDClick(d->PaintPanel(), Qt::LeftButton);
    EXPECT_EQ(shown, "PreviewForm");
    d->DoSelectionChange(QString::fromStdString((base_ / "none.png").string()));
    EXPECT_EQ(d->PictureLabel()->text(), "Picture:");
    EXPECT_EQ(d->PaintPanel()->text(), "(None)");
    EXPECT_FALSE(d->PreviewButton()->isEnabled());
    d->reject();
}

// Enter on a folder's path opens the folder in the dialog and takes the completion list away.
TEST_F(PictureDialogsTest, EnterOnAFolderPathLeavesNoCompletionList) {
    fs::create_directory(base_ / "sub");
    jx::TMyOpenPictureDialog* d = form_->FileDialogs().OpenPictureDialog();
    d->setDirectory(QString::fromStdString(base_.string()));
    d->show();
    auto* edit = d->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(edit->completer(), nullptr);
    QAbstractItemView* popup = edit->completer()->popup();
    QApplication::setActiveWindow(d);
    edit->setFocus();
    ASSERT_TRUE(edit->hasFocus());  // as the user has it: the list keeps itself open then
    edit->setText(QString::fromStdString((base_ / "sub").string() + "/"));
    edit->completer()->complete();  // as typing brings it up
    ASSERT_TRUE(popup->isVisible());
    QTest::keyClick(popup, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(QFileInfo(d->directory().absolutePath()).fileName(), "sub");
    EXPECT_FALSE(popup->isVisible());
    d->reject();
}

// The written icon holds the checked frames in the order the list shows them.
TEST_F(PictureDialogsTest, IconFramesAreWrittenAsTheListShowsThem) {
    const std::string ico = Write("b.ico", PngIcon({{16, 32}, {24, 8}, {32, 32}}));
    form_->OpenImage(QString::fromStdString(ico));
    jx::TIconForm* f = form_->FileDialogs().IconForm();
    ASSERT_TRUE(f->isVisible());
    QTreeWidget* list = f->FrameList();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(list->topLevelItem(0)->checkState(0), Qt::Checked);
    EXPECT_EQ(list->topLevelItem(1)->checkState(0), Qt::Unchecked);  // 8 bits
    EXPECT_EQ(list->topLevelItem(2)->text(0), "32x32");
    // PNG frames show the list's PNG image; every column is in view at the dialog's width.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(f->RowImage(i), 1) << i;
        EXPECT_FALSE(list->topLevelItem(i)->icon(2).isNull()) << i;
    }
    QApplication::processEvents();  // the header lays its sections out
    const int columns = list->header()->sectionPosition(2) + list->header()->sectionSize(2);
    EXPECT_LE(columns, list->viewport()->width());
    EXPECT_GE(list->header()->sectionSize(2), list->fontMetrics().horizontalAdvance("Format"));
    EXPECT_TRUE(form_->State().HasImage());  // the largest frame opened; the dialog holds no lock
    EXPECT_EQ(form_->State().ImageWidth(), 32);

    // Move the last row to the top and check the middle one.
    list->clearSelection();
    list->topLevelItem(2)->setSelected(true);
    f->MoveSelectedBefore(list->topLevelItem(0));
    list->topLevelItem(2)->setCheckState(0, Qt::Checked);
    EXPECT_EQ(f->CheckedOrder(), (std::vector<int32_t>{2, 0, 1}));
    const QString out = f->WriteIcon(QString::fromStdString((base_ / "out.ico").string()), 1);
    ASSERT_FALSE(out.isEmpty());
    const std::vector<uint8_t> bytes = jx::ReadFileBytes(out.toStdString());
    ASSERT_GE(bytes.size(), 6u + 48);
    EXPECT_EQ(bytes[4], 3);
    EXPECT_EQ(bytes[6], 32);        // first entry: the 32x32 frame
    EXPECT_EQ(bytes[6 + 16], 16);
    EXPECT_EQ(bytes[6 + 32], 24);

    // No row checked: refused, the old file stays.
    for (int i = 0; i < 3; ++i) list->topLevelItem(i)->setCheckState(0, Qt::Unchecked);
    EXPECT_TRUE(f->WriteIcon(out, 1).isEmpty());
    EXPECT_EQ(jx::ReadFileBytes(out.toStdString()), bytes);
    EXPECT_FALSE(messages_.isEmpty());
    f->close();
}

// A frame without rows is refused alone: the icon's other frames are listed and open, and
// choosing the damaged one says why and leaves the window with the frame it holds.
TEST_F(PictureDialogsTest, AnIconWithOneRowlessFrameListsAndOpensTheOthers) {
    std::vector<uint8_t> bytes = PngIcon({{16, 32}, {24, 32}, {32, 32}});
    const size_t e = 6 + 16 + 12;  // the second entry's offset field
    const size_t at = size_t(bytes[e]) | size_t(bytes[e + 1]) << 8 | size_t(bytes[e + 2]) << 16 | size_t(bytes[e + 3]) << 24;
    std::vector<uint8_t> dib;
    for (uint32_t v : {40u, 24u, 1u}) Put32(dib, v);  // a stored height of 1: no row
    Put16(dib, 1);
    Put16(dib, 32);
    dib.resize(40, 0);
    std::copy(dib.begin(), dib.end(), bytes.begin() + std::ptrdiff_t(at));
    const std::string ico = Write("rowless.ico", bytes);
    form_->OpenImage(QString::fromStdString(ico));
    jx::TIconForm* f = form_->FileDialogs().IconForm();
    ASSERT_TRUE(f->isVisible());
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("; ").toStdString();
    QTreeWidget* list = f->FrameList();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(list->topLevelItem(1)->text(0), "24x24");
    EXPECT_EQ(list->topLevelItem(1)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(form_->State().ImageWidth(), 32);

    list->setCurrentItem(list->topLevelItem(1));
    ASSERT_EQ(messages_.size(), 1);
    EXPECT_EQ(messages_[0], QString("Damaged icon file \"%1\": frame 2 has an impossible size or depth.").arg(QString::fromStdString(ico)));
    EXPECT_EQ(list->currentItem(), list->topLevelItem(2));  // back on the frame the window holds
    EXPECT_EQ(form_->State().ImageWidth(), 32);
    list->setCurrentItem(list->topLevelItem(0));
    EXPECT_EQ(form_->State().ImageWidth(), 16);
    EXPECT_EQ(messages_.size(), 1);
    // A save from the window replaces the frame it holds.
    ASSERT_TRUE(f->SaveSelectedFrame(form_->SaveCommands().MakeSaveRequest(QString(), 1)));
    EXPECT_TRUE(f->Icon().Frames()[0].Edited);
    EXPECT_FALSE(f->Icon().Frames()[1].Edited);
    f->Icon().Modified = false;
    f->close();
}

TEST_F(PictureDialogsTest, JpegSaveGoesThroughTheQualityDialog) {
    if (!HaveTools()) GTEST_SKIP() << "cjpeg/cwebp/dwebp missing";
    form_->OpenImage(SuiteFile("basn2c08.png"));
    ASSERT_TRUE(form_->State().HasImage());
    const QString dest = QString::fromStdString((base_ / "out.jpg").string());
    ASSERT_TRUE(form_->SaveCommands().SaveAs(dest, 6));
    EXPECT_FALSE(fs::exists(dest.toStdString()));  // nothing written before Save
    jx::TLossyForm* d = form_->FileDialogs().LossyForm();
    ASSERT_TRUE(d->isVisible());
    EXPECT_TRUE(form_->Locked());
    EXPECT_TRUE(d->SizeText().endsWith(" bytes")) << d->SizeText().toStdString();
    d->JpegQuality()->setValue(60);
    EXPECT_EQ(d->ChromaBar()->maximum(), 60);
    EXPECT_EQ(d->ChromaBar()->value(), 30);
    const QString testFile = d->TestFile();
    d->SaveClick();
    EXPECT_FALSE(d->isVisible());
    EXPECT_FALSE(form_->Locked());
    EXPECT_TRUE(fs::exists(dest.toStdString()));
    EXPECT_FALSE(fs::exists(testFile.toStdString()));
    EXPECT_TRUE(form_->StatusPanels().Text(4).startsWith("Write (jpg): ")) << form_->StatusPanels().Text(4).toStdString();
    EXPECT_FALSE(form_->StatusPanels().Text(4).contains("  "));
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("; ").toStdString();
}

// A background colour chosen before the quality dialog is first made survives its making, its
// preview over the matte and its Cancel.
TEST_F(PictureDialogsTest, TheFirstQualityDialogKeepsTheChosenBackground) {
    form_->OpenImage(SuiteFile("basn6a08.png"));
    ASSERT_TRUE(form_->State().HasAlpha);
    form_->SetColorPicker([](const std::optional<jx::TPixelRec>&) { return jx::TPixelRec{0x00, 0xC0, 0xFF, 255}; });
    form_->AlphaCommands().BackgroundColorClick();
    const int32_t chosen = 0xFFC000;  // B, G, R
    ASSERT_EQ(form_->State().BackgroundColor, chosen);
    ASSERT_EQ(form_->State().BackgroundMode, jx::TBackgroundMode::Color);
    jx::TLossyForm* d = form_->FileDialogs().LossyForm();
    EXPECT_EQ(form_->State().BackgroundColor, chosen);
    if (!HaveTools()) GTEST_SKIP() << "cjpeg/cwebp/dwebp missing";
    ASSERT_TRUE(form_->SaveCommands().SaveAs(QString::fromStdString((base_ / "out.jpg").string()), 6));
    ASSERT_TRUE(d->isVisible());
    EXPECT_EQ(form_->State().BackgroundColor, chosen);
    auto* matte = d->findChild<QPushButton*>("MatteButton");
    ASSERT_NE(matte, nullptr);
    EXPECT_TRUE(matte->styleSheet().contains("#00c0ff")) << matte->styleSheet().toStdString();
    d->close();  // Cancel
    EXPECT_EQ(form_->State().BackgroundColor, chosen);
    EXPECT_EQ(form_->State().BackgroundMode, jx::TBackgroundMode::Color);
    EXPECT_FALSE(fs::exists(base_ / "out.jpg"));
}

}  // namespace
