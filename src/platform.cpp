// platform.cpp: the platform is decided here, from Qt's plugin name, once.
#include "platform.h"

#include <QGuiApplication>

Platform Platform::named(const QString &platformName)
{
    Platform platform;
    if (platformName == QLatin1String("xcb"))
        platform.kind = X11;
    // Qt's Wayland plugins are "wayland" and its variants for other buffer integrations.
    else if (platformName.startsWith(QLatin1String("wayland")))
        platform.kind = Wayland;
#ifdef SCROLLDEMO_X11
    platform.x11Part = true;
#endif
#ifdef SCROLLDEMO_WAYLAND
    platform.waylandPart = true;
#endif
    return platform;
}

const Platform &Platform::current()
{
    // Asked before Qt has chosen its plugin, nothing is known yet, and nothing is kept.
    if (!qGuiApp) {
        static const Platform undecided = named(QString());
        return undecided;
    }
    static const Platform platform = named(QGuiApplication::platformName());
    return platform;
}
