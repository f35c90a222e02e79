// x11.h: what the window learns of its life on X11 from events sent to it, and asks of the server.
#pragma once

#include "platform.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QRect>
#include <QWindow>

#include <functional>

namespace x11 {

enum class WindowEvent {
    Other,
    // Another program destroyed the window, as some tools close windows (xdotool windowclose).
    Destroyed,
    // A window manager took the window into its normal state: at the start, after a restore, or
    // when one starts after the window was shown and puts the focus on a window of its own.
    Managed,
    // The answer to askForServerTime, stamped with the server's time (eventTime).
    ServerTime,
};

struct Placement
{
    QRect monitor;
    bool primary = false;
};

#ifdef SCROLLDEMO_X11

// Tells when other windows come to cover a window whole, and when they no longer do, as the X
// server reports it to a window that asks (Qt does not, and keeps a covered window exposed). A
// compositing manager keeps every window visible to the server: there nothing is told.
class CoverWatch : public QAbstractNativeEventFilter
{
public:
    explicit CoverWatch(std::function<void(bool covered)> changed)
        : m_changed(std::move(changed))
    { }
    ~CoverWatch() override;
    // From now on; nothing happens on other platforms.
    void watch(WId window);
    bool nativeEventFilter(const QByteArray &eventType, void *message,
                           NativeEventResult *) override;

private:
    std::function<void(bool covered)> m_changed;
    WId m_window = 0;
};

// What a native event from Qt's X11 plugin says about the window; Other on other platforms.
WindowEvent windowEvent(const QByteArray &eventType, const void *message, WId window);

// The server's time stamped on the event (of a ServerTime event: the present time).
quint32 eventTime(const void *message);

// Whether the X server still has the window: false once another program has destroyed it. Asks
// the server, and waits for its answer. True on other platforms.
bool windowExists(WId window);

// Where a new window opens on X11, by the monitors the user arranged (RandR), in the screen's
// pixels: the primary monitor where the user has set one, and there the window takes its place;
// else the monitor the pointer is on, whose size the window takes while the window manager chooses
// its place. Empty on other platforms and where the server has no monitors to tell of.
Placement placement();

// Has the X server send the window an event stamped with its present time (an empty change of
// a property of the program's own), which comes back as WindowEvent::ServerTime. Nothing
// happens on other platforms.
void askForServerTime(WId window);

// Asks the window manager to give the window the focus and raise it, as of the server's time
// given: a window manager grants such a request only if nothing newer has the focus (EWMH's
// _NET_ACTIVE_WINDOW; without a window manager that supports it, the focus is set directly).
void activate(WId window, quint32 time);

// Keeps the X server's screen saver, its blanking and power saving, from starting while
// suspended (the screen-saver extension's suspend, which ends with the program's connection);
// nothing happens where the server lacks the extension or on other platforms.
void suspendScreenSaver(bool suspend);

// Resets the server's idle time, as input would: the session's idle watchers read it.
void resetIdleTime();

// Tells a compositing manager that it need not copy the window's frames
// (_NET_WM_BYPASS_COMPOSITOR), or takes that back.
void bypassCompositor(WId window, bool bypass);

#else
// Built without the X11 part: on X11 the window does what Qt alone does there, and every answer
// is the other platforms' one.
class CoverWatch
{
public:
    explicit CoverWatch(std::function<void(bool covered)>) { }
    void watch(WId) { }
};
inline WindowEvent windowEvent(const QByteArray &, const void *, WId)
{
    return WindowEvent::Other;
}
inline quint32 eventTime(const void *)
{
    return 0;
}
inline bool windowExists(WId)
{
    return true;
}
inline Placement placement()
{
    return {};
}
inline void askForServerTime(WId) { }
inline void activate(WId, quint32) { }
inline void suspendScreenSaver(bool) { }
inline void resetIdleTime() { }
inline void bypassCompositor(WId, bool) { }
#endif

} // namespace x11
