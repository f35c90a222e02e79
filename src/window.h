// window.h: the demo's one full-screen OpenGL window, owner of the logo and every GPU object.
#pragma once

#include <QElapsedTimer>
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

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private:
    void drawShaderPass();

    QImage m_logo;
    QOpenGLTexture m_logoTexture;
    QOpenGLShaderProgram m_shader;
    QOpenGLVertexArrayObject m_vao;
    QOpenGLBuffer m_vbo;
    QElapsedTimer m_timer;
};
