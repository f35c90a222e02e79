// awake.h: keeps the desktop session awake while someone watches the window.
//
// Through whatever the session offers, each of which lets go when the program's connection ends,
// so a crash leaves nothing behind: the X server's screen-saver suspend and idle time (X11), the
// compositor's idle-inhibit on the window's surface (Wayland), and the session bus's
// org.freedesktop.ScreenSaver. Nothing global is changed, and nothing is said where none is there.
#pragma once

#include "wayland.h"

#include <QObject>
#include <QTimer>

#include <optional>

class QWindow;

// Whether the session has a bus (DBUS_SESSION_BUS_ADDRESS, or a bus socket in XDG_RUNTIME_DIR), as
// the process started: decided at the first call, before anything could ask for one. Asking for
// the session bus without one has libdbus start a bus of its own (autolaunch), which outlives the
// program.
bool sessionHasBus();

class StayAwake : public QObject
{
public:
    explicit StayAwake(QWindow *window);
    ~StayAwake() override;

    // Whether someone may be watching the window now. While true, the session's idle blanking
    // and locking does not start; once false, it may again.
    void setWatched(bool watched);

private:
    void askSessionBus();

    QWindow *m_window;
    bool m_watched = false;
    QTimer m_idleReset;
    wayland::IdleInhibitor m_idleInhibitor;
    // The session bus's answer to the inhibition asked for, and whether a question is on its way:
    // one at a time, so that a release never overtakes the inhibition it releases.
    std::optional<uint> m_cookie;
    bool m_asking = false;
};
