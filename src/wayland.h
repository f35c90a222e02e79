// wayland.h: what the window asks of a Wayland compositor that Qt cannot ask for it.
#pragma once

class QWindow;
struct zwp_idle_inhibitor_v1;

namespace wayland {

#ifdef SCROLLDEMO_WAYLAND

// Asks the compositor to show the window full screen on the output the compositor chooses for a
// new window: the one the user works on. Qt's own request names the output of the window's
// screen, its primary one, wherever the user is. Call once the window is shown, before its first
// frame. False where the window has no xdg-shell toplevel (another platform, another shell): the
// caller then asks Qt.
bool requestFullScreenOnChosenOutput(QWindow *window);

// Keeps the compositor's idle blanking and locking off while the window's surface is visible
// (idle-inhibit), where the compositor offers it; elsewhere does nothing. The compositor lets go
// when the program's connection ends.
class IdleInhibitor
{
public:
    IdleInhibitor() = default;
    ~IdleInhibitor() { release(); }
    IdleInhibitor(const IdleInhibitor &) = delete;
    IdleInhibitor &operator=(const IdleInhibitor &) = delete;

    void inhibit(QWindow *window);
    void release();

private:
    zwp_idle_inhibitor_v1 *m_inhibitor = nullptr;
};

#else
// Built without the Wayland part: the window asks Qt, which names its screen's output, and the
// compositor's idle time goes on.
inline bool requestFullScreenOnChosenOutput(QWindow *)
{
    return false;
}
class IdleInhibitor
{
public:
    void inhibit(QWindow *) { }
    void release() { }
};
#endif

} // namespace wayland
