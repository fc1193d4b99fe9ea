#include "gui/popup_menu2.h"

#include <QMenu>
#include <algorithm>
#include <utility>
#include <vector>

#include "gui/main_form.h"

namespace jx {
namespace {

std::vector<std::pair<int, TPopupMenu2Group::TAdd>>& Groups() {
    static std::vector<std::pair<int, TPopupMenu2Group::TAdd>> groups;
    return groups;
}

// The zoom commands live here: they belong to the view, not to one feature.
const TPopupMenu2Group zoomGroup(10, [](TJXMainForm& f, QMenu& menu) {
    QMenu* zoom = menu.addMenu("Zoom");
    zoom->addAction("in", &f, [&f] { f.ZoomStep('+'); });
    zoom->addAction("out", &f, [&f] { f.ZoomStep('-'); });
    zoom->addAction("actual", &f, [&f] { f.ZoomActual(); });
});

}  // namespace

TPopupMenu2Group::TPopupMenu2Group(int order, TAdd add) { Groups().emplace_back(order, std::move(add)); }

QMenu* BuildPopupMenu2(TJXMainForm& form, QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->setObjectName("PopupMenu2");
    std::vector<std::pair<int, TPopupMenu2Group::TAdd>> groups = Groups();
    std::stable_sort(groups.begin(), groups.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < groups.size(); ++i) {
        if (i > 0) menu->addSeparator();
        groups[i].second(form, *menu);
    }
    return menu;
}

}  // namespace jx
