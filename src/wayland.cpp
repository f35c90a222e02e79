// wayland.cpp: requests on the window's xdg-shell toplevel and surface that Qt does not make.
#include "wayland.h"

#include "platform.h"

#include "idle-inhibit-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <QGuiApplication>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <cstring>

namespace wayland {

namespace {

void *nativeResource(const char *name, QWindow *window)
{
    if (Platform::current().kind != Platform::Wayland)
        return nullptr;
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    if (!native)
        return nullptr;
    return window ? native->nativeResourceForWindow(name, window)
                  : native->nativeResourceForIntegration(name);
}

wl_display *display()
{
    return static_cast<wl_display *>(nativeResource("wl_display", nullptr));
}

void takeGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    if (!std::strcmp(interface, zwp_idle_inhibit_manager_v1_interface.name))
        *static_cast<zwp_idle_inhibit_manager_v1 **>(data)
            = static_cast<zwp_idle_inhibit_manager_v1 *>(
                wl_registry_bind(registry, name, &zwp_idle_inhibit_manager_v1_interface, 1));
}

void dropGlobal(void *, wl_registry *, uint32_t) { }

// The compositor's idle-inhibit manager, looked up once; null where it offers none. The look-up
// runs on a queue of its own, so that it dispatches nothing of Qt's.
zwp_idle_inhibit_manager_v1 *idleInhibitManager()
{
    static zwp_idle_inhibit_manager_v1 *const manager = []() -> zwp_idle_inhibit_manager_v1 * {
        wl_display *connection = display();
        if (!connection)
            return nullptr;
        wl_event_queue *queue = wl_display_create_queue(connection);
        auto *wrapper = static_cast<wl_display *>(wl_proxy_create_wrapper(connection));
        wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(wrapper), queue);
        wl_registry *registry = wl_display_get_registry(wrapper);
        static const wl_registry_listener listener {takeGlobal, dropGlobal};
        zwp_idle_inhibit_manager_v1 *found = nullptr;
        wl_registry_add_listener(registry, &listener, &found);
        wl_display_roundtrip_queue(connection, queue);
        // Neither the manager nor its inhibitors have events; on the default queue they outlive
        // this one.
        if (found)
            wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(found), nullptr);
        wl_registry_destroy(registry);
        wl_proxy_wrapper_destroy(wrapper);
        wl_event_queue_destroy(queue);
        return found;
    }();
    return manager;
}

} // namespace

bool requestFullScreenOnChosenOutput(QWindow *window)
{
    auto *toplevel = static_cast<xdg_toplevel *>(nativeResource("xdg_toplevel", window));
    if (!toplevel)
        return false;
    // Without an output the compositor chooses one, as it does for any new window.
    xdg_toplevel_set_fullscreen(toplevel, nullptr);
    return true;
}

void IdleInhibitor::inhibit(QWindow *window)
{
    if (m_inhibitor)
        return;
    auto *surface = static_cast<wl_surface *>(nativeResource("surface", window));
    zwp_idle_inhibit_manager_v1 *manager = surface ? idleInhibitManager() : nullptr;
    if (!manager)
        return;
    m_inhibitor = zwp_idle_inhibit_manager_v1_create_inhibitor(manager, surface);
    wl_display_flush(display());
}

void IdleInhibitor::release()
{
    if (!m_inhibitor)
        return;
    zwp_idle_inhibitor_v1_destroy(m_inhibitor);
    m_inhibitor = nullptr;
    wl_display_flush(display());
}

} // namespace wayland
