#pragma once
// The image view's pop-up menu. It is built once per window from groups that feature
// files register, so each adds its own items without touching the others:
//
//     static const jx::TImageMenuGroup group(30, [](jx::TJXMainForm& f, QMenu& menu) {
//         menu.addAction("...", &f, [&f] { /* route or command */ });
//     });
//
// Groups are added in ascending order, a separator between two groups.
#include <functional>

class QMenu;
class QWidget;

namespace jx {

class TJXMainForm;

class TImageMenuGroup {
public:
    using TAdd = std::function<void(TJXMainForm&, QMenu&)>;
    TImageMenuGroup(int order, TAdd add);
};

// A new menu holding every registered group's items (the window calls it once).
QMenu* BuildImageMenu(TJXMainForm& form, QWidget* parent);

}  // namespace jx
