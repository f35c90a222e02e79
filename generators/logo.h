// logo.h: the logo's fixed layout, which the generator draws to and the tests check against.
#pragma once

#include <QRect>
#include <QSize>

namespace logo {

inline constexpr QSize imageSize(1920, 1080);
inline constexpr int dotsPerMetre = 2835;
// Every drawn pixel lies in this box, and the drawing touches all four of its sides.
inline constexpr QRect drawingBox(QPoint(540, 340), QPoint(1295, 587));

} // namespace logo
