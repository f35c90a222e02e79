// window.h: the demo's one full-screen OpenGL window, owner of the logo and every GPU object.
#pragma once

#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QOpenGLBuffer>
#include <QOpenGLShaderProgram>
#include <QOpenGLTexture>
#include <QOpenGLVertexArrayObject>
#include <QOpenGLWindow>
#include <QSurfaceFormat>

class QKeyEvent;

class Window : public QOpenGLWindow
{
public:
    Window();
    ~Window() override;

    // What the picture needs from OpenGL: version 4.1, core profile, 4x multisampling.
    static QSurfaceFormat surfaceFormat();
    // The greeting's font: the application's default family at 70 pixels.
    static QFont greetingFont();
    // Call before any text is drawn in the process; a value the user has set wins.
    static void cacheGreetingGlyphs();
    // Whether a context, as created, can draw the picture.
    static bool canDrawWith(const QOpenGLContext *context);

    // Where the platform can make a context current on a window not yet shown (X11), creates
    // the window's GL context, and through initializeGL its GPU objects, before the window is
    // shown, and returns it; it may be invalid (see canDrawWith). Elsewhere returns null.
    QOpenGLContext *createContextBeforeShowing();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

    // The animation clock in milliseconds; tests draw frames at chosen times through it.
    virtual qint64 elapsedMs() const;

private:
    void uploadLogo();
    void drawShaderPass();

    QImage m_logo;
    QOpenGLTexture m_logoTexture;
    QOpenGLShaderProgram m_shader;
    QOpenGLVertexArrayObject m_vao;
    QOpenGLBuffer m_vbo;
    QElapsedTimer m_timer;
};
