// x11.cpp: what Qt's X11 events say of the window's destruction, its window manager and the time.
#include "x11.h"

#include <QCoreApplication>
#include <QGuiApplication>
#if QT_VERSION >= QT_VERSION_CHECK(6, 2, 0)
#include <QtGui/qguiapplication_platform.h>
#else
#include <QX11Info>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <xcb/randr.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>

namespace x11 {

namespace {

xcb_connection_t *connection()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 2, 0)
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
#else
    return QX11Info::isPlatformX11() ? QX11Info::connection() : nullptr;
#endif
}

xcb_atom_t internAtom(xcb_connection_t *c, const char *name)
{
    xcb_atom_t atom = XCB_ATOM_NONE;
    xcb_intern_atom_reply_t *reply
        = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    if (reply)
        atom = reply->atom;
    std::free(reply);
    return atom;
}

// WM_STATE: the property every ICCCM window manager sets on the windows it manages.
xcb_atom_t wmStateAtom(xcb_connection_t *c)
{
    static const xcb_atom_t atom = internAtom(c, "WM_STATE");
    return atom;
}

// A property nobody else reads, changed only to learn the server's time.
xcb_atom_t serverTimeAtom(xcb_connection_t *c)
{
    static const xcb_atom_t atom = internAtom(c, "_SCROLLDEMO_SERVER_TIME");
    return atom;
}

// ICCCM's NormalState, as opposed to iconified (minimised) or withdrawn.
bool inNormalState(xcb_connection_t *c, xcb_window_t window, xcb_atom_t wmState)
{
    const uint32_t normalState = 1;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, wmState, wmState, 0, 1), nullptr);
    const bool normal = reply && xcb_get_property_value_length(reply) >= 4
        && *static_cast<const uint32_t *>(xcb_get_property_value(reply)) == normalState;
    std::free(reply);
    return normal;
}

} // namespace

WindowEvent windowEvent(const QByteArray &eventType, const void *message, WId window)
{
    if (eventType != "xcb_generic_event_t")
        return WindowEvent::Other;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    switch (event->response_type & ~0x80) {
    case XCB_DESTROY_NOTIFY:
        if (static_cast<const xcb_destroy_notify_event_t *>(message)->window == window)
            return WindowEvent::Destroyed;
        break;
    case XCB_PROPERTY_NOTIFY: {
        const auto *notify = static_cast<const xcb_property_notify_event_t *>(message);
        xcb_connection_t *c = connection();
        if (!c || notify->window != window || notify->state != XCB_PROPERTY_NEW_VALUE)
            break;
        if (notify->atom == serverTimeAtom(c))
            return WindowEvent::ServerTime;
        if (notify->atom == wmStateAtom(c) && inNormalState(c, window, notify->atom))
            return WindowEvent::Managed;
        break;
    }
    default:
        break;
    }
    return WindowEvent::Other;
}

quint32 eventTime(const void *message)
{
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & ~0x80) != XCB_PROPERTY_NOTIFY)
        return XCB_CURRENT_TIME;
    return static_cast<const xcb_property_notify_event_t *>(message)->time;
}

bool windowExists(WId window)
{
    xcb_connection_t *c = connection();
    if (!c)
        return true;
    // Without a place for the error, xcb drops it instead of handing it to Qt, which would print
    // it.
    xcb_get_geometry_reply_t *geometry
        = xcb_get_geometry_reply(c, xcb_get_geometry(c, xcb_drawable_t(window)), nullptr);
    const bool exists = geometry != nullptr;
    std::free(geometry);
    return exists;
}

Placement placement()
{
    xcb_connection_t *c = connection();
    if (!c)
        return {};
    // A request of an extension the server lacks would close the connection.
    const xcb_query_extension_reply_t *randr = xcb_get_extension_data(c, &xcb_randr_id);
    if (!randr || !randr->present)
        return {};
    // Monitors, as the user arranges them (RandR 1.5), rather than outputs: one output may show
    // several monitors, and several outputs one.
    xcb_randr_query_version_reply_t *version = xcb_randr_query_version_reply(
        c, xcb_randr_query_version(c, XCB_RANDR_MAJOR_VERSION, XCB_RANDR_MINOR_VERSION), nullptr);
    const bool hasMonitors = version
        && (version->major_version > 1
            || (version->major_version == 1 && version->minor_version >= 5));
    std::free(version);
    if (!hasMonitors)
        return {};

    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_query_pointer_reply_t *pointer
        = xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr);
    const QPoint at = pointer ? QPoint(pointer->root_x, pointer->root_y) : QPoint();
    std::free(pointer);

    Placement result;
    xcb_randr_get_monitors_reply_t *reply
        = xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, root, 1), nullptr);
    if (reply) {
        for (auto it = xcb_randr_get_monitors_monitors_iterator(reply); it.rem;
             xcb_randr_monitor_info_next(&it)) {
            const QRect area(it.data->x, it.data->y, it.data->width, it.data->height);
            if (it.data->primary) {
                result = {area, true};
                break;
            }
            if (area.contains(at))
                result.monitor = area;
        }
    }
    std::free(reply);
    return result;
}

void askForServerTime(WId window)
{
    xcb_connection_t *c = connection();
    if (!c)
        return;
    // Appending nothing changes nothing but still reports a change, with its time (ICCCM 2.1).
    // Another client may have destroyed the window a moment ago; the request is checked and its
    // error dropped, or Qt would print it.
    const xcb_void_cookie_t cookie
        = xcb_change_property_checked(c, XCB_PROP_MODE_APPEND, xcb_window_t(window),
                                      serverTimeAtom(c), XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_discard_reply(c, cookie.sequence);
    xcb_flush(c);
}

CoverWatch::~CoverWatch()
{
    if (m_window && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

void CoverWatch::watch(WId window)
{
    xcb_connection_t *c = connection();
    if (!c || m_window)
        return;
    // Qt's own events stay selected beside the new one.
    xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
        c, xcb_get_window_attributes(c, xcb_window_t(window)), nullptr);
    if (!attributes)
        return;
    const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_VISIBILITY_CHANGE;
    std::free(attributes);
    const xcb_void_cookie_t cookie
        = xcb_change_window_attributes_checked(c, xcb_window_t(window), XCB_CW_EVENT_MASK, &mask);
    xcb_discard_reply(c, cookie.sequence);
    xcb_flush(c);
    m_window = window;
    // Qt passes a window only the events it handles itself; this one reaches only the
    // application's filters.
    QCoreApplication::instance()->installNativeEventFilter(this);
}

bool CoverWatch::nativeEventFilter(const QByteArray &eventType, void *message, NativeEventResult *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & ~0x80) != XCB_VISIBILITY_NOTIFY)
        return false;
    const auto *notify = static_cast<const xcb_visibility_notify_event_t *>(message);
    if (notify->window == m_window)
        m_changed(notify->state == XCB_VISIBILITY_FULLY_OBSCURED);
    return false;
}

namespace {

// Whether the window manager says it takes activation requests (EWMH's _NET_SUPPORTED).
bool windowManagerActivates(xcb_connection_t *c, xcb_window_t root, xcb_atom_t activeWindow)
{
    const xcb_atom_t supported = internAtom(c, "_NET_SUPPORTED");
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, root, supported, XCB_ATOM_ATOM, 0, 1024), nullptr);
    bool found = false;
    if (reply) {
        const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
        const int count = xcb_get_property_value_length(reply) / int(sizeof(xcb_atom_t));
        found = std::find(atoms, atoms + count, activeWindow) != atoms + count;
    }
    std::free(reply);
    return found;
}

} // namespace

void activate(WId window, quint32 time)
{
    xcb_connection_t *c = connection();
    if (!c)
        return;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_atom_t activeWindow = internAtom(c, "_NET_ACTIVE_WINDOW");
    if (windowManagerActivates(c, root, activeWindow)) {
        xcb_client_message_event_t request {};
        request.response_type = XCB_CLIENT_MESSAGE;
        request.format = 32;
        request.window = xcb_window_t(window);
        request.type = activeWindow;
        request.data.data32[0] = 1; // from an application, not a pager
        request.data.data32[1] = time;
        request.data.data32[2] = XCB_NONE; // the program has no other active window
        xcb_send_event(c, 0, root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&request));
    } else {
        // Checked and dropped, as above: the window may be gone already.
        const xcb_void_cookie_t cookie
            = xcb_set_input_focus_checked(c, XCB_INPUT_FOCUS_PARENT, xcb_window_t(window), time);
        xcb_discard_reply(c, cookie.sequence);
    }
    xcb_flush(c);
}

void suspendScreenSaver(bool suspend)
{
    xcb_connection_t *c = connection();
    if (!c)
        return;
    // Suspending came with version 1.1 of the extension; a request the server does not know
    // would close the connection.
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(c, &xcb_screensaver_id);
    if (!extension || !extension->present)
        return;
    static const bool canSuspend = [c] {
        xcb_screensaver_query_version_reply_t *version = xcb_screensaver_query_version_reply(
            c, xcb_screensaver_query_version(c, 1, 1), nullptr);
        const bool result = version
            && (version->server_major_version > 1
                || (version->server_major_version == 1 && version->server_minor_version >= 1));
        std::free(version);
        return result;
    }();
    if (!canSuspend)
        return;
    xcb_screensaver_suspend(c, suspend ? 1 : 0);
    xcb_flush(c);
}

void resetIdleTime()
{
    xcb_connection_t *c = connection();
    if (!c)
        return;
    xcb_force_screen_saver(c, XCB_SCREEN_SAVER_RESET);
    xcb_flush(c);
}

void bypassCompositor(WId window, bool bypass)
{
    xcb_connection_t *c = connection();
    if (!c)
        return;
    static const xcb_atom_t atom = internAtom(c, "_NET_WM_BYPASS_COMPOSITOR");
    // Checked and dropped, as above: the window may be gone already.
    xcb_void_cookie_t cookie;
    if (bypass) {
        const uint32_t bypassRequested = 1;
        cookie = xcb_change_property_checked(c, XCB_PROP_MODE_REPLACE, xcb_window_t(window), atom,
                                             XCB_ATOM_CARDINAL, 32, 1, &bypassRequested);
    } else {
        cookie = xcb_delete_property_checked(c, xcb_window_t(window), atom);
    }
    xcb_discard_reply(c, cookie.sequence);
    xcb_flush(c);
}

} // namespace x11
