#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QToolBar>
#include <QToolButton>
#include <set>
#include <stdexcept>
#include <vector>

#include "edit/mask_brush.h"
#include "gui/glyphs.h"
#include "gui/main_form.h"
#include "gui/palette_panel.h"
#include "gui/status_panels.h"
#include "gui/taskbar_progress.h"
#include "gui_app.h"

using namespace jx;

namespace {

QImage Solid(QImage::Format format, QRgb color) {
    QImage img(2, 2, QImage::Format_ARGB32);
    img.fill(color);
    return img.convertToFormat(format);
}

TEST(DisabledLook, HalvesAlphaAndGreysWithHalvesToEven) {
    // round(a / 2): exact halves go to the even neighbour.
    for (auto [a, half] : std::vector<std::pair<int, int>>{{0, 0}, {1, 0}, {3, 2}, {127, 64}, {200, 100}, {201, 100},
                                                           {203, 102}, {255, 128}})
        EXPECT_EQ(HalfAlpha(a), half) << a;
    EXPECT_EQ(GlyphLuminance(255, 0, 0), 76);   // 76.5
    EXPECT_EQ(GlyphLuminance(0, 255, 0), 150);  // 150.45
    EXPECT_EQ(GlyphLuminance(0, 0, 255), 28);   // 28.05
    EXPECT_EQ(GlyphLuminance(255, 255, 255), 255);
    EXPECT_EQ(GlyphLuminance(50, 50, 0), 44);  // 44.5
    EXPECT_EQ(GlyphLuminance(40, 50, 0), 42);  // 41.5

    // Colour without alpha counts as opaque; its own alpha is halved.
    const QImage rgb = DisabledLook(Solid(QImage::Format_RGB32, qRgb(255, 0, 0)), pngBlendOnDisabled);
    EXPECT_EQ(rgb.pixel(0, 0), qRgba(255, 0, 0, 128));
    const QImage argb = DisabledLook(Solid(QImage::Format_ARGB32, qRgba(0, 255, 0, 201)), pngBlendOnDisabled);
    EXPECT_EQ(argb.pixel(1, 1), qRgba(0, 255, 0, 100));
    // Greying alone keeps the alpha; both options apply together.
    EXPECT_EQ(DisabledLook(Solid(QImage::Format_ARGB32, qRgba(255, 0, 0, 201)), pngGrayscaleOnDisabled).pixel(0, 0),
              qRgba(76, 76, 76, 201));
    EXPECT_EQ(DisabledLook(Solid(QImage::Format_RGB32, qRgb(0, 0, 255)), pngBlendOnDisabled | pngGrayscaleOnDisabled)
                  .pixel(0, 0),
              qRgba(28, 28, 28, 128));
    EXPECT_EQ(DisabledLook(Solid(QImage::Format_ARGB32, qRgba(9, 8, 7, 255)), 0).pixel(0, 0), qRgba(9, 8, 7, 255));
}

TEST(DisabledLook, PaletteAndGreyImagesAreHalfTransparentButTheirTransparentColour) {
    QImage pal(2, 1, QImage::Format_Indexed8);
    pal.setColorTable({qRgba(0, 0, 0, 0), qRgb(255, 0, 0)});
    pal.setPixel(0, 0, 0);
    pal.setPixel(1, 0, 1);
    const QImage p = DisabledLook(pal, pngBlendOnDisabled | pngGrayscaleOnDisabled);
    EXPECT_EQ(qAlpha(p.pixel(0, 0)), 0);
    EXPECT_EQ(p.pixel(1, 0), qRgba(76, 76, 76, 64));  // 127 halved, the palette entry greyed
    QImage grey(1, 1, QImage::Format_Grayscale8);
    grey.fill(90);
    EXPECT_EQ(DisabledLook(grey, pngBlendOnDisabled | pngGrayscaleOnDisabled).pixel(0, 0), qRgba(90, 90, 90, 64));
}

TEST(PngImageList, ItemsByIndexAndAddedBitmaps) {
    GuiApp();
    TPngImageList list;
    EXPECT_EQ(list.GetItem(0), nullptr);
    QImage bitmap(2, 1, QImage::Format_RGB32);
    bitmap.setPixel(0, 0, qRgb(1, 2, 3));
    bitmap.setPixel(1, 0, qRgb(4, 5, 6));
    QImage mask(2, 1, QImage::Format_RGB32);
    mask.setPixel(0, 0, qRgb(255, 255, 255));  // set: transparent
    mask.setPixel(1, 0, qRgb(0, 0, 0));
    EXPECT_EQ(list.Add(bitmap, mask), 0);
    EXPECT_EQ(qAlpha(list.GetItem(0)->PngImage.pixel(0, 0)), 0);
    EXPECT_EQ(list.GetItem(0)->PngImage.pixel(1, 0), qRgba(4, 5, 6, 255));
    EXPECT_EQ(list.AddMasked(bitmap, QColor(4, 5, 6)), 1);
    EXPECT_EQ(qAlpha(list.GetItem(1)->PngImage.pixel(1, 0)), 0);
    EXPECT_EQ(qAlpha(list.GetItem(1)->PngImage.pixel(0, 0)), 255);
    EXPECT_EQ(list.Add(QImage(), mask), -1);
    EXPECT_EQ(list.GetItem(list.Count()), nullptr);  // one past the end gives nothing
    EXPECT_EQ(list.DisplayName(1), "PngImage1");
    list.Move(1, 0);
    EXPECT_EQ(qAlpha(list.GetItem(0)->PngImage.pixel(0, 0)), 255);
    list.Delete(0);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_TRUE(list.Icon(5).isNull());
}

TEST(MainImageList, EveryIndexInUseHasItsOwnGlyph) {
    GuiApp();
    const TPngImageList& list = GlyphList();
    ASSERT_EQ(list.Count(), 69);
    std::set<QByteArray> seen;
    for (int i = 0; i < list.Count(); ++i) {
        const QImage& img = list.GetItem(i)->PngImage;
        ASSERT_EQ(img.size(), QSize(16, 16)) << i;
        ASSERT_TRUE(img.hasAlphaChannel()) << i;
        int opaque = 0, clear = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) (qAlpha(img.pixel(x, y)) > 0 ? opaque : clear) += 1;
        EXPECT_GT(opaque, 0) << "glyph " << i << " is empty";
        const QImage argb = img.convertToFormat(QImage::Format_ARGB32);
        // No two items alike: a glyph drawn twice means one was forgotten.
        EXPECT_TRUE(seen.insert(QByteArray(reinterpret_cast<const char*>(argb.constBits()), argb.sizeInBytes())).second)
            << "glyph " << i << " repeats another";
        EXPECT_FALSE(list.Icon(i).isNull()) << i;
    }
    // The brushes are their weight tables.
    for (int i = gBrush3; i <= gBrush17; ++i) {
        const TBrushTable& t = BrushTable(i);
        const QImage& img = list.GetItem(i)->PngImage;
        for (int y = 0; y < kBrushSide; ++y)
            for (int x = 0; x < kBrushSide; ++x)
                ASSERT_EQ(img.pixel(x, y), qRgba(0, 0, 0, t[size_t(y)][size_t(x)])) << i << " at " << x << "," << y;
        EXPECT_EQ(list.DisplayName(i), BrushCaption(i));
    }
}

TEST(MainWindowGlyphs, EveryToolBarButtonShowsAGlyphAndFitsAtTheDefaultWidth) {
    GuiApp();
    TJXMainForm form(nullptr, "");
    form.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(form.width(), 900);
    QToolBar* bar = form.MainToolBar();
    for (QAction* a : bar->actions()) {
        if (!a->isVisible()) continue;
        EXPECT_FALSE(a->icon().isNull()) << a->objectName().toStdString();
        EXPECT_FALSE(a->toolTip().isEmpty()) << a->objectName().toStdString();
        QWidget* w = bar->widgetForAction(a);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->isVisible()) << a->objectName().toStdString() << " is behind the overflow";
        EXPECT_LE(w->geometry().right(), bar->width()) << a->objectName().toStdString();
    }
    for (QToolButton* b : bar->findChildren<QToolButton*>())
        if (b->objectName() == "qt_toolbar_ext_button") {
            EXPECT_FALSE(b->isVisible());
        }
    for (const char* name : {"QuantizerSettingsButton", "SortPaletteButton", "LoadPaletteButton", "SavePaletteButton"})
        if (QAction* a = form.PalettePanel()->findChild<QAction*>(name)) {
            EXPECT_FALSE(a->icon().isNull()) << name;
        }
}

// Records what the bar tells the launcher.
struct FakeSink : TTaskbarSink {
    struct Call {
        bool isValue;
        TTaskbarButtonState state;
        int64_t completed, total;
    };
    std::vector<Call>* calls;
    explicit FakeSink(std::vector<Call>* c) : calls(c) {}
    void SetProgressState(TTaskbarButtonState s) override { calls->push_back({false, s, 0, 0}); }
    void SetProgressValue(int64_t c, int64_t t) override { calls->push_back({true, TTaskbarButtonState::NoProgress, c, t}); }
};

TEST(TaskbarProgressBar, StatesAndValuesReachTheSinkAfterTheCurrentStep) {
    GuiApp();
    std::vector<FakeSink::Call> calls;
    TTaskbarProgressBar bar;
    bar.SetSink(std::make_unique<FakeSink>(&calls));
    bar.SetShowInTaskbar(true);
    bar.SetRange(10, 30);
    bar.SetPosition(15);
    EXPECT_TRUE(calls.empty());  // posted, not sent
    QCoreApplication::processEvents();
    // Each posted update reads the bar as it is now.
    ASSERT_EQ(calls.size(), 6u);
    for (size_t i = 0; i < calls.size(); i += 2) {
        EXPECT_EQ(calls[i].state, TTaskbarButtonState::Normal);
        EXPECT_TRUE(calls[i + 1].isValue);
        EXPECT_EQ(calls[i + 1].completed, 5);
        EXPECT_EQ(calls[i + 1].total, 20);
    }
    EXPECT_EQ(bar.value(), 15);

    calls.clear();
    bar.SetProgressBarState(pbstError);
    QCoreApplication::processEvents();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].state, TTaskbarButtonState::Error);

    calls.clear();
    bar.SetProgressBarState(pbstMarquee);
    bar.SetMarqueeEnabled(true);
    QCoreApplication::processEvents();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].state, TTaskbarButtonState::Normal);
    EXPECT_EQ(calls[1].state, TTaskbarButtonState::Indeterminate);
    EXPECT_EQ(bar.maximum(), 0);  // the moving bar
    bar.SetMarqueeEnabled(false);
    bar.SetProgressBarState(pbstPaused);
    EXPECT_EQ(bar.maximum(), 30);

    calls.clear();
    bar.SetShowInTaskbar(false);
    QCoreApplication::processEvents();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().state, TTaskbarButtonState::NoProgress);  // hidden from the launcher: cleared
    EXPECT_FALSE(calls.back().isValue);
}

TEST(TaskbarProgressBar, RangeAndStepping) {
    GuiApp();
    TTaskbarProgressBar bar;
    EXPECT_THROW(bar.SetRange(5, 4), std::invalid_argument);
    EXPECT_THROW(bar.SetMin(101), std::invalid_argument);
    EXPECT_EQ(bar.Min(), 0);
    EXPECT_EQ(bar.Max(), 100);
    bar.SetPosition(95);
    bar.StepIt();  // past the end it starts over
    EXPECT_EQ(bar.Position(), 5);
    bar.SetPosition(250);  // any value is kept; the bar shows its end
    EXPECT_EQ(bar.Position(), 250);
    EXPECT_EQ(bar.value(), 100);
}

TEST(TaskbarProgressBar, LauncherWithoutABusStaysSilent) {
    GuiApp();
    const QByteArray old = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/jx-test-bus");
    TLauncherEntrySink sink;
    EXPECT_NO_THROW({
        sink.SetProgressState(TTaskbarButtonState::Normal);
        sink.SetProgressValue(3, 4);
        sink.SetProgressState(TTaskbarButtonState::Error);
        sink.SetProgressState(TTaskbarButtonState::NoProgress);
    });
    if (old.isEmpty())
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
        qputenv("DBUS_SESSION_BUS_ADDRESS", old);
}

TEST(MainWindowProgress, ShownInPanelFourWhileWorkRuns) {
    GuiApp();
    TJXMainForm form(nullptr, "");
    std::vector<FakeSink::Call> calls;
    form.StatusPanels().ProgressBar()->SetSink(std::make_unique<FakeSink>(&calls));
    form.show();
    EXPECT_FALSE(form.StatusPanels().ProgressBar()->isVisible());
    form.StatusPanels().ShowProgress(2, 8);
    QCoreApplication::processEvents();
    EXPECT_TRUE(form.StatusPanels().ProgressBar()->isVisible());
    ASSERT_FALSE(calls.empty());
    EXPECT_TRUE(calls.back().isValue);
    EXPECT_EQ(calls.back().completed, 2);
    EXPECT_EQ(calls.back().total, 8);
    form.StatusPanels().ProgressDone();
    QCoreApplication::processEvents();
    EXPECT_FALSE(form.StatusPanels().ProgressBar()->isVisible());
    EXPECT_EQ(calls.back().state, TTaskbarButtonState::NoProgress);
}

}  // namespace
