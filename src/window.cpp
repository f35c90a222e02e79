// window.cpp: builds the GPU objects once, then draws the picture and the greeting every frame.
#include "window.h"

#include "animation.h"
#include "greeting.h"
#include "mipmaps.h"
#include "quad.h"
#include "words.h"

#include <QColor>
#include <QFontInfo>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>

Window::Window()
    : m_fontFound(m_fontLookedUp.get_future())
    , m_logoLevels(std::async(std::launch::async, &Window::prepareOffTheGuiThread, this))
    , m_logoTexture(QOpenGLTexture::Target2D)
    , m_shader()
    , m_vao()
    , m_vbo()
    , m_timer()
{
    setFormat(surfaceFormat());
}

// Decoding the logo and computing its mipmaps take some 60 ms, and the first look-up of a font
// reads the system's font list, some 10 ms more: on a thread of their own they are done while the
// GL context is made, which takes longer. One thread: a second would take the core the context is
// made on, on a machine with two. Qt's font database may be used from any thread.
std::vector<QImage> Window::prepareOffTheGuiThread()
{
    std::vector<QImage> levels = mipmapChain(QImage(QStringLiteral(":/Lurvo.png")));
    m_fontLookedUp.set_value(!QFontInfo(greetingFont()).family().isEmpty());
    return levels;
}

QSurfaceFormat Window::surfaceFormat()
{
    QSurfaceFormat format;
    format.setSamples(4);
    format.setVersion(4, 1);
    format.setProfile(QSurfaceFormat::CoreProfile);
    return format;
}

QFont Window::greetingFont()
{
    QFont font;
    font.setPixelSize(greeting::pixelSize);
    return font;
}

void Window::beforeShowing()
{
    if (!m_fontFound.get())
        say(QStringLiteral("the greeting cannot be drawn: no font"));
}

// The members' GL objects must go while their context is current; the base class
// releases the context again once they are gone.
Window::~Window()
{
    makeCurrent();
}

void Window::initializeGL()
{
    // Nothing is built, not even a shader compiled, on a context that cannot draw the picture.
    if (!contextCanDraw())
        return;

    m_timer.start();

    m_vao.create();
    m_vao.bind();

    m_vbo.create();
    m_vbo.bind();
    m_vbo.allocate(fullScreenQuad, int(sizeof fullScreenQuad));
    m_vbo.release();

    // A missing logo leaves the texture uncreated; the pass then samples no texture.
    const std::vector<QImage> logoLevels = m_logoLevels.get();
    if (!logoLevels.empty())
        uploadLogo(logoLevels);

    m_vao.release();
    // A program that lost a stage is left without one, and every frame skips the pass.
    buildProgram(m_shader, QStringLiteral(":/shader.vert"), QStringLiteral(":/shader.frag"));
}

bool Window::buildProgram(QOpenGLShaderProgram &program, const QString &vertexFile,
                          const QString &fragmentFile)
{
    // Both stages are compiled, so that Qt reports every one that fails.
    const bool vertexAdded = program.addShaderFromSourceFile(QOpenGLShader::Vertex, vertexFile);
    const bool fragmentAdded
        = program.addShaderFromSourceFile(QOpenGLShader::Fragment, fragmentFile);
    // Mesa links a program that lost its fragment stage, and it would draw undefined colours; a
    // driver need not survive being asked. So such a program never reaches the linker. Pinned by
    // tst_shaders' programThatLostAStageIsNeverLinked.
    if (vertexAdded && fragmentAdded && program.link())
        return true;
    program.removeAllShaders();
    return false;
}

// The driver's own mipmap generation first compiles shaders of its own, some 50 ms of start-up on
// software OpenGL; the chain comes computed with the image.
void Window::uploadLogo(const std::vector<QImage> &levels)
{
    m_logoTexture.setSize(levels.front().width(), levels.front().height());
    m_logoTexture.setFormat(QOpenGLTexture::RGBA8_UNorm);
    m_logoTexture.setMipLevels(int(levels.size()));
    m_logoTexture.setAutoMipMapGenerationEnabled(false);
    m_logoTexture.allocateStorage(QOpenGLTexture::RGBA, QOpenGLTexture::UInt8);
    for (int mipLevel = 0; mipLevel < int(levels.size()); ++mipLevel)
        m_logoTexture.setData(mipLevel, QOpenGLTexture::RGBA, QOpenGLTexture::UInt8,
                              levels[size_t(mipLevel)].constBits());
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

    const QFont font = greetingFont();
    painter.setFont(font);
    painter.setPen(QColor(Qt::white));
    static const QString text = QString::fromLatin1(greeting::text);
    painter.drawText(scrollerX(elapsedMs()), greeting::baseline, text);

    update();
}

void Window::drawShaderPass()
{
    const bool hasLogo = m_logoTexture.isCreated();
    QOpenGLFunctions *gl = context()->functions();

    m_shader.bind();
    m_vao.bind();
    m_vbo.bind();
    // The painter keeps textures of its own bound, its glyph cache among them; the pass samples
    // unit 0, so it binds the logo there, or nothing, which samples as black.
    gl->glActiveTexture(GL_TEXTURE0);
    if (hasLogo)
        m_logoTexture.bind();
    else
        gl->glBindTexture(GL_TEXTURE_2D, 0);

    m_shader.setAttributeBuffer("vertex", GL_FLOAT, 0, 2, 0);
    m_shader.enableAttributeArray("vertex");

    m_shader.setUniformValue("v2Resolution", QSizeF(size() * devicePixelRatio()));
    m_shader.setUniformValue("fGlobalTime", shaderSeconds(elapsedMs()));
    m_shader.setUniformValue("texTex5", 0);

    glDrawArrays(GL_TRIANGLES, 0, 6);

    m_shader.disableAttributeArray("vertex");
    if (hasLogo)
        m_logoTexture.release();
    m_vbo.release();
    m_vao.release();
    m_shader.release();
}

qint64 Window::elapsedMs() const
{
    return m_timer.elapsed();
}
