// desktopwindow.h: an OpenGL window's life on the desktop, and when it may draw.
//
// The base of the demo's window. It starts the window (the pointer, the checks before showing,
// the whole output), places it, asks for full screen the way each platform needs, asks for the
// focus, learns when it is covered and when its run ends, keeps the session awake while it is
// watched, and lets no frame start when none may be drawn. A subclass sets its surface format and
// draws (initializeGL, resizeGL, paintGL); it knows nothing of the desktop.
#pragma once

#include "awake.h"
#include "platform.h"
#include "x11.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QOpenGLWindow>
#include <QString>

class QKeyEvent;
class QOpenGLContext;
class QWindowStateChangeEvent;

class DesktopWindow : public QOpenGLWindow
{
public:
    // Starts the window as the program ships it: the pointer hidden over every window of the
    // application, the checks before showing, then the window on its whole output. Returns why it
    // cannot draw, in the user's words, and then shows nothing; else empty.
    QString start();

    // A pointer image with no visible pixel.
    static QCursor blankCursor();

protected:
    DesktopWindow();

    // Whether the window's context can draw what the subclass asked for with setFormat: it
    // exists, and has at least the version asked for.
    bool contextCanDraw() const;

    // start() calls this once its checks have passed, just before the window is shown: where a
    // subclass says what it will do without.
    virtual void beforeShowing() { }

    // Whether other windows cover the window whole, as far as the platform tells.
    bool isCovered() const { return m_covered; }

    bool event(QEvent *event) override;
    void exposeEvent(QExposeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool nativeEvent(const QByteArray &eventType, void *message,
                     NativeEventResult *result) override;

private:
    QString checkBeforeShowing();
    QOpenGLContext *createContextBeforeShowing();
    void showOnWholeScreen();
    void takePlace();

    void end();
    void handleStateChange(const QWindowStateChangeEvent *event);
    void handleFocusIn();
    bool mayStartFrame(QEvent::Type type);
    void handleWindowManaged();
    void handleServerTime(const void *message);

    void requestFullScreen();
    void requestFullScreenOnceShown();
    void countFrameShown();
    void requestActivation();
    void setCovered(bool covered);
    void updateWatched();
    void updateCompositorBypass();
    bool nativeWindowExists();
    void endOnDestroyedWindow();

    x11::CoverWatch m_coverWatch;
    StayAwake m_stayAwake;
    // Set once the run is ending (Escape, the desktop's close, a window destroyed from outside):
    // from then on no frame is drawn.
    bool m_ending = false;
    // Set while other windows cover the window whole (X11 without a compositing manager): no
    // frame is drawn until it is seen again.
    bool m_covered = false;
    // Set when the desktop took the full-screen state away, until the window has asked for it
    // again.
    bool m_fullScreenTaken = false;
    // Set while the window has yet to ask for full screen where the compositor put it (Qt 5 on
    // Wayland with several outputs).
    bool m_fullScreenOnceShown = false;
    // Whether the window has told a compositing manager to leave its frames alone (X11).
    bool m_bypassingCompositor = false;
    int m_framesShown = 0;
    QElapsedTimer m_shownFor;
};
