#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QTabBar>
#include <filesystem>
#include <unistd.h>

#include "gui/alpha_menu.h"
#include "gui/grid_settings.h"
#include "gui/file_dialogs.h"
#include "gui/main_form.h"
#include "gui/palette_commands.h"
#include "gui/picture_dialogs.h"
#include "gui/quantizer_settings.h"
#include "gui_app.h"
#include "window_fixture.h"
#include "platform/session.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint32_t> Rgba(const jx::TPixelImage& img) {
    std::vector<uint32_t> out;
    for (const jx::TPixelRec& p : img.Vector())
        out.push_back(uint32_t(p.R) | uint32_t(p.G) << 8 | uint32_t(p.B) << 16 | uint32_t(p.A) << 24);
    return out;
}

class AlphaMenuTest : public MainWindowTest {
protected:
    void BeforeShow() override {
        form_->SetColorPicker([this](const std::optional<jx::TPixelRec>& start) {
            ++picks_;
            starts_.push_back(start);
            return pick_;
        });
    }
    QMenu* Menu() { return form_->PaletteCommands().ImageMenu(); }
    QAction* Item(const char* name) { return Menu()->findChild<QAction*>(name); }
    bool SplitOffered() {
        emit Menu()->aboutToShow();
        return Item("SplitImage")->isEnabled();
    }
    QTabBar* Tabs() { return form_->AlphaCommands().FileTabs(); }

    int picks_ = 0;
    std::vector<std::optional<jx::TPixelRec>> starts_;
    std::optional<jx::TPixelRec> pick_;
};

TEST_F(AlphaMenuTest, SplitOfferedOnlyWithPartialAlphaAndOnce) {
    EXPECT_FALSE(SplitOffered());  // no image
    form_->OpenImage(SuiteFile("basn2c08.png"));  // opaque
    EXPECT_FALSE(SplitOffered());
    form_->OpenImage(SuiteFile("tbrn2c08.png"));  // alpha 0 or 255 only
    ASSERT_TRUE(form_->State().HasAlpha);
    EXPECT_FALSE(SplitOffered());
    Item("SplitImage")->trigger();  // not offered: nothing happens
    EXPECT_FALSE(Tabs()->isVisible());

    form_->OpenImage(SuiteFile("basn6a08.png"));  // partial alpha
    EXPECT_TRUE(SplitOffered());
    Item("SplitImage")->trigger();
    ASSERT_TRUE(Tabs()->isVisible());
    ASSERT_EQ(Tabs()->count(), 3);
    EXPECT_EQ(Tabs()->tabText(0), "Original");
    EXPECT_EQ(Tabs()->tabText(1), "Opaque");
    EXPECT_EQ(Tabs()->tabText(2), "Translucent");
    for (const char* f : {"Original.bmp", "Opaque.bmp", "Translucent.bmp"})
        EXPECT_TRUE(fs::exists(fs::path(session_->Path()) / f)) << f;
    EXPECT_FALSE(SplitOffered());  // the tabs exist

    form_->OpenImage(SuiteFile("basn6a08.png"));  // a new image leaves the split
    EXPECT_FALSE(Tabs()->isVisible());
    EXPECT_EQ(Tabs()->count(), 0);
    EXPECT_TRUE(SplitOffered());
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
}

TEST_F(AlphaMenuTest, TabSwitchesKeepEditsAndWaitForTheLock) {
    form_->OpenImage(SuiteFile("basn6a08.png"));
    Item("SplitImage")->trigger();
    const auto original = Rgba(form_->State().SourceImage);
    Tabs()->setCurrentIndex(1);
    EXPECT_EQ(form_->AlphaCommands().SplitView().Current(), 1);
    EXPECT_NE(Rgba(form_->State().SourceImage), original);
    Item("Grayscale1")->trigger();
    const auto editedOpaque = Rgba(form_->State().SourceImage);
    EXPECT_EQ(form_->UndoStore().Count(), 2);

    Tabs()->setCurrentIndex(0);
    EXPECT_EQ(Rgba(form_->State().SourceImage), original);
    EXPECT_EQ(form_->UndoStore().Count(), 1);

    form_->LockMainWindow();
    Tabs()->setCurrentIndex(1);
    EXPECT_EQ(Tabs()->currentIndex(), 0);  // refused while a tool dialog is open
    EXPECT_EQ(Rgba(form_->State().SourceImage), original);
    form_->UnlockMainWindow();

    Tabs()->setCurrentIndex(1);
    EXPECT_EQ(Rgba(form_->State().SourceImage), editedOpaque);
    EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
}

TEST_F(AlphaMenuTest, BackgroundChoiceAndItsFallbacks) {
    auto& s = form_->State();
    Item("BackgroundColor")->trigger();  // cancelled: nothing changes
    EXPECT_EQ(s.BackgroundMode, jx::TBackgroundMode::Grid);
    EXPECT_TRUE(Item("BackgroundGrid")->isChecked());
    ASSERT_EQ(starts_.size(), 1u);
    EXPECT_FALSE(starts_[0].has_value());  // no start colour

    pick_ = jx::TPixelRec{};
    pick_->R = 0x10;
    pick_->G = 0x20;
    pick_->B = 0x30;
    pick_->A = 255;
    Item("BackgroundColor")->trigger();
    EXPECT_EQ(s.BackgroundMode, jx::TBackgroundMode::Color);
    EXPECT_EQ(s.BackgroundColor, 0x302010);
    EXPECT_TRUE(Item("BackgroundColor")->isChecked());

    form_->AlphaCommands().PictureFileDialog = [] { return QString(); };
    Item("BackgroundPicture")->trigger();  // cancelled: back to the grid
    EXPECT_EQ(s.BackgroundMode, jx::TBackgroundMode::Grid);
    EXPECT_TRUE(Item("BackgroundGrid")->isChecked());

    form_->AlphaCommands().PictureFileDialog = [] { return QString(JX_TEST_DATA_DIR "/no/such.png"); };
    Item("BackgroundPicture")->trigger();  // a failed load: said so, back to the grid
    EXPECT_EQ(s.BackgroundMode, jx::TBackgroundMode::Grid);
    EXPECT_EQ(messages_.size(), 1);

    form_->AlphaCommands().PictureFileDialog = [] { return SuiteFile("basn2c08.png"); };
    Item("BackgroundPicture")->trigger();
    EXPECT_EQ(s.BackgroundMode, jx::TBackgroundMode::Picture);
    EXPECT_TRUE(Item("BackgroundPicture")->isChecked());
    EXPECT_EQ(s.BackgroundPicture.Width(), 32);

    // A portable pixel map is found through the picture registry.
    const QString ppm = QDir::temp().filePath(QString("jx_background_%1.ppm").arg(QCoreApplication::applicationPid()));
    {
        QFile f(ppm);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("P3 2 1 255\n10 20 30 40 50 60\n");
    }
    form_->AlphaCommands().PictureFileDialog = [ppm] { return ppm; };
    Item("BackgroundPicture")->trigger();
    QFile::remove(ppm);
    EXPECT_EQ(messages_.size(), 1) << messages_.join("\n").toStdString();
    ASSERT_EQ(s.BackgroundMode, jx::TBackgroundMode::Picture);
    ASSERT_EQ(s.BackgroundPicture.Width(), 2);
    EXPECT_EQ(s.BackgroundPicture[0][1].R, 40);
    EXPECT_EQ(s.BackgroundPicture[0][1].B, 60);
}

TEST_F(AlphaMenuTest, TheBackgroundDialogListsWhatTheRegistryLoads) {
    jx::TMyOpenPictureDialog* d = form_->AlphaCommands().BackgroundPictureDialog();
    ASSERT_NE(d, nullptr);
    const QStringList filters = d->nameFilters();
    ASSERT_FALSE(filters.isEmpty());
    for (const char* pattern : {"*.ppm", "*.pgm", "*.pbm", "*.png", "*.psd", "*.tga", "*.webp"}) {
        EXPECT_TRUE(filters.front().contains(pattern)) << pattern;  // "All"
        EXPECT_EQ(filters.mid(1).filter(QString("(%1 ").arg(pattern)).size(), 1) << pattern;  // a filter of its own
    }
    // "Open" keeps its own list: the image opener goes by it.
    EXPECT_FALSE(form_->FileDialogs().OpenPictureDialog()->nameFilters().join(' ').contains("*.ppm"));
}

TEST_F(AlphaMenuTest, EveryColourPickGoesToTheWindowsPicker) {
    form_->GridSettingsForm()->FirstColorMouseDown();
    form_->QuantizerSettingsForm()->PickColor(QColor(1, 2, 3));
    form_->OpenImage(SuiteFile("basn3p02.png"));
    form_->PaletteCommands().PaletteEditColor(false);
    EXPECT_EQ(picks_, 3);
    ASSERT_TRUE(starts_[1].has_value());
    EXPECT_EQ(starts_[1]->B, 3);
}

}  // namespace
