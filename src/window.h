// window.h: the demo's one full-screen OpenGL window, owner of the logo and every GPU object.
#pragma once

#include "x11.h"

#include <QCursor>
#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QOpenGLBuffer>
#include <QOpenGLShaderProgram>
#include <QOpenGLTexture>
#include <QOpenGLVertexArrayObject>
#include <QOpenGLWindow>
#include <QSurfaceFormat>

#include <future>
#include <vector>

class QKeyEvent;

class Window : public QOpenGLWindow
{
public:
    Window();
    ~Window() override;

    // What the picture needs from OpenGL: version 4.1, core profile, 4x multisampling.
    static QSurfaceFormat surfaceFormat();
    // The greeting's font: the application's default family at the greeting's size.
    static QFont greetingFont();
    // Call before any text is drawn in the process; a value the user has set wins.
    static void cacheGreetingGlyphs();

    // Starts the window as the program ships it: the pointer hidden over every window of the
    // application, the checks below, then the window on its whole screen. Returns why it cannot
    // draw the picture, and then shows nothing; else empty.
    QString start();

    // Before anything is shown or compiled: why the window cannot draw the picture, in the
    // user's words, or empty. Where the platform allows (X11) the window's own context is created
    // for this, and with it the GPU objects; elsewhere a probe context. A greeting without a
    // font is no refusal: that is said once, and the picture goes on.
    QString checkBeforeShowing();

    // A pointer image with no visible pixel. Qt's blank cursor, set only for the application,
    // left the pointer showing under several Wayland compositors; an image set on the window
    // hides it there, and on X11 as well.
    static QCursor blankCursor();
    // Shows the window in full-screen state, at its screen's size from the first frame: a
    // compositor may keep the size of the first frame it sees.
    void showOnWholeScreen();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    bool nativeEvent(const QByteArray &eventType, void *message, qintptr *result) override;
#else
    bool nativeEvent(const QByteArray &eventType, void *message, long *result) override;
#endif
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

    // The animation clock in milliseconds; tests draw frames at chosen times through it.
    virtual qint64 elapsedMs() const;

private:
    void takePlace();
    void requestFullScreen();
    void requestFullScreenOnceShown();
    void countFrameShown();
    QOpenGLContext *createContextBeforeShowing();
    bool canDrawFrame();
    void endOnDestroyedWindow();
    void requestActivation();
    void setCovered(bool covered);
    std::vector<QImage> prepareOffTheGuiThread();
    void uploadLogo(const std::vector<QImage> &levels);
    void drawShaderPass();

    // Whether the greeting's font has a family at all.
    std::promise<bool> m_fontLookedUp;
    std::future<bool> m_fontFound;
    // The logo's mipmap chain, the full-size image first; empty when the logo is missing. Its
    // thread answers m_fontLookedUp too, so this goes first.
    std::future<std::vector<QImage>> m_logoLevels;
    QOpenGLTexture m_logoTexture;
    QOpenGLShaderProgram m_shader;
    QOpenGLVertexArrayObject m_vao;
    QOpenGLBuffer m_vbo;
    QElapsedTimer m_timer;
    x11::CoverWatch m_coverWatch;
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
    int m_framesShown = 0;
    QElapsedTimer m_shownFor;
};
