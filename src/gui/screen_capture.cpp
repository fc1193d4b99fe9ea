#include "gui/screen_capture.h"

#include <QApplication>
#include <QKeySequence>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "edit/errors.h"
#include "gui/command_router.h"
#include "gui/main_form.h"
#include "gui/save_commands.h"
#include "platform/session.h"
#include "platform/settings.h"

namespace jx {
namespace {

// A plain screen-sized window of one colour, put behind the window being captured.
class TBackdrop : public QWidget {
public:
    TBackdrop()
        : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint |
                               Qt::WindowDoesNotAcceptFocus) {
        setAttribute(Qt::WA_ShowWithoutActivating);
    }
    void SetColor(QColor c) {
        color_ = c;
        painted_ = false;
        update();
    }
    bool Painted() const { return painted_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(rect(), color_);
        painted_ = true;
    }

private:
    QColor color_ = Qt::white;
    bool painted_ = false;
};

// Lets the server and our own event loop catch up until the backdrop has been drawn; bounded, so
// a window system that never reports the drawing cannot hang the capture.
void WaitPainted(TBackdrop& b, const TX11Display& display) {
    for (int i = 0; i < 200 && !(b.Painted() && b.windowHandle() && b.windowHandle()->isExposed()); ++i) {
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        display.Sync();
    }
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    display.Sync();
}

std::optional<TX11Display::THotKey> KeyFromText(int id, const std::string& text) {
    if (text.empty()) return std::nullopt;
    const QKeySequence seq = QKeySequence::fromString(QString::fromStdString(text), QKeySequence::PortableText);
    if (seq.count() != 1 || seq[0].key() == Qt::Key_unknown) return std::nullopt;
    return TX11Display::THotKey{id, seq[0].key(), seq[0].keyboardModifiers(),
                                QKeySequence(seq[0]).toString(QKeySequence::NativeText)};
}

}  // namespace

TScreenCapture::TScreenCapture(TJXMainForm& form) : QObject(&form), form_(form), display_(TX11Display::Open()) {
    if (display_) {
        // Out of the native event filter first: the capture runs its own event loop.
        display_->OnHotKey = [this](int id) { QTimer::singleShot(0, this, [this, id] { CaptureScreen(id); }); };
    }
}

TScreenCapture::~TScreenCapture() = default;

std::vector<TX11Display::THotKey> TScreenCapture::HotKeysFor(const JxOptions& o) {
    const std::string* user[] = {&o.hotKey1, &o.hotKey2, &o.hotKey3};
    const TX11Display::THotKey fixed[] = {
        {ckFullScreen, Qt::Key_Print, Qt::NoModifier, "PrtSc"},
        {ckActiveWindow, Qt::Key_Print, Qt::AltModifier, "Alt + PrtSc"},
        {ckWindowAlpha, Qt::Key_Print, Qt::ControlModifier, "Ctrl + PrtSc"},
    };
    std::vector<TX11Display::THotKey> keys;
    for (int i = 0; i < 3; ++i) {
        const auto k = KeyFromText(i, *user[i]);
        keys.push_back(k ? *k : fixed[i]);
    }
    keys.push_back({ckWindowAlphaFixed, Qt::Key_Print, Qt::ControlModifier | Qt::ShiftModifier, "Ctrl + Shift + PrtSc"});
    return keys;
}

void TScreenCapture::RegisterCaptureHotKeys() {
    if (!display_) {
        problems_ = "Screen capture needs an X11 session; it is switched off here.";
        return;
    }
    failed_ = display_->GrabKeys(HotKeysFor(form_.Options()));
    problems_ = ProblemsFor(form_.Options());
}

QString TScreenCapture::ProblemsFor(const JxOptions& options) const {
    if (!display_) return problems_;
    QStringList failed;
    for (const TX11Display::THotKey& k : HotKeysFor(options))
        if (failed_.contains(k.Name)) failed << k.Name;
    return failed.isEmpty() ? QString() : "Taken by another program or not on this keyboard: " + failed.join(", ") + ".";
}

void TScreenCapture::UnregisterCaptureHotKeys() {
    if (!display_) return;
    display_->UngrabKeys();
    problems_.clear();
    failed_.clear();
}

void TScreenCapture::CaptureScreen(int kind) {
    if (!display_ || capturing_ || kind < ckFullScreen || kind > ckWindowAlphaFixed) return;
    if (form_.SaveCommands().ToolRunning() || form_.Locked() || QApplication::activeModalWidget() || QApplication::activePopupWidget())
        return;
    capturing_ = true;
    form_.Router().Guarded([&] { form_.Guard([&] { DoCapture(kind); }); });
    capturing_ = false;
}

void TScreenCapture::DoCapture(int kind) {
    SessionFolder* session = form_.Session();
    if (!session || session->Removed()) throw EditError("There is no session folder to write the capture into.");
    const TCaptureRect root = display_->RootRect();
    const bool window = kind != ckFullScreen;
    TCaptureRect area = root;
    if (window) {
        const std::optional<TCaptureRect> active = display_->ActiveWindowRect();
        if (!active) throw EditError("There is no active window to capture.");
        area = ClipRect(*active, root);
        if (area.Empty()) throw EditError("The active window lies outside the screen.");
    }
    std::optional<std::pair<TCursorImage, QPoint>> cursor;
    if (form_.Options().captureCursor) cursor = display_->Cursor();

    TCaptureImage image;
    TCaptureRect keep = area;  // in root coordinates
    if (kind == ckWindowAlpha || kind == ckWindowAlphaFixed) {
        TBackdrop backdrop;
        backdrop.setGeometry(root.Left, root.Top, root.Width, root.Height);
        backdrop.SetColor(Qt::white);
        backdrop.show();
        display_->StackBelowActive(&backdrop);
        WaitPainted(backdrop, *display_);
        const TCaptureImage white = display_->Grab(area);
        backdrop.SetColor(Qt::black);
        WaitPainted(backdrop, *display_);
        const TCaptureImage black = display_->Grab(area);
        backdrop.hide();
        TAlphaCapture composed = ComposeAlphaCapture(white.Bgra, black.Bgra, area.Width, area.Height);
        if (composed.Box.Empty()) throw EditError("The active window has no visible pixels to capture.");
        image = std::move(composed.Image);
        keep = {area.Left + composed.Box.Left, area.Top + composed.Box.Top, composed.Box.Width, composed.Box.Height};
    } else {
        image = display_->Grab(area);
    }
    if (cursor) {
        const int32_t left = cursor->second.x() - cursor->first.HotX;
        const int32_t top = cursor->second.y() - cursor->first.HotY;
        if (CursorInside(cursor->first, left, top, keep)) BlendCursor(image, cursor->first, left - area.Left, top - area.Top);
    }
    if (keep != area) image = CropCapture(image, {keep.Left - area.Left, keep.Top - area.Top, keep.Width, keep.Height});

    const std::string name = window ? "WindowShot.bmp" : "ScreenShot.bmp";
    const std::vector<uint8_t> bmp = EncodeCaptureBmp(image);
    session->WriteFile(name, bmp.data(), bmp.size());
    if (form_.isMinimized()) form_.showNormal();
    form_.raise();
    form_.activateWindow();
    form_.Reports().LeaveEditingModes();
    form_.Reports().ClearFileTabs();
    form_.OpenImage(QString::fromStdString(session->FilePath(name)));
}

}  // namespace jx
