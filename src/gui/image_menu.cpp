#include "gui/image_menu.h"

#include <QMenu>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>
#include <algorithm>
#include <utility>
#include <vector>

#include "gui/image_view.h"
#include "gui/main_form.h"

namespace jx {
namespace {

std::vector<std::pair<int, TImageMenuGroup::TAdd>>& Groups() {
    static std::vector<std::pair<int, TImageMenuGroup::TAdd>> groups;
    return groups;
}

// The zoom commands live here: they belong to the view, not to one feature. Last in the menu.
const TImageMenuGroup zoomGroup(30, [](TJXMainForm& f, QMenu& menu) {
    QMenu* zoom = menu.addMenu("Zoom");
    zoom->addAction("in", &f, [&f] { f.ImageView()->ZoomStep('+'); });
    zoom->addAction("out", &f, [&f] { f.ImageView()->ZoomStep('-'); });
    zoom->addAction("actual", &f, [&f] { f.ImageView()->ZoomActual(); });
});

// A checkable item with a glyph shows its state by the glyph alone (the "checked" and "unchecked"
// images), not by a radio dot or tick in the glyph's place.
class TGlyphCheckStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (element == CE_MenuItem && item && !item->icon.isNull() &&
            item->checkType != QStyleOptionMenuItem::NotCheckable) {
            QStyleOptionMenuItem plain(*item);
            plain.checkType = QStyleOptionMenuItem::NotCheckable;
            plain.checked = false;
            plain.state &= ~(State_On | State_Off);
            QProxyStyle::drawControl(element, &plain, painter, widget);
            return;
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

}  // namespace

TImageMenuGroup::TImageMenuGroup(int order, TAdd add) { Groups().emplace_back(order, std::move(add)); }

QMenu* BuildImageMenu(TJXMainForm& form, QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->setObjectName("ImageMenu");
    std::vector<std::pair<int, TImageMenuGroup::TAdd>> groups = Groups();
    std::stable_sort(groups.begin(), groups.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < groups.size(); ++i) {
        if (i > 0) menu->addSeparator();
        groups[i].second(form, *menu);
    }
    auto* style = new TGlyphCheckStyle;
    style->setParent(menu);
    menu->setStyle(style);
    for (QMenu* sub : menu->findChildren<QMenu*>()) sub->setStyle(style);
    return menu;
}

}  // namespace jx
