// window.cpp: builds the GPU objects once, then draws the shader picture and the greeting every frame.
#include "window.h"

#include "animation.h"
#include "quad.h"

#include <QColor>
#include <QCoreApplication>
#include <QFont>
#include <QKeyEvent>
#include <QPainter>

Window::Window()
    : QOpenGLWindow(QOpenGLWindow::NoPartialUpdate)
    , m_logo(QStringLiteral(":/Lurvo.png"))
    , m_logoTexture(QOpenGLTexture::Target2D)
    , m_shader()
    , m_vao()
    , m_vbo()
    , m_timer()
{
    setFormat(surfaceFormat());
}

QSurfaceFormat Window::surfaceFormat()
{
    QSurfaceFormat format;
    format.setSamples(4);
    format.setVersion(4, 1);
    format.setProfile(QSurfaceFormat::CoreProfile);
    return format;
}

// The members' GL objects must go while their context is current; the base class
// releases the context again once they are gone.
Window::~Window()
{
    makeCurrent();
}

void Window::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape)
        QCoreApplication::quit();
}

void Window::initializeGL()
{
    m_timer.start();

    m_vao.create();
    m_vao.bind();

    m_vbo.create();
    m_vbo.bind();
    m_vbo.allocate(fullScreenQuad, int(sizeof fullScreenQuad));
    m_vbo.release();

    // A missing logo leaves the texture uncreated; the pass then samples no texture.
    if (!m_logo.isNull())
        m_logoTexture.setData(m_logo, QOpenGLTexture::GenerateMipMaps);

    m_vao.release();

    const bool vertexAdded = m_shader.addShaderFromSourceFile(QOpenGLShader::Vertex, QStringLiteral(":/shader.vert"));
    const bool fragmentAdded = m_shader.addShaderFromSourceFile(QOpenGLShader::Fragment, QStringLiteral(":/shader.frag"));
    const bool linked = m_shader.link();
    // A program that lost a stage may still link and would draw undefined colours;
    // removing its shaders unlinks it, so every frame skips the pass instead.
    if (!vertexAdded || !fragmentAdded || !linked)
        m_shader.removeAllShaders();
}

// The shaders divide framebuffer coordinates by the resolution they are sent, so the
// viewport and v2Resolution are both in device pixels.
void Window::resizeGL(int w, int h)
{
    const qreal ratio = devicePixelRatio();
    glViewport(0, 0, qRound(w * ratio), qRound(h * ratio));
}

void Window::paintGL()
{
    QPainter painter(this);

    painter.beginNativePainting();
    if (m_shader.isLinked()) {
        drawShaderPass();
    } else {
        // Without a program the framebuffer would keep stale content under the greeting.
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    painter.endNativePainting();

    QFont font;
    font.setPixelSize(70);
    painter.setFont(font);
    painter.setPen(QColor(Qt::white));
    const QString greeting = QStringLiteral(
        "Hello Vantle-people! This is my first shader!! Shoutout to tkBlorp, Pembo and Gravik for your "
        "assistance, THANK YOU! - I thought it was time for me to dive deeper into this demo-stuff, so "
        "here you go. From me to you, you glorious coders!");
    painter.drawText(scrollerX(m_timer.elapsed()), 200, greeting);

    update();
}

void Window::drawShaderPass()
{
    const bool hasLogo = m_logoTexture.isCreated();

    m_shader.bind();
    m_vao.bind();
    m_vbo.bind();
    if (hasLogo)
        m_logoTexture.bind();

    m_shader.setAttributeBuffer("vertex", GL_FLOAT, 0, 2, 0);
    m_shader.enableAttributeArray("vertex");

    m_shader.setUniformValue("v2Resolution", QSizeF(size() * devicePixelRatio()));
    m_shader.setUniformValue("fGlobalTime", secondsFromMilliseconds(m_timer.elapsed()));
    m_shader.setUniformValue("texTex5", 0);

    glDrawArrays(GL_TRIANGLES, 0, 6);

    m_shader.disableAttributeArray("vertex");
    if (hasLogo)
        m_logoTexture.release();
    m_vbo.release();
    m_vao.release();
    m_shader.release();
}
