// wayland.h: what the window asks of a Wayland compositor that Qt cannot ask for it.
#pragma once

class QWindow;

namespace wayland {

#ifdef SCROLLDEMO_WAYLAND

// Asks the compositor to show the window full screen on the output the compositor chooses for a
// new window: the one the user works on. Qt's own request names the output of the window's
// screen, its primary one, wherever the user is. Call once the window is shown, before its first
// frame. False where the window has no xdg-shell toplevel (another platform, another shell): the
// caller then asks Qt.
bool requestFullScreenOnChosenOutput(QWindow *window);

#else
// Built without the Wayland part: the window asks Qt, which names its screen's output.
inline bool requestFullScreenOnChosenOutput(QWindow *)
{
    return false;
}
#endif

} // namespace wayland
