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

    // Before anything is shown or compiled: why the window cannot draw the picture, in the
    // user's words, or empty. Where the platform allows (X11) the window's own context is created
    // for this, and with it the GPU objects; elsewhere a probe context. A greeting without a
    // font is no refusal: that is said once, and the picture goes on.
    QString checkBeforeShowing();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

    // The animation clock in milliseconds; tests draw frames at chosen times through it.
    virtual qint64 elapsedMs() const;

private:
    QOpenGLContext *createContextBeforeShowing();
    void uploadLogo();
    void drawShaderPass();

    QImage m_logo;
    QOpenGLTexture m_logoTexture;
    QOpenGLShaderProgram m_shader;
    QOpenGLVertexArrayObject m_vao;
    QOpenGLBuffer m_vbo;
    QElapsedTimer m_timer;
};
