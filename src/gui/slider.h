#pragma once
// The horizontal bar every dialog's numeric settings share.
#include <QSlider>

namespace jx {

inline QSlider* MakeSlider(int lo, int hi, int value) {
    auto* s = new QSlider(Qt::Horizontal);
    s->setRange(lo, hi);
    s->setValue(value);
    s->setTickPosition(QSlider::NoTicks);
    return s;
}

}  // namespace jx
