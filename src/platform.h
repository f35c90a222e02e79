// platform.h: which windowing system the program runs on, and which of its parts the build has.
#pragma once

#include <QString>
#include <QtGlobal>

// The type of the result that Qt's native event hooks take, which Qt 6 widened.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
using NativeEventResult = qintptr;
#else
using NativeEventResult = long;
#endif

struct Platform
{
    enum Kind { X11, Wayland, Other };

    Kind kind = Other;
    // Whether the build has the part that reaches below Qt there (SCROLLDEMO_X11,
    // SCROLLDEMO_WAYLAND); without it the window does what Qt alone does.
    bool x11Part = false;
    bool waylandPart = false;

    // X11 with the X11 part: the window reads X11 events and asks the X server itself.
    bool withX11() const { return kind == X11 && x11Part; }
    // Wayland with the Wayland part: the window asks the compositor itself.
    bool withWayland() const { return kind == Wayland && waylandPart; }

    // For a Qt platform plugin's name ("xcb", "wayland", "wayland-egl", ...).
    static Platform named(const QString &platformName);
    // The application's, decided once the application object exists.
    static const Platform &current();
};
