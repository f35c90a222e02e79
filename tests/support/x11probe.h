// x11probe.h: what a person sees on an X display: pixels, pointer image, windows and frames.
#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <QVector>

typedef struct _XDisplay Display;

class X11Probe
{
public:
    // Opens the display named by $DISPLAY, or by name.
    explicit X11Probe(const QByteArray &name = {});
    ~X11Probe();
    X11Probe(const X11Probe &) = delete;
    X11Probe &operator=(const X11Probe &) = delete;

    bool isOpen() const { return m_display != nullptr; }
    QSize screenSize() const;
    // The screen's pixels, or those of an area of it.
    QImage grab(QRect area = {}) const;
    // Pixels of the pointer image that are not fully transparent.
    int visiblePointerPixels() const;
    // The X resources that programs starting from now on read (as xrdb sets them); empty
    // removes them.
    void setResources(const QByteArray &resources);

    // Top-level windows of a process: those the window manager lists, or without one, those
    // mapped on the root window.
    QVector<unsigned long> windowsOf(qint64 pid) const;
    // The window the window manager calls active, or 0.
    unsigned long activeWindow() const;
    unsigned long rootWindow() const;
    // The client area in root coordinates, decorations excluded.
    QRect geometry(unsigned long window) const;
    QString title(unsigned long window) const;

    // A property of 32-bit numbers on the window (a CARDINAL), such as
    // _NET_WM_BYPASS_COMPOSITOR; empty when it is not set.
    QVector<unsigned long> cardinals(unsigned long window, const char *property) const;

    // Sets such a property to the numbers, or removes it when there are none.
    void setCardinals(unsigned long window, const char *property,
                      const QVector<unsigned long> &values);
    // Whether a compositing manager runs (it owns _NET_WM_CM_S0).
    bool compositing() const;

    // The X server's screen saver (blanking or power saving), through its extension: whether it
    // is on now. Its timeout is set with xset s.
    bool screenSaverOn() const;
    // How long the server has gone without input (or a reset of its idle time), in
    // milliseconds, as idle watchers read it; negative without the extension.
    qint64 idleMs() const;

    // A window of the probe's own over an area, above every other: override-redirect, so that no
    // window manager moves it or gives it a frame. Returns it once it is shown, or 0.
    unsigned long cover(QRect area);
    // Any window, the probe's own or another program's, as xdotool windowclose does.
    void destroyWindow(unsigned long window);

    // Counts the window's presented frames through the DAMAGE extension.
    void countFrames(unsigned long window);
    int framesCounted();
    // Waits until the window has presented more frames, or the time is up.
    bool waitForFrames(int more, int timeoutMs = 10000);

    // Screenshots with the X server's time, in milliseconds, at which the frame they show was
    // presented: from timeFrames() on, every drawing to the window is reported with its time.
    void timeFrames(unsigned long window);
    QImage grabTimed(qint64 *presentedAt);
    // After timeFrames(): waits for a frame drawn over the whole of the window's area.
    bool waitForWholeFrame(QSize size, int timeoutMs);

    // Start-up timing: watch every window created from now on, then return once a
    // window of the process presents its first frame, and where it drew it: the window, or 0 when
    // none did in time.
    void watchNewWindows();
    unsigned long waitForFirstFrameOf(qint64 pid, int timeoutMs, QRect *drawn = nullptr);

private:
    void watchDamage(unsigned long window, int level, unsigned long &damage);
    void handle(const union _XEvent &event);

    Display *m_display = nullptr;
    unsigned long m_damage = 0;
    unsigned long m_timingDamage = 0;
    qint64 m_lastDrawn = -1;
    QSize m_lastDrawnSize;
    int m_damageEvent = 0;
    int m_frames = 0;
    QVector<unsigned long> m_watched;
};
