// greeting.h: the greeting's text, size and row, and where and how fast it scrolls.
#pragma once

#include <QtGlobal>

namespace greeting {

// One line of 237 characters, in white.
inline constexpr char text[]
    = "Hello Vantle-people! This is my first shader!! Shoutout to tkBlorp, Pembo and Gravik for "
      "your assistance, THANK YOU! - I thought it was time for me to dive deeper into this "
      "demo-stuff, so here you go. From me to you, you glorious coders!";
// The font's size, in pixels.
inline constexpr int pixelSize = 70;
// The baseline's row, counted from the window's top.
inline constexpr int baseline = 200;

// The text's left end starts at this column and moves leftwards at a constant speed, starting
// again once a period is over, wherever its tail then is.
inline constexpr int startX = 2000;
inline constexpr int pixelsPerSecond = 100;
inline constexpr qint64 periodMs = 100000;

} // namespace greeting
