// window.h: the demo's one full-screen OpenGL window, owner of the logo and every GPU object.
#pragma once

#include "desktopwindow.h"

#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QOpenGLBuffer>
#include <QOpenGLShaderProgram>
#include <QOpenGLTexture>
#include <QOpenGLVertexArrayObject>
#include <QSurfaceFormat>

#include <future>
#include <vector>

class Window : public DesktopWindow
{
public:
    Window();
    ~Window() override;

    // What the picture needs from OpenGL: version 4.1, core profile, 4x multisampling.
    static QSurfaceFormat surfaceFormat();
    // Builds a program of the two stages in these files, with the context current: linked when
    // both compile, else left with no stage and unlinked.
    static bool buildProgram(QOpenGLShaderProgram &program, const QString &vertexFile,
                             const QString &fragmentFile);

protected:
    // A greeting without a font is no refusal: that is said once, and the picture goes on.
    void beforeShowing() override;
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

    // The animation clock in milliseconds; tests draw frames at chosen times through it.
    virtual qint64 elapsedMs() const;

private:
    // The greeting's font: the application's default family at the greeting's size.
    static QFont greetingFont();
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
};
