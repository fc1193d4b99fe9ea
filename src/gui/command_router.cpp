#include "gui/command_router.h"

#include <QAction>

#include "gui/main_form.h"
#include "gui/save_commands.h"

namespace jx {
namespace {

std::vector<std::function<void(TCommandRouter&)>>& Registrars() {
    static std::vector<std::function<void(TCommandRouter&)>> list;
    return list;
}

Qt::KeyboardModifiers ModifierOfKey(int key) {
    switch (key) {
        case Qt::Key_Control: return Qt::ControlModifier;
        case Qt::Key_Shift: return Qt::ShiftModifier;
        case Qt::Key_Alt: return Qt::AltModifier;
        case Qt::Key_Meta: return Qt::MetaModifier;
        default: return Qt::NoModifier;
    }
}

}  // namespace

void TKeyChords::Pressed(int key, Qt::KeyboardModifiers modifiers) {
    modifiers &= ~Qt::KeypadModifier;
    if (const Qt::KeyboardModifiers m = ModifierOfKey(key); m != Qt::NoModifier) {
        for (THeld& h : held_)
            if (h.Down) h.Modifiers |= m;
        return;
    }
    std::erase_if(held_, [key](const THeld& h) { return h.Key == key; });
    held_.push_back({key, modifiers, true});
}

Qt::KeyboardModifiers TKeyChords::Released(int key, Qt::KeyboardModifiers atRelease) {
    // The entry stays (no longer down) until the key is pressed again: a release that travels up
    // through several widgets reads the same chord each time.
    for (THeld& h : held_)
        if (h.Key == key) {
            h.Down = false;
            return h.Modifiers;
        }
    return atRelease;
}

TCommandRegistrar::TCommandRegistrar(std::function<void(TCommandRouter&)> add) {
    Registrars().push_back(std::move(add));
}

TCommandRouter::TCommandRouter(TJXMainForm& form) : form_(form) {}

void TCommandRouter::AddRegistered() {
    for (const auto& add : Registrars()) add(*this);
}

void TCommandRouter::Add(TRoute route) {
    for (TRoute& r : routes_)
        if (r.Name == route.Name) {
            r = std::move(route);
            return;
        }
    routes_.push_back(std::move(route));
}

const TRoute* TCommandRouter::Find(const QString& name) const {
    for (const TRoute& r : routes_)
        if (r.Name == name) return &r;
    return nullptr;
}

bool TCommandRouter::Has(const QString& name) const { return Find(name) != nullptr; }

bool TCommandRouter::Guarded(const std::function<void()>& f) {
    if (form_.Locked() || form_.SaveCommands().ToolRunning()) return false;
    f();
    return true;
}

bool TCommandRouter::Route(const QString& name) {
    const TRoute* r = Find(name);
    if (!r || !r->Run) return false;
    if (r->NeedsImage && !form_.State().HasImage()) return false;
    const auto run = r->Run;  // a route may replace routes while it runs
    return Guarded([&] { run(form_); });
}

bool TCommandRouter::RouteKey(int key, Qt::KeyboardModifiers modifiers) {
    modifiers &= ~Qt::KeypadModifier;
    for (const TRoute& r : routes_)
        for (const TKeyChord& k : r.Keys)
            if (k.Key == key && k.Modifiers == modifiers) {
                Route(r.Name);
                return true;
            }
    return false;
}

void TCommandRouter::ConnectToolButtons(const QList<QAction*>& actions) {
    for (QAction* a : actions) {
        const QString objectName = a->objectName();
        for (const TRoute& r : routes_) {
            if (r.ToolButton.isEmpty() || r.ToolButton != objectName) continue;
            a->setEnabled(true);
            const QString name = r.Name;
            QObject::connect(a, &QAction::triggered, &form_, [this, name] { Route(name); });
            break;
        }
    }
}

}  // namespace jx
