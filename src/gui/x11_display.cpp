#include "gui/x11_display.h"

#include <QGuiApplication>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xproto.h>

#include "edit/errors.h"

namespace jx {
namespace {

template <class T>
struct FreeReply {
    void operator()(T* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeReply<T>>;

constexpr uint16_t kRelevantMods =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;
constexpr uint32_t kNumLockSym = 0xff7f;

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    Reply<xcb_intern_atom_reply_t> r(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(std::strlen(name)), name), nullptr));
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}

int ScreenNumber() {
    const char* d = std::getenv("DISPLAY");
    if (!d) return 0;
    const char* colon = std::strrchr(d, ':');
    const char* dot = colon ? std::strchr(colon, '.') : nullptr;
    return dot ? std::atoi(dot + 1) : 0;
}

}  // namespace

struct TX11Display::Impl {
    xcb_connection_t* c = nullptr;
    xcb_screen_t* screen = nullptr;
    xcb_window_t root = XCB_WINDOW_NONE;
    xcb_atom_t activeWindow = XCB_ATOM_NONE;
    xcb_atom_t frameExtents = XCB_ATOM_NONE;
    bool xfixes = false;
    uint16_t numLock = XCB_MOD_MASK_2;

    std::vector<uint8_t> KeyCodesFor(uint32_t keysym) const {
        const xcb_setup_t* setup = xcb_get_setup(c);
        const uint8_t first = setup->min_keycode;
        const int count = int(setup->max_keycode) - int(first) + 1;
        Reply<xcb_get_keyboard_mapping_reply_t> r(
            xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, first, uint8_t(count)), nullptr));
        std::vector<uint8_t> codes;
        if (!r || r->keysyms_per_keycode == 0) return codes;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(r.get());
        const int per = r->keysyms_per_keycode;
        const int n = xcb_get_keyboard_mapping_keysyms_length(r.get()) / per;
        for (int k = 0; k < n; ++k)
            for (int i = 0; i < per; ++i)
                if (syms[k * per + i] == keysym) {
                    codes.push_back(uint8_t(first + k));
                    break;
                }
        return codes;
    }

    uint16_t FindNumLock() const {
        const std::vector<uint8_t> codes = KeyCodesFor(kNumLockSym);
        Reply<xcb_get_modifier_mapping_reply_t> r(
            xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
        if (!r || codes.empty()) return XCB_MOD_MASK_2;
        const xcb_keycode_t* map = xcb_get_modifier_mapping_keycodes(r.get());
        const int per = r->keycodes_per_modifier;
        for (int mod = 0; mod < 8; ++mod)
            for (int i = 0; i < per; ++i)
                for (uint8_t code : codes)
                    if (map[mod * per + i] == code) return uint16_t(1u << mod);
        return XCB_MOD_MASK_2;
    }

    xcb_window_t ActiveWindow() const {
        if (activeWindow == XCB_ATOM_NONE) return XCB_WINDOW_NONE;
        Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
            c, xcb_get_property(c, 0, root, activeWindow, XCB_ATOM_WINDOW, 0, 1), nullptr));
        if (!r || r->format != 32 || xcb_get_property_value_length(r.get()) < 4) return XCB_WINDOW_NONE;
        return *static_cast<const xcb_window_t*>(xcb_get_property_value(r.get()));
    }

    // The child of the root that holds w (its window-manager frame, or w itself).
    xcb_window_t TopLevel(xcb_window_t w) const {
        for (int depth = 0; depth < 64 && w != XCB_WINDOW_NONE; ++depth) {
            Reply<xcb_query_tree_reply_t> r(xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr));
            if (!r) return XCB_WINDOW_NONE;
            if (r->parent == root || r->parent == XCB_WINDOW_NONE) return w;
            w = r->parent;
        }
        return XCB_WINDOW_NONE;
    }
};

TX11Display::TX11Display(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TX11Display::~TX11Display() {
    UngrabKeys();
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
}

std::unique_ptr<TX11Display> TX11Display::Open() {
    auto* app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = app ? app->connection() : nullptr;
    if (!c || xcb_connection_has_error(c)) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->c = c;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int n = ScreenNumber(); n > 0 && it.rem > 1; --n) xcb_screen_next(&it);
    if (!it.data) return nullptr;
    impl->screen = it.data;
    impl->root = it.data->root;
    impl->activeWindow = Atom(c, "_NET_ACTIVE_WINDOW");
    impl->frameExtents = Atom(c, "_NET_FRAME_EXTENTS");
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (ext && ext->present) {
        Reply<xcb_xfixes_query_version_reply_t> v(
            xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
        impl->xfixes = v && v->major_version >= 1;
    }
    impl->numLock = impl->FindNumLock();
    std::unique_ptr<TX11Display> d(new TX11Display(std::move(impl)));
    QCoreApplication::instance()->installNativeEventFilter(d.get());
    return d;
}

TCaptureRect TX11Display::RootRect() const {
    return {0, 0, impl_->screen->width_in_pixels, impl_->screen->height_in_pixels};
}

TCaptureImage TX11Display::Grab(const TCaptureRect& wanted) const {
    const TCaptureRect r = ClipRect(wanted, RootRect());
    if (r.Empty()) throw EditError("The area to capture lies outside the screen.");
    xcb_connection_t* c = impl_->c;
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_image_reply_t> img(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, impl_->root, int16_t(r.Left), int16_t(r.Top),
                      uint16_t(r.Width), uint16_t(r.Height), ~0u),
        &error));
    std::free(error);
    if (!img) throw EditError("The screen could not be read.");
    const xcb_setup_t* setup = xcb_get_setup(c);
    int bpp = 0;
    for (xcb_format_iterator_t f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
        if (f.data->depth == img->depth) bpp = f.data->bits_per_pixel;
    const size_t bytes = size_t(r.Width) * size_t(r.Height) * 4;
    if ((img->depth != 24 && img->depth != 32) || bpp != 32 || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST ||
        size_t(xcb_get_image_data_length(img.get())) < bytes)
        throw EditError("Capture needs a screen of 24 or 32 bits per pixel.");
    TCaptureImage out;
    out.Width = r.Width;
    out.Height = r.Height;
    const uint8_t* data = xcb_get_image_data(img.get());
    out.Bgra.assign(data, data + bytes);
    for (size_t i = 3; i < bytes; i += 4) out.Bgra[i] = 255;
    return out;
}

std::optional<TCaptureRect> TX11Display::ActiveWindowRect() const {
    xcb_connection_t* c = impl_->c;
    const xcb_window_t w = impl_->ActiveWindow();
    if (w == XCB_WINDOW_NONE) return std::nullopt;
    Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr));
    Reply<xcb_translate_coordinates_reply_t> t(
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, w, impl_->root, 0, 0), nullptr));
    if (!g || !t) return std::nullopt;
    TCaptureRect r{t->dst_x, t->dst_y, g->width, g->height};
    if (impl_->frameExtents != XCB_ATOM_NONE) {
        Reply<xcb_get_property_reply_t> p(xcb_get_property_reply(
            c, xcb_get_property(c, 0, w, impl_->frameExtents, XCB_ATOM_CARDINAL, 0, 4), nullptr));
        if (p && p->format == 32 && xcb_get_property_value_length(p.get()) >= 16) {
            const uint32_t* e = static_cast<const uint32_t*>(xcb_get_property_value(p.get()));
            // left, right, top, bottom; a value past any screen is not believed
            if (e[0] < 4096 && e[1] < 4096 && e[2] < 4096 && e[3] < 4096)
                r = {r.Left - int32_t(e[0]), r.Top - int32_t(e[2]), r.Width + int32_t(e[0] + e[1]),
                     r.Height + int32_t(e[2] + e[3])};
        }
    }
    return r;
}

std::optional<std::pair<TCursorImage, QPoint>> TX11Display::Cursor() const {
    if (!impl_->xfixes) return std::nullopt;
    xcb_connection_t* c = impl_->c;
    Reply<xcb_xfixes_get_cursor_image_reply_t> r(
        xcb_xfixes_get_cursor_image_reply(c, xcb_xfixes_get_cursor_image(c), nullptr));
    if (!r) return std::nullopt;
    TCursorImage cursor;
    cursor.Width = r->width;
    cursor.Height = r->height;
    cursor.HotX = r->xhot;
    cursor.HotY = r->yhot;
    const size_t n = size_t(r->width) * size_t(r->height);
    if (size_t(xcb_xfixes_get_cursor_image_cursor_image_length(r.get())) < n) return std::nullopt;
    const uint32_t* px = xcb_xfixes_get_cursor_image_cursor_image(r.get());
    cursor.Bgra.resize(n * 4);
    for (size_t i = 0; i < n; ++i) {
        cursor.Bgra[i * 4 + 0] = uint8_t(px[i]);
        cursor.Bgra[i * 4 + 1] = uint8_t(px[i] >> 8);
        cursor.Bgra[i * 4 + 2] = uint8_t(px[i] >> 16);
        cursor.Bgra[i * 4 + 3] = uint8_t(px[i] >> 24);
    }
    return std::make_pair(std::move(cursor), QPoint(r->x, r->y));
}

void TX11Display::StackBelowActive(QWidget* window) const {
    const xcb_window_t frame = impl_->TopLevel(impl_->ActiveWindow());
    if (frame == XCB_WINDOW_NONE || !window) return;
    const uint32_t values[] = {frame, XCB_STACK_MODE_BELOW};
    xcb_void_cookie_t ck = xcb_configure_window_checked(
        impl_->c, xcb_window_t(window->winId()), XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values);
    std::free(xcb_request_check(impl_->c, ck));  // a frame that went away meanwhile is no error of ours
}

void TX11Display::Sync() const {
    std::free(xcb_get_input_focus_reply(impl_->c, xcb_get_input_focus(impl_->c), nullptr));
}

QStringList TX11Display::GrabKeys(const std::vector<THotKey>& keys) {
    UngrabKeys();
    QStringList failed;
    xcb_connection_t* c = impl_->c;
    const uint16_t variants[] = {0, XCB_MOD_MASK_LOCK, impl_->numLock, uint16_t(XCB_MOD_MASK_LOCK | impl_->numLock)};
    for (const THotKey& k : keys) {
        const uint32_t sym = KeySymFor(k.Key);
        const std::vector<uint8_t> codes = sym ? impl_->KeyCodesFor(sym) : std::vector<uint8_t>{};
        if (codes.empty()) {
            failed << k.Name;
            continue;
        }
        const uint16_t mods = ModMaskFor(k.Modifiers);
        std::vector<xcb_void_cookie_t> cookies;
        for (uint16_t v : variants)
            cookies.push_back(xcb_grab_key_checked(c, 0, impl_->root, uint16_t(mods | v), codes.front(),
                                                   XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        bool taken = false;
        for (xcb_void_cookie_t ck : cookies) {
            xcb_generic_error_t* e = xcb_request_check(c, ck);
            // BadAccess: another client holds it; any other error leaves it just as unusable.
            if (e) taken = true;
            std::free(e);
        }
        if (taken) {
            for (uint16_t v : variants)
                std::free(xcb_request_check(
                    c, xcb_ungrab_key_checked(c, codes.front(), impl_->root, uint16_t(mods | v))));
            failed << k.Name;
            continue;
        }
        grabs_.push_back({k.Id, codes.front(), mods});
    }
    return failed;
}

void TX11Display::UngrabKeys() {
    if (grabs_.empty()) return;
    const uint16_t variants[] = {0, XCB_MOD_MASK_LOCK, impl_->numLock, uint16_t(XCB_MOD_MASK_LOCK | impl_->numLock)};
    for (const TGrab& g : grabs_)
        for (uint16_t v : variants)
            std::free(xcb_request_check(impl_->c, xcb_ungrab_key_checked(impl_->c, g.KeyCode, impl_->root,
                                                                         uint16_t(g.Mods | v))));
    grabs_.clear();
}

bool TX11Display::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (grabs_.empty() || eventType != "xcb_generic_event_t") return false;
    auto* ev = static_cast<xcb_generic_event_t*>(message);
    if ((ev->response_type & 0x7f) != XCB_KEY_PRESS) return false;
    auto* k = reinterpret_cast<xcb_key_press_event_t*>(ev);
    if (k->event != impl_->root) return false;
    const uint16_t mods = k->state & kRelevantMods;
    for (const TGrab& g : grabs_)
        if (g.KeyCode == k->detail && g.Mods == mods) {
            if (OnHotKey) OnHotKey(g.Id);
            return true;
        }
    return false;
}

uint32_t TX11Display::KeySymFor(int key) {
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35) return 0xffbe + uint32_t(key - Qt::Key_F1);
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return uint32_t('a' + (key - Qt::Key_A));
    if (key >= 0x20 && key <= 0x7e) return uint32_t(key);
    if (key >= 0xa0 && key <= 0xff) return uint32_t(key);
    switch (key) {
        case Qt::Key_Print: return 0xff61;
        case Qt::Key_Pause: return 0xff13;
        case Qt::Key_ScrollLock: return 0xff14;
        case Qt::Key_Insert: return 0xff63;
        case Qt::Key_Delete: return 0xffff;
        case Qt::Key_Home: return 0xff50;
        case Qt::Key_End: return 0xff57;
        case Qt::Key_PageUp: return 0xff55;
        case Qt::Key_PageDown: return 0xff56;
        case Qt::Key_Left: return 0xff51;
        case Qt::Key_Up: return 0xff52;
        case Qt::Key_Right: return 0xff53;
        case Qt::Key_Down: return 0xff54;
        case Qt::Key_Escape: return 0xff1b;
        case Qt::Key_Tab: return 0xff09;
        case Qt::Key_Backspace: return 0xff08;
        case Qt::Key_Return: return 0xff0d;
        case Qt::Key_Enter: return 0xff8d;
        default: return 0;
    }
}

uint16_t TX11Display::ModMaskFor(Qt::KeyboardModifiers m) {
    uint16_t mask = 0;
    if (m & Qt::ShiftModifier) mask |= XCB_MOD_MASK_SHIFT;
    if (m & Qt::ControlModifier) mask |= XCB_MOD_MASK_CONTROL;
    if (m & Qt::AltModifier) mask |= XCB_MOD_MASK_1;
    if (m & Qt::MetaModifier) mask |= XCB_MOD_MASK_4;
    return mask;
}

}  // namespace jx
