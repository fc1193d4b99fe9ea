// Capture and hot keys against a real X server. test.sh runs these under xvfb-run; without a
// display they are skipped (or fail, when JX_REQUIRE_X11 asks for them).
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QScreen>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <xcb/xcb.h>

#include "gui/main_form.h"
#include "gui/options_commands.h"
#include "gui/options_form.h"
#include "gui/screen_capture.h"
#include "gui/x11_display.h"
#include "platform/session.h"

namespace fs = std::filesystem;

namespace {

QApplication& X11App() {
    static int argc = 1;
    static char name[] = "jx_x11_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

class X11Test : public ::testing::Test {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        bool reachable = display && *display;
        xcb_connection_t* probe = nullptr;
        // A server resetting after the previous test's exit refuses for a moment: try again.
        for (int attempt = 0; reachable && attempt < 40; ++attempt) {
            if (probe) xcb_disconnect(probe);
            probe = xcb_connect(nullptr, nullptr);
            if (!xcb_connection_has_error(probe)) break;
            if (attempt == 39) reachable = false;
            else ::usleep(50000);
        }
        if (!reachable) {
            if (probe) xcb_disconnect(probe);
            if (std::getenv("JX_REQUIRE_X11")) FAIL() << "no X display to test against";
            GTEST_SKIP() << "no X display";
        }
        // The probe stays open until the application has connected: a server whose last client
        // leaves resets itself and refuses connections for a moment.
        X11App();
        xcb_disconnect(probe);
        ASSERT_EQ(QGuiApplication::platformName(), "xcb");
        base_ = jx::TempFolder() + "/jx_x11_test_XXXXXX";
        ASSERT_NE(::mkdtemp(base_.data()), nullptr);
        session_ = std::make_unique<jx::SessionFolder>(base_);
        form_ = std::make_unique<jx::TJXMainForm>(session_.get(), "");
        form_->SetMessageHandler([this](const QString& m) { messages_ << m; });
        capture_ = form_->Capture();
        ASSERT_TRUE(capture_->Available());
    }
    void TearDown() override {
        form_.reset();
        session_.reset();
        if (!base_.empty()) fs::remove_all(base_);
    }
    // Runs the event loop until done() holds; bounded in rounds, not in time.
    template <class F>
    bool PollUntil(F done) {
        for (int i = 0; i < 400 && !done(); ++i) QApplication::processEvents(QEventLoop::AllEvents, 25);
        return done();
    }

    std::string base_;
    std::unique_ptr<jx::SessionFolder> session_;
    std::unique_ptr<jx::TJXMainForm> form_;
    jx::TScreenCapture* capture_ = nullptr;
    QStringList messages_;
};

TEST_F(X11Test, GrabHasTheRootSizeAndIsClippedToIt) {
    jx::TX11Display* d = capture_->Display();
    const jx::TCaptureRect root = d->RootRect();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(root.Width, screen.width());
    EXPECT_EQ(root.Height, screen.height());
    const jx::TCaptureImage all = d->Grab(root);
    EXPECT_EQ(all.Width, root.Width);
    EXPECT_EQ(all.Height, root.Height);
    EXPECT_EQ(all.Bgra.size(), size_t(root.Width) * size_t(root.Height) * 4);
    const jx::TCaptureImage corner = d->Grab({-10, -20, 50, 50});
    EXPECT_EQ(corner.Width, 40);
    EXPECT_EQ(corner.Height, 30);
}

TEST_F(X11Test, HotKeyWritesScreenShotIntoTheSessionAndOpensIt) {
    form_->Options().prtSc = true;
    form_->show();
    form_->FirstShow("");
    ASSERT_TRUE(capture_->Registered()) << capture_->Problems().toStdString();
    ASSERT_EQ(std::system("xdotool key Print"), 0);
    ASSERT_TRUE(PollUntil([&] { return form_->State().HasImage(); })) << messages_.join("; ").toStdString();
    const std::string shot = session_->FilePath("ScreenShot.bmp");
    EXPECT_TRUE(fs::exists(shot));
    const jx::TCaptureRect root = capture_->Display()->RootRect();
    EXPECT_EQ(form_->State().ImageWidth(), root.Width);
    EXPECT_EQ(form_->State().ImageHeight(), root.Height);
    EXPECT_EQ(QImage(QString::fromStdString(shot)).depth(), 32 /* Qt widens 24-bit BMPs */);

    // Clearing "Enable" gives the keys back at once: another client can then have them.
    form_->OptionsCommands().OptionsForm()->show();
    form_->OptionsCommands().OptionsForm()->PrtScClick(false);
    EXPECT_FALSE(capture_->Registered());
    form_->OptionsCommands().OptionsForm()->close();
}

TEST_F(X11Test, AKeyAnotherProgramHoldsIsReported) {
    // Another client takes Ctrl+F9 first.
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    const xcb_setup_t* setup = xcb_get_setup(other);
    xcb_window_t root = xcb_setup_roots_iterator(setup).data->root;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* map = xcb_get_keyboard_mapping_reply(
        other, xcb_get_keyboard_mapping(other, setup->min_keycode, uint8_t(count)), nullptr);
    ASSERT_NE(map, nullptr);
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
    uint8_t f9 = 0;
    for (int k = 0; k < count && !f9; ++k)
        for (int i = 0; i < map->keysyms_per_keycode; ++i)
            if (syms[k * map->keysyms_per_keycode + i] == jx::TX11Display::KeySymFor(Qt::Key_F9))
                f9 = uint8_t(setup->min_keycode + k);
    std::free(map);
    ASSERT_NE(f9, 0);
    std::free(xcb_request_check(other, xcb_grab_key_checked(other, 0, root, XCB_MOD_MASK_CONTROL, f9,
                                                            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));

    form_->Options().prtSc = true;
    form_->Options().hotKey1 = "Ctrl+F9";
    capture_->RegisterCaptureHotKeys();
    EXPECT_TRUE(capture_->Problems().contains("F9")) << capture_->Problems().toStdString();
    EXPECT_TRUE(capture_->Registered());  // the other three keys still work
    form_->OptionsCommands().OptionsForm()->show();
    EXPECT_TRUE(form_->OptionsCommands().OptionsForm()->CaptureMessage->text().contains("F9"));
    // The key replaced in the dialog: no longer reported, before any "OK".
    form_->OptionsCommands().OptionsForm()->HotKey[0]->setKeySequence(QKeySequence("Ctrl+F10"));
    EXPECT_FALSE(form_->OptionsCommands().OptionsForm()->CaptureMessage->text().contains("F9"))
        << form_->OptionsCommands().OptionsForm()->CaptureMessage->text().toStdString();
    form_->OptionsCommands().OptionsForm()->close();
    xcb_disconnect(other);
}

TEST_F(X11Test, CursorLandsAtItsPositionMinusTheHotSpot) {
    jx::TX11Display* d = capture_->Display();
    ASSERT_EQ(std::system("xdotool mousemove 300 200"), 0);
    std::optional<std::pair<jx::TCursorImage, QPoint>> cursor;
    ASSERT_TRUE(PollUntil([&] {
        cursor = d->Cursor();
        return cursor && cursor->second == QPoint(300, 200);
    }));
    const jx::TCaptureImage plain = d->Grab(d->RootRect());  // the server leaves the cursor out

    form_->Options().captureCursor = true;
    capture_->CaptureScreen(jx::ckFullScreen);  // the window stays hidden, so the screen holds still
    ASSERT_TRUE(form_->State().HasImage()) << messages_.join("; ").toStdString();
    const QImage shot = QImage(QString::fromStdString(session_->FilePath("ScreenShot.bmp"))).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.width(), plain.Width);

    const QRect expected(300 - cursor->first.HotX, 200 - cursor->first.HotY, cursor->first.Width, cursor->first.Height);
    QRect changed;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const uint8_t* p = &plain.Bgra[(size_t(y) * size_t(plain.Width) + size_t(x)) * 4];
            if (shot.pixel(x, y) != qRgb(p[2], p[1], p[0])) changed |= QRect(x, y, 1, 1);
        }
    ASSERT_FALSE(changed.isEmpty());
    EXPECT_TRUE(expected.contains(changed)) << "changed " << changed.x() << "," << changed.y() << " "
                                            << changed.width() << "x" << changed.height();
}

}  // namespace
