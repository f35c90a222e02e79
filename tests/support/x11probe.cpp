// x11probe.cpp: Xlib, XFixes and DAMAGE behind a Qt-friendly interface.
#include "x11probe.h"

#include <QElapsedTimer>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/scrnsaver.h>

#include <poll.h>

namespace {

// Reads a whole window property of 32-bit items; Xlib hands them out as longs.
QVector<unsigned long> longProperty(Display *display, Window window, const char *name, Atom type)
{
    QVector<unsigned long> values;
    Atom actualType = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 4096, False, type,
                           &actualType, &format, &count, &remaining, &data)
            == Success
        && data && format == 32) {
        const auto *items = reinterpret_cast<const unsigned long *>(data);
        values = QVector<unsigned long>(items, items + count);
    }
    if (data)
        XFree(data);
    return values;
}

bool ownedBy(Display *display, Window window, qint64 pid)
{
    const QVector<unsigned long> owner = longProperty(display, window, "_NET_WM_PID", XA_CARDINAL);
    return !owner.isEmpty() && qint64(owner.first()) == pid;
}

// Waits up to a few milliseconds for the server to send something.
void waitForInput(Display *display)
{
    pollfd fd = {ConnectionNumber(display), POLLIN, 0};
    poll(&fd, 1, 5);
}

// Windows, and the damage objects on them, vanish whenever a demo exits; Xlib's
// default handler would end the whole test on the resulting errors.
int ignoreError(Display *, XErrorEvent *)
{
    return 0;
}

} // namespace

X11Probe::X11Probe(const QByteArray &name)
    : m_display(XOpenDisplay(name.isEmpty() ? nullptr : name.constData()))
{
    XSetErrorHandler(ignoreError);
}

X11Probe::~X11Probe()
{
    if (m_display && m_damage)
        XDamageDestroy(m_display, m_damage);
    if (m_display && m_timingDamage)
        XDamageDestroy(m_display, m_timingDamage);
    for (unsigned long damage : m_watched)
        XDamageDestroy(m_display, damage);
    if (m_display)
        XCloseDisplay(m_display);
}

QSize X11Probe::screenSize() const
{
    XWindowAttributes attributes;
    XGetWindowAttributes(m_display, DefaultRootWindow(m_display), &attributes);
    return QSize(attributes.width, attributes.height);
}

QImage X11Probe::grab(QRect area) const
{
    const QRect screen(QPoint(0, 0), screenSize());
    area = area.isNull() ? screen : area.intersected(screen);
    XImage *image = XGetImage(m_display, DefaultRootWindow(m_display), area.x(), area.y(),
                              unsigned(area.width()), unsigned(area.height()), AllPlanes, ZPixmap);
    if (!image)
        return {};
    QImage result(area.size(), QImage::Format_RGB32);
    for (int y = 0; y < area.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(result.scanLine(y));
        for (int x = 0; x < area.width(); ++x)
            line[x] = QRgb(XGetPixel(image, x, y)) | 0xff000000u;
    }
    XDestroyImage(image);
    return result;
}

int X11Probe::visiblePointerPixels() const
{
    XFixesCursorImage *cursor = XFixesGetCursorImage(m_display);
    if (!cursor)
        return -1;
    int visible = 0;
    for (int i = 0; i < cursor->width * cursor->height; ++i)
        visible += (cursor->pixels[i] >> 24 & 0xff) != 0;
    XFree(cursor);
    return visible;
}

void X11Probe::setResources(const QByteArray &resources)
{
    const Window root = DefaultRootWindow(m_display);
    if (resources.isEmpty())
        XDeleteProperty(m_display, root, XA_RESOURCE_MANAGER);
    else
        XChangeProperty(m_display, root, XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(resources.constData()),
                        resources.size());
    XSync(m_display, False);
}

QVector<unsigned long> X11Probe::windowsOf(qint64 pid) const
{
    const Window root = rootWindow();
    QVector<unsigned long> candidates
        = longProperty(m_display, root, "_NET_CLIENT_LIST", XA_WINDOW);
    if (!XGetSelectionOwner(m_display, XInternAtom(m_display, "WM_S0", False))) {
        Window rootReturn = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(m_display, root, &rootReturn, &parent, &children, &count) && children) {
            for (unsigned int i = 0; i < count; ++i) {
                XWindowAttributes attributes;
                if (XGetWindowAttributes(m_display, children[i], &attributes)
                    && attributes.map_state == IsViewable)
                    candidates << children[i];
            }
            XFree(children);
        }
    }
    QVector<unsigned long> found;
    for (unsigned long window : candidates) {
        if (ownedBy(m_display, window, pid))
            found << window;
    }
    return found;
}

unsigned long X11Probe::activeWindow() const
{
    const QVector<unsigned long> active
        = longProperty(m_display, rootWindow(), "_NET_ACTIVE_WINDOW", XA_WINDOW);
    return active.isEmpty() ? 0 : active.first();
}

QVector<unsigned long> X11Probe::cardinals(unsigned long window, const char *property) const
{
    return longProperty(m_display, window, property, XA_CARDINAL);
}

void X11Probe::setCardinals(unsigned long window, const char *property,
                            const QVector<unsigned long> &values)
{
    const Atom atom = XInternAtom(m_display, property, False);
    if (values.isEmpty())
        XDeleteProperty(m_display, window, atom);
    else
        XChangeProperty(m_display, window, atom, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char *>(values.constData()), values.size());
    XSync(m_display, False);
}

bool X11Probe::compositing() const
{
    return XGetSelectionOwner(m_display, XInternAtom(m_display, "_NET_WM_CM_S0", False)) != None;
}

bool X11Probe::screenSaverOn() const
{
    XScreenSaverInfo info {};
    return XScreenSaverQueryInfo(m_display, DefaultRootWindow(m_display), &info)
        && info.state == ScreenSaverOn;
}

qint64 X11Probe::idleMs() const
{
    XScreenSaverInfo info {};
    if (!XScreenSaverQueryInfo(m_display, DefaultRootWindow(m_display), &info))
        return -1;
    return qint64(info.idle);
}

unsigned long X11Probe::rootWindow() const
{
    return DefaultRootWindow(m_display);
}

QRect X11Probe::geometry(unsigned long window) const
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(m_display, window, &attributes))
        return {};
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), 0, 0, &x, &y, &child);
    return QRect(x, y, attributes.width, attributes.height);
}

unsigned long X11Probe::cover(QRect area)
{
    XSetWindowAttributes attributes;
    attributes.override_redirect = True;
    attributes.background_pixel = BlackPixel(m_display, DefaultScreen(m_display));
    attributes.event_mask = ExposureMask;
    const Window window = XCreateWindow(
        m_display, DefaultRootWindow(m_display), area.x(), area.y(), unsigned(area.width()),
        unsigned(area.height()), 0, CopyFromParent, InputOutput, CopyFromParent,
        CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
    XMapRaised(m_display, window);
    // Shown once the server asks it to draw itself.
    XEvent event;
    XWindowEvent(m_display, window, ExposureMask, &event);
    return window;
}

void X11Probe::destroyWindow(unsigned long window)
{
    XDestroyWindow(m_display, window);
    // Gone at the server when this returns, before any request another client sends next.
    XSync(m_display, False);
}

QString X11Probe::title(unsigned long window) const
{
    Atom actualType = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char *data = nullptr;
    QString result;
    if (XGetWindowProperty(m_display, window, XInternAtom(m_display, "_NET_WM_NAME", False), 0,
                           1024, False, XInternAtom(m_display, "UTF8_STRING", False), &actualType,
                           &format, &count, &remaining, &data)
            == Success
        && data)
        result = QString::fromUtf8(reinterpret_cast<const char *>(data), int(count));
    if (data)
        XFree(data);
    return result;
}

// Replaces a damage object on the window by one that reports at the given level.
void X11Probe::watchDamage(unsigned long window, int level, unsigned long &damage)
{
    int error = 0;
    if (!XDamageQueryExtension(m_display, &m_damageEvent, &error))
        return;
    if (damage)
        XDamageDestroy(m_display, damage);
    damage = XDamageCreate(m_display, window, level);
    XSync(m_display, False);
}

void X11Probe::countFrames(unsigned long window)
{
    m_frames = 0;
    watchDamage(window, XDamageReportNonEmpty, m_damage);
}

// Every presented frame makes the counted window's damage non-empty once; subtracting it
// re-arms the report for the next one.
void X11Probe::handle(const XEvent &event)
{
    if (event.type != m_damageEvent + XDamageNotify)
        return;
    const auto *damage = reinterpret_cast<const XDamageNotifyEvent *>(&event);
    if (damage->damage == m_timingDamage) {
        m_lastDrawn = qint64(damage->timestamp);
        m_lastDrawnSize = QSize(damage->area.width, damage->area.height);
    } else if (damage->damage == m_damage) {
        ++m_frames;
        XDamageSubtract(m_display, m_damage, 0, 0);
    }
}

int X11Probe::framesCounted()
{
    while (XPending(m_display)) {
        XEvent event;
        XNextEvent(m_display, &event);
        handle(event);
    }
    XFlush(m_display);
    return m_frames;
}

// A report that is not handled in time is not re-armed, and frames drawn meanwhile go uncounted,
// so this waits on the connection rather than sleeping.
bool X11Probe::waitForFrames(int more, int timeoutMs)
{
    const qint64 target = qint64(framesCounted()) + more;
    QElapsedTimer timer;
    timer.start();
    while (framesCounted() < target && timer.elapsed() < timeoutMs)
        waitForInput(m_display);
    return framesCounted() >= target;
}

void X11Probe::timeFrames(unsigned long window)
{
    m_lastDrawn = -1;
    // Raw rectangles need no re-arming, so no drawing goes unreported.
    watchDamage(window, XDamageReportRawRectangles, m_timingDamage);
}

// The frame on screen when the server handled the GetImage request is the last one drawn
// before it: the last report whose serial, the last request of ours the server had handled,
// precedes the GetImage's. Those reports are all queued once its reply has arrived.
QImage X11Probe::grabTimed(qint64 *presentedAt)
{
    framesCounted();
    const unsigned long grabSerial = NextRequest(m_display);
    const QImage image = grab();
    while (XEventsQueued(m_display, QueuedAlready)) {
        XEvent event;
        XPeekEvent(m_display, &event);
        if (event.xany.serial >= grabSerial)
            break;
        XNextEvent(m_display, &event);
        handle(event);
    }
    *presentedAt = m_lastDrawn;
    return image;
}

bool X11Probe::waitForWholeFrame(QSize size, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    m_lastDrawnSize = QSize();
    while (timer.elapsed() < timeoutMs) {
        framesCounted();
        if (m_lastDrawnSize == size)
            return true;
        waitForInput(m_display);
    }
    return false;
}

void X11Probe::watchNewWindows()
{
    XSelectInput(m_display, DefaultRootWindow(m_display), SubstructureNotifyMask);
    int error = 0;
    XDamageQueryExtension(m_display, &m_damageEvent, &error);
    XSync(m_display, False);
}

// A window is watched from its creation, before it can draw; the first damage on a
// window that carries the process's id is its first presented frame. Windows of
// other clients (the window manager's frames) are watched too but never match.
unsigned long X11Probe::waitForFirstFrameOf(qint64 pid, int timeoutMs, QRect *drawn)
{
    QElapsedTimer timer;
    timer.start();
    unsigned long found = 0;
    while (!found && timer.elapsed() < timeoutMs) {
        if (!XPending(m_display)) {
            waitForInput(m_display);
            continue;
        }
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == CreateNotify) {
            m_watched << XDamageCreate(m_display, event.xcreatewindow.window,
                                       XDamageReportNonEmpty);
        } else if (event.type == m_damageEvent + XDamageNotify) {
            const auto *damage = reinterpret_cast<const XDamageNotifyEvent *>(&event);
            if (ownedBy(m_display, damage->drawable, pid))
                found = damage->drawable;
            if (found && drawn)
                *drawn = QRect(damage->area.x, damage->area.y, damage->area.width,
                               damage->area.height);
        }
    }
    for (unsigned long damage : m_watched)
        XDamageDestroy(m_display, damage);
    m_watched.clear();
    XSelectInput(m_display, DefaultRootWindow(m_display), NoEventMask);
    XSync(m_display, False);
    return found;
}
