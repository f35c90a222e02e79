// window.h: the demo's one full-screen OpenGL window, owner of the logo and every GPU object.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QOpenGLBuffer>
#include <QOpenGLShaderProgram>
#include <QOpenGLTexture>
#include <QOpenGLVertexArrayObject>
#include <QOpenGLWindow>

class QKeyEvent;

class Window : public QOpenGLWindow
{
public:
    Window();
    ~Window() override;

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
