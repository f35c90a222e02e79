// desktopwindow.cpp: the window's start, place, full-screen requests, focus, cover and ending.
#include "desktopwindow.h"

#include "wayland.h"
#include "x11.h"

#include <QCoreApplication>
#include <QExposeEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QOpenGLContext>
#include <QPixmap>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>

namespace {

bool canDrawWith(const QOpenGLContext *context, const QSurfaceFormat &wanted)
{
    return context && context->isValid() && context->format().version() >= wanted.version();
}

// Empty when the context can draw what was asked for; else why not.
QString openGLRefusal(const QOpenGLContext *context, const QSurfaceFormat &wanted)
{
    if (canDrawWith(context, wanted))
        return {};
    QString needed
        = QStringLiteral("OpenGL %1.%2").arg(wanted.majorVersion()).arg(wanted.minorVersion());
    if (wanted.profile() == QSurfaceFormat::CoreProfile)
        needed += QStringLiteral(" core profile");
    if (!context || !context->isValid())
        return QStringLiteral("could not create an %1 context").arg(needed);
    const QSurfaceFormat obtained = context->format();
    return QStringLiteral("needs %1, but the driver offers only OpenGL %2.%3")
        .arg(needed)
        .arg(obtained.majorVersion())
        .arg(obtained.minorVersion());
}

} // namespace

DesktopWindow::DesktopWindow()
    : QOpenGLWindow(QOpenGLWindow::NoPartialUpdate)
    , m_coverWatch([this](bool covered) { setCovered(covered); })
    , m_stayAwake(this)
{
    // Desktop quirk (several Wayland compositors): Qt's blank cursor, set only for the
    // application, left the pointer showing; an image set on the window hides it there, and on
    // X11 as well. Pinned by the picture group's pointer cases.
    setCursor(blankCursor());
    // Desktop quirk (cage): a kiosk compositor maximises instead of going full screen, and Qt's
    // Wayland plugin then drew a title bar and border of its own over the picture. Not pinned:
    // with the hint taken out, e2e_picture_cage still passed on Qt 5 (2026-12-08).
    setFlags(flags() | Qt::FramelessWindowHint);
}

QCursor DesktopWindow::blankCursor()
{
    QPixmap transparent(16, 16);
    transparent.fill(Qt::transparent);
    return QCursor(transparent);
}

bool DesktopWindow::contextCanDraw() const
{
    return canDrawWith(context(), requestedFormat());
}

QString DesktopWindow::start()
{
    if (QGuiApplication::overrideCursor())
        QGuiApplication::changeOverrideCursor(blankCursor());
    else
        QGuiApplication::setOverrideCursor(blankCursor());
    const QString refusal = checkBeforeShowing();
    if (!refusal.isEmpty())
        return refusal;
    beforeShowing();
    showOnWholeScreen();
    return {};
}

// Before anything is shown: why the window cannot draw, or empty. Where the platform allows
// (X11) the window's own context is created for this, and with it the subclass's GPU objects;
// elsewhere a probe context.
QString DesktopWindow::checkBeforeShowing()
{
    if (const QOpenGLContext *own = createContextBeforeShowing())
        return openGLRefusal(own, requestedFormat());
    QOpenGLContext probe;
    probe.setFormat(requestedFormat());
    probe.create();
    return openGLRefusal(&probe, requestedFormat());
}

// Where the platform can make a context current on a window not yet shown (X11), creates the
// window's GL context, and through initializeGL its GPU objects, and returns it; it may be
// invalid. Elsewhere returns null.
QOpenGLContext *DesktopWindow::createContextBeforeShowing()
{
    // Wayland, for one, has no surface to make a context current on before the window is shown.
    if (Platform::current().kind != Platform::X11)
        return nullptr;
    // At the size it will be shown at: the driver sizes the window's buffers when the context is
    // first made current, and after a resize it can draw a few frames at the old size.
    takePlace();
    create();
    // The base class creates its context, makes it current and calls initializeGL on the first
    // resize; this one comes before the window is shown.
    QResizeEvent resize(size(), size());
    QOpenGLWindow::resizeEvent(&resize);
    return context();
}

// Shows the window in full-screen state, at its output's size from the first frame.
void DesktopWindow::showOnWholeScreen()
{
    // Desktop quirk (Wayland compositors): a compositor may keep the size of the first frame it
    // sees. Pinned by the firstFrameCoversTheScreen cases.
    takePlace();
    // Desktop quirk (sway with several outputs): Qt's request names Qt's first output, and the
    // compositor moved the window there; without an output it keeps the one it chose, the one in
    // use. Pinned by e2e_picture_sway_two-outputs.
    const bool compositorChooses = Platform::current().kind == Platform::Wayland;
    if (!compositorChooses) {
        setWindowStates(Qt::WindowFullScreen);
        // Before the window is mapped, where a compositing manager decides how to show it.
        updateCompositorBypass();
    }
    setVisible(true);
    if (Platform::current().kind == Platform::X11)
        m_coverWatch.watch(winId());
    if (compositorChooses && !wayland::requestFullScreenOnChosenOutput(this)) {
        // Desktop quirk (Qt 5 on sway with several outputs): Qt 5 hands out no toplevel to ask
        // with, and its request names the window's screen. With one output that is the right one;
        // with several, the window opens as a plain one and asks once the compositor has told Qt
        // where it put it. On another output than Qt's first, Qt reports the change; on that one
        // nothing comes, and the window asks once it has been shown a while: sway told of the
        // output only with the fourth frame, 0.4 s after the first on a loaded machine. Pinned by
        // e2e_picture_sway_two-outputs and e2e_picture_sway_two-outputs-user-on-first.
        if (QGuiApplication::screens().size() > 1) {
            m_fullScreenOnceShown = true;
            connect(this, &QWindow::screenChanged, this,
                    &DesktopWindow::requestFullScreenOnceShown);
            connect(this, &QOpenGLWindow::frameSwapped, this, &DesktopWindow::countFrameShown);
        } else {
            setWindowStates(Qt::WindowFullScreen);
        }
    }
    requestActivation();
}

// The size, and on X11 the place, the window opens at: the primary monitor where the user has set
// one, else wherever the desktop puts a new window, at the size of the monitor it most likely
// chooses (the pointer's), or of the window's screen.
void DesktopWindow::takePlace()
{
    const x11::Placement place = x11::placement();
    // A screen's top-left corner keeps its coordinates at any device-pixel ratio.
    QScreen *target
        = place.monitor.isEmpty() ? nullptr : QGuiApplication::screenAt(place.monitor.topLeft());
    if (!target) {
        resize(screen()->size());
        return;
    }
    const QSize size = place.monitor.size() / target->devicePixelRatio();
    if (place.primary) {
        setScreen(target);
        setGeometry(QRect(place.monitor.topLeft(), size));
    } else {
        resize(size);
    }
}

void DesktopWindow::requestFullScreen()
{
    if (!wayland::requestFullScreenOnChosenOutput(this))
        setWindowStates(windowStates() | Qt::WindowFullScreen);
}

void DesktopWindow::countFrameShown()
{
    if (!m_shownFor.isValid())
        m_shownFor.start();
    if (++m_framesShown >= 10 && m_shownFor.elapsed() >= 1500)
        requestFullScreenOnceShown();
}

void DesktopWindow::requestFullScreenOnceShown()
{
    if (!m_fullScreenOnceShown || m_ending)
        return;
    m_fullScreenOnceShown = false;
    disconnect(this, &QOpenGLWindow::frameSwapped, this, &DesktopWindow::countFrameShown);
    setWindowStates(windowStates() | Qt::WindowFullScreen);
}

void DesktopWindow::requestActivation()
{
    if (m_ending)
        return;
    // Quirk (Qt 5 on Wayland): its plugin cannot activate windows and says so on every request;
    // there the compositor activates a new window by itself. Pinned by the Wayland desktops'
    // escapeQuits, which find the output empty.
    if (QT_VERSION_MAJOR == 5 && Platform::current().kind == Platform::Wayland)
        return;
    requestActivate();
}

void DesktopWindow::setCovered(bool covered)
{
    const bool seenAgain = m_covered && !covered;
    m_covered = covered;
    updateWatched();
    // The picture is a function of the clock: the next frame shows the present moment.
    if (seenAgain)
        update();
}

bool DesktopWindow::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::Close:
        end();
        break;
    case QEvent::WindowStateChange:
        handleStateChange(static_cast<const QWindowStateChangeEvent *>(event));
        break;
    case QEvent::FocusIn:
        handleFocusIn();
        break;
    // Every frame starts from one of these.
    case QEvent::UpdateRequest:
    case QEvent::Paint:
    case QEvent::Expose:
        if (!mayStartFrame(event->type()))
            return true;
        break;
    default:
        break;
    }
    return QOpenGLWindow::event(event);
}

// From now on no frame is drawn, and the session may sleep again.
void DesktopWindow::end()
{
    m_ending = true;
    updateWatched();
}

// Someone may be watching while the window is shown, not minimised, not covered whole, not on
// another workspace (X11 unmaps it there, as when minimised) and its run is not ending. A Wayland
// compositor applies its idle inhibition only while the surface is visible, and tells nothing.
void DesktopWindow::updateWatched()
{
    m_stayAwake.setWatched(isExposed() && !m_covered && !m_ending
                           && !(windowStates() & Qt::WindowMinimized));
}

void DesktopWindow::exposeEvent(QExposeEvent *event)
{
    QOpenGLWindow::exposeEvent(event);
    updateWatched();
}

// Only while full screen, as a window the desktop took out of full screen is one among others:
// then the compositing manager copies its frames again.
void DesktopWindow::updateCompositorBypass()
{
    const bool bypass = (windowStates() & Qt::WindowFullScreen) && !m_ending;
    if (bypass == m_bypassingCompositor || !Platform::current().withX11() || !handle())
        return;
    m_bypassingCompositor = bypass;
    x11::bypassCompositor(winId(), bypass);
}

// Desktop quirk (sway): a desktop may take the full-screen state away, as sway does when another
// window goes full screen; the window covers its output again once it is the active window.
// Pinned by tst_desktopwindow's fullScreenAgainWhenTheFocusComesBack.
void DesktopWindow::handleStateChange(const QWindowStateChangeEvent *event)
{
    if (!(windowStates() & Qt::WindowFullScreen) && (event->oldState() & Qt::WindowFullScreen))
        m_fullScreenTaken = true;
    updateCompositorBypass();
    updateWatched();
}

void DesktopWindow::handleFocusIn()
{
    if (m_fullScreenTaken && !m_ending) {
        m_fullScreenTaken = false;
        requestFullScreen();
    }
}

// Quirk (Qt 6): it closes the window as the application quits, and an expose in the same pass
// would then draw with a context whose surface is gone: no frame starts once the run is ending.
// Pinned by tst_desktopwindow's noFrameOnceEnding.
bool DesktopWindow::mayStartFrame(QEvent::Type type)
{
    // Qt keeps a covered window exposed, and it would draw frames nobody sees; without a
    // compositing manager X says when it is covered. Elsewhere the compositor stops sending
    // frame callbacks, and Qt stops drawing.
    if (type == QEvent::UpdateRequest && m_covered)
        return false;
    // Without a native window, winId() would make a new one.
    if (m_ending || !handle())
        return false;
    if (!nativeWindowExists()) {
        endOnDestroyedWindow();
        return false;
    }
    return true;
}

// Quirk (Mesa llvmpipe): its software rasteriser asks the X server for the window's size at the
// first draw of every frame and ignores the error when the window is gone, so it goes on with a
// size it never set, and corrupts the heap. Another program may destroy the window at any moment,
// with its DestroyNotify still on its way, so each frame asks the server first: one more round
// trip a frame, beside the rasteriser's own. Pinned by tst_desktopwindow's
// noFrameOnAWindowDestroyedFromOutside.
bool DesktopWindow::nativeWindowExists()
{
    return !Platform::current().withX11() || x11::windowExists(winId());
}

// As after the desktop's close: the window, of which only Qt's side is left, goes, and with it the
// last window, which ends the run. Closing from inside the delivery of the event that told of the
// loss would close it under Qt 6's feet (it crashed), so that comes next.
void DesktopWindow::endOnDestroyedWindow()
{
    if (m_ending)
        return;
    end();
    QMetaObject::invokeMethod(this, &QWindow::close, Qt::QueuedConnection);
}

void DesktopWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        end();
        QCoreApplication::quit();
    }
}

bool DesktopWindow::nativeEvent(const QByteArray &eventType, void *message,
                                NativeEventResult *result)
{
    switch (x11::windowEvent(eventType, message, winId())) {
    case x11::WindowEvent::Destroyed:
        endOnDestroyedWindow();
        return true;
    case x11::WindowEvent::Managed:
        handleWindowManaged();
        break;
    case x11::WindowEvent::ServerTime:
        handleServerTime(message);
        break;
    case x11::WindowEvent::Other:
        break;
    }
    return QOpenGLWindow::nativeEvent(eventType, message, result);
}

// Desktop quirk (Mutter on X11): a window manager that starts after the window moves the focus to
// a window of its own just after taking this one in, and a request for the focus stamped with an
// older time loses to it. So the window asks with the server's present time, and again once the
// window manager's start-up is over (Mutter's took 20 ms here). Pinned by
// e2e_input_late_mutter.
void DesktopWindow::handleWindowManaged()
{
    x11::askForServerTime(winId());
    QTimer::singleShot(500, this, [this] {
        if (!m_ending)
            x11::askForServerTime(winId());
    });
}

void DesktopWindow::handleServerTime(const void *message)
{
    if (!m_ending)
        x11::activate(winId(), x11::eventTime(message));
}
