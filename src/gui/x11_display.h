#pragma once
// The X11 half of screen capture and the global hot keys, over Qt's own xcb connection. Made only
// where the session runs on X11 (Open gives nothing elsewhere, e.g. Wayland without XWayland).
#include <QAbstractNativeEventFilter>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "edit/capture.h"

class QWidget;

namespace jx {

class TX11Display : public QAbstractNativeEventFilter {
public:
    struct THotKey {
        int Id = 0;
        int Key = 0;  // Qt::Key
        Qt::KeyboardModifiers Modifiers;
        QString Name;  // for messages
    };

    static std::unique_ptr<TX11Display> Open();
    ~TX11Display() override;
    TX11Display(const TX11Display&) = delete;
    TX11Display& operator=(const TX11Display&) = delete;

    TCaptureRect RootRect() const;
    // The screen's pixels inside r (clipped to the root window first). Throws EditError.
    TCaptureImage Grab(const TCaptureRect& r) const;
    // The active window with its decorations, in root coordinates; nothing without one.
    std::optional<TCaptureRect> ActiveWindowRect() const;
    // The cursor image and the pointer position; nothing when the server cannot tell.
    std::optional<std::pair<TCursorImage, QPoint>> Cursor() const;
    // Puts a top-level window of ours directly below the active window's frame.
    void StackBelowActive(QWidget* window) const;
    // Waits until the server has handled every request sent so far.
    void Sync() const;

    // Grabs each key on the root window (with the NumLock and CapsLock variants). Returns the
    // names of the keys that could not be had (taken by another program, or not on the keyboard).
    QStringList GrabKeys(const std::vector<THotKey>& keys);
    void UngrabKeys();
    bool HasGrabs() const { return !grabs_.empty(); }

    // Called, from the event loop, with the Id of a grabbed key that was pressed.
    std::function<void(int)> OnHotKey;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    // X keysym of a Qt key; 0 for a key with none.
    static uint32_t KeySymFor(int qtKey);
    // X modifier mask of Qt modifiers (Shift, Control, Alt, Meta).
    static uint16_t ModMaskFor(Qt::KeyboardModifiers modifiers);

private:
    struct Impl;
    explicit TX11Display(std::unique_ptr<Impl> impl);
    struct TGrab {
        int Id;
        uint8_t KeyCode;
        uint16_t Mods;
    };
    std::unique_ptr<Impl> impl_;
    std::vector<TGrab> grabs_;
};

}  // namespace jx
