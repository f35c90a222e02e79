// animation.h: turns the animation clock's milliseconds into shader time and scroller position.
#pragma once

#include <QtGlobal>

// Seconds for the shaders. Never reduced modulo a period, so the waves never jump.
inline float secondsFromMilliseconds(qint64 elapsedMs)
{
    return float(elapsedMs) / 1000.0f;
}

// Left end of the greeting's baseline: from x = 2000 leftwards at 100 pixels per second,
// starting again every 100 seconds. The remainder is taken in integers before the float
// conversion, so precision does not decay as the clock grows; the cast truncates toward
// zero, which holds x = 0 for 19 ms instead of 10.
inline int scrollerX(qint64 elapsedMs)
{
    const qint64 remainder = elapsedMs % 100000;
    const float travelled = float(remainder) / 10.0f;
    return int(2000.0f - travelled);
}
