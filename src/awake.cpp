// awake.cpp: the session asked to stay awake, through X11, Wayland and the session bus.
#include "awake.h"

#include "platform.h"
#include "words.h"
#include "x11.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QWindow>

namespace {

const QString screenSaverService = QStringLiteral("org.freedesktop.ScreenSaver");

QDBusMessage screenSaverCall(const QString &method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        screenSaverService, QStringLiteral("/org/freedesktop/ScreenSaver"), screenSaverService,
        method);
    // A service that is not running is not started for this.
    call.setAutoStartService(false);
    return call;
}

} // namespace

bool sessionHasBus()
{
    static const bool hasBus = [] {
        if (qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
            return true;
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        return !runtime.isEmpty() && QFileInfo(runtime + QStringLiteral("/bus")).exists();
    }();
    return hasBus;
}

StayAwake::StayAwake(QWindow *window)
    : m_window(window)
{
    // Idle watchers read the server's idle time, which the suspend leaves running; GNOME's
    // shortest idle delay is a minute.
    m_idleReset.setInterval(30000);
    connect(&m_idleReset, &QTimer::timeout, this, [] { x11::resetIdleTime(); });
}

StayAwake::~StayAwake()
{
    setWatched(false);
}

void StayAwake::setWatched(bool watched)
{
    if (watched == m_watched)
        return;
    m_watched = watched;
    const Platform &platform = Platform::current();
    if (platform.withX11()) {
        x11::suspendScreenSaver(watched);
        if (watched) {
            x11::resetIdleTime();
            m_idleReset.start();
        } else {
            m_idleReset.stop();
        }
    }
    if (platform.withWayland()) {
        if (watched)
            m_idleInhibitor.inhibit(m_window);
        else
            m_idleInhibitor.release();
    }
    if (sessionHasBus())
        askSessionBus();
}

// Brings the session bus's inhibition in line with m_watched, one question at a time.
void StayAwake::askSessionBus()
{
    if (m_asking)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    if (!m_watched && m_cookie) {
        QDBusMessage release = screenSaverCall(QStringLiteral("UnInhibit"));
        release << *m_cookie;
        bus.send(release);
        m_cookie.reset();
        return;
    }
    if (!m_watched || m_cookie)
        return;
    QDBusMessage inhibit = screenSaverCall(QStringLiteral("Inhibit"));
    // What the service shows the user, and the services refuse an inhibition without either
    // (XScreenSaver does); the program's own name, as its lines give it, is never empty.
    inhibit << programName() << QStringLiteral("Showing the demo");
    m_asking = true;
    auto *answer = new QDBusPendingCallWatcher(bus.asyncCall(inhibit), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher *finished) {
                const QDBusPendingReply<uint> reply = *finished;
                finished->deleteLater();
                m_asking = false;
                // Without the service there is nothing to ask; a desktop without one says nothing.
                if (reply.isError())
                    return;
                m_cookie = reply.value();
                askSessionBus();
            });
}
