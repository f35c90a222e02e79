// wayland.cpp: the full-screen request without an output, on the window's xdg-shell toplevel.
#include "wayland.h"

#include "platform.h"
#include "xdg-shell-client-protocol.h"

#include <QGuiApplication>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

namespace wayland {

bool requestFullScreenOnChosenOutput(QWindow *window)
{
    if (Platform::current().kind != Platform::Wayland)
        return false;
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    auto *toplevel = static_cast<xdg_toplevel *>(
        native ? native->nativeResourceForWindow("xdg_toplevel", window) : nullptr);
    if (!toplevel)
        return false;
    // Without an output the compositor chooses one, as it does for any new window.
    xdg_toplevel_set_fullscreen(toplevel, nullptr);
    return true;
}

} // namespace wayland
