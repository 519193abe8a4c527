// Dialog units of the window templates' 8-point font: 6 pixels per 4 horizontal units,
// 13 pixels per 8 vertical units, each edge rounded like the platform's MulDiv.
#pragma once

#include <QFont>
#include <QRect>

inline int DluX(int units) {
    return (units * 6 + 2) / 4;
}
inline int DluY(int units) {
    return (units * 13 + 4) / 8;
}
// A template rectangle (x, y, width, height in dialog units) in pixels.
inline QRect DialogRect(int x, int y, int width, int height) {
    const int left = DluX(x), top = DluY(y);
    return {left, top, DluX(x + width) - left, DluY(y + height) - top};
}
// The templates' 8-point font, in the family of `base`: the size the units are made for.
inline QFont TemplateFont(QFont base) {
    base.setPointSize(8);
    return base;
}
