#include <gtest/gtest.h>

#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <cstdlib>
#include <filesystem>

#include "platform/session.h"

#include "gui/image_view.h"
#include "gui/main_form.h"
#include "gui/save_commands.h"
#include "gui/palette_panel.h"
#include "gui/quantizer_settings.h"
#include "gui_app.h"

namespace {

// Not a check: scripts/screenshot.sh runs this under Xvfb to save a picture of the main window
// with an image, for people to look at. Skipped unless JX_SCREENSHOT_OUT names the output file.
TEST(Screenshot, MainWindowWithImage) {
    const char* out = std::getenv("JX_SCREENSHOT_OUT");
    if (!out || !*out) GTEST_SKIP() << "JX_SCREENSHOT_OUT is not set";
    const char* image = std::getenv("JX_SCREENSHOT_IMAGE");
    const char* colors = std::getenv("JX_SCREENSHOT_COLORS");
    GuiApp();
    // A session of its own, so that the picture shows a save through the PNG chain in the status bar.
    char base[] = "/tmp/jx_screenshot_XXXXXX";
    ASSERT_NE(::mkdtemp(base), nullptr);
    auto session = std::make_unique<jx::SessionFolder>(base);
    jx::TJXMainForm form(session.get(), "");
    form.SetMessageHandler([](const QString& m) { ADD_FAILURE() << m.toStdString(); });
    form.move(0, 0);  // the default size: every tool-bar button shows
    form.show();
    form.FirstShow("");
    form.OpenImage(image && *image ? QString(image) : SuiteFile("basn2c08.png"));
    ASSERT_TRUE(form.State().HasImage());
    form.PalettePanel()->Colors()->setEditText(colors && *colors ? colors : "16");
    form.PalettePanel()->ColorsSelect();
    EXPECT_TRUE(form.SaveCommands().SaveAs(QString(base) + "/saved.png"));
    while (form.State().ImageWidth() << form.ImageView()->ZoomShift() < 300 && form.ImageView()->ZoomShift() < 4) form.ImageView()->ZoomStep('+');
    form.PalettePanel()->QuantizerSettingsButton()->trigger();
    form.QuantizerSettingsForm()->move(910, 0);
    QTest::qWait(300);  // let the window system draw; this is a picture, not a test of timing
    QScreen* screen = QGuiApplication::primaryScreen();
    QPixmap shot = screen ? screen->grabWindow(0) : QPixmap();
    if (shot.isNull() || QGuiApplication::platformName() != "xcb") shot = form.grab();
    EXPECT_TRUE(shot.save(out, "PNG"));
    form.close();
    session.reset();
    std::filesystem::remove_all(base);
}

}  // namespace
