#pragma once
// The command router: every way of reaching a window command (a tool-bar button, a key, a
// dropped file, a global hot key) goes through it, and it checks the main window's lock once,
// here, for all of them.
//
// How a new command plugs in: add one file gui/<feature>_commands.cpp holding
//
//     static const jx::TCommandRegistrar registrar([](jx::TCommandRouter& r) {
//         r.Add({.Name = "Crop", .ToolButton = "CropButton", .Keys = {{Qt::Key_Return, {}}},
//                .NeedsImage = true, .Run = [](jx::TJXMainForm& f) { /* call edit/ */ }});
//     });
//
// The window runs every registrar once when it is made, enables and connects the tool-bar
// button each route names, and sends key releases here. The command itself computes with plain
// inputs in edit/ or imaging/ and ends in CommitImage, CommitMask or CommitPalette.
#include <QKeySequence>
#include <QString>
#include <functional>
#include <vector>

class QAction;

namespace jx {

class TJXMainForm;

struct TKeyChord {
    int Key = 0;
    Qt::KeyboardModifiers Modifiers;  // must match exactly (keypad state aside)
};

struct TRoute {
    QString Name{};
    QString ToolButton{};          // object name of the tool-bar action it drives, or empty
    std::vector<TKeyChord> Keys{}; // taken on key release
    bool NeedsImage = false;       // does nothing, silently, without an image
    std::function<void(TJXMainForm&)> Run{};
};

// Which modifiers were held together with a key. Routes fire on the key's release; the chord is
// the key with every modifier that was down while it was, so Ctrl released before O still opens,
// whatever the order of the releases.
class TKeyChords {
public:
    void Pressed(int key, Qt::KeyboardModifiers modifiers);
    // The chord's modifiers for the key released now (atRelease when its press was not seen).
    Qt::KeyboardModifiers Released(int key, Qt::KeyboardModifiers atRelease);

private:
    struct THeld {
        int Key;
        Qt::KeyboardModifiers Modifiers;
        bool Down;
    };
    std::vector<THeld> held_;
};

class TCommandRouter {
public:
    explicit TCommandRouter(TJXMainForm& form);

    // A second route of the same name replaces the first.
    void Add(TRoute route);
    bool Has(const QString& name) const;
    const TRoute* Find(const QString& name) const;

    // Runs the named route unless the window is locked or the route needs an image that is not
    // there; returns whether it ran.
    bool Route(const QString& name);
    // Runs f under the same lock check (drops, hot keys).
    bool Guarded(const std::function<void()>& f);
    // A key release: the route whose chord matches runs; true when one matched (the key is then
    // taken, even when the lock stopped it).
    bool RouteKey(int key, Qt::KeyboardModifiers modifiers);
    // Key presses and releases as they come: a release routes the chord its key was part of.
    void KeyPressed(int key, Qt::KeyboardModifiers modifiers) { chords_.Pressed(key, modifiers); }
    bool KeyReleased(int key, Qt::KeyboardModifiers atRelease) { return RouteKey(key, chords_.Released(key, atRelease)); }

    // Enables each action that a route names and connects it to Route.
    void ConnectToolButtons(const QList<QAction*>& actions);

    // Every registrar's routes.
    void AddRegistered();

private:
    TJXMainForm& form_;
    std::vector<TRoute> routes_;
    TKeyChords chords_;
};

// A feature file's routes, added by every router made after program start.
class TCommandRegistrar {
public:
    explicit TCommandRegistrar(std::function<void(TCommandRouter&)> add);
};

}  // namespace jx
