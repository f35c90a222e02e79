// animation.h: turns the animation clock's milliseconds into shader time and scroller position.
#pragma once

#include "greeting.h"

#include <QtGlobal>

#include <cmath>

// Seconds for the shaders, reduced to one period of 2 pi seconds. Every use of time in the
// fragment stage has that period, so the picture stays the same and never jumps, while a float
// keeps its resolution to a microsecond at any uptime instead of coarsening with it.
inline float shaderSeconds(qint64 elapsedMs)
{
    const double period = 2.0 * 3.14159265358979323846;
    return float(std::fmod(double(elapsedMs) / 1000.0, period));
}

// Left end of the greeting's baseline at a time on the animation clock. The remainder is taken
// in integers before the float conversion, so precision does not decay as the clock grows; the
// cast truncates toward zero, which holds x = 0 for 19 ms instead of 10.
inline int scrollerX(qint64 elapsedMs)
{
    const qint64 remainder = elapsedMs % greeting::periodMs;
    const float travelled = float(remainder) / float(1000 / greeting::pixelsPerSecond);
    return int(float(greeting::startX) - travelled);
}
