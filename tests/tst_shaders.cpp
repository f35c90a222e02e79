// tst_shaders: the embedded stages compile, and render off screen what the picture's model says.
#include "mipmaps.h"
#include "picture.h"
#include "quad.h"
#include "window.h"

#include <QtTest>

#include <QOffscreenSurface>
#include <QOpenGLBuffer>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLTexture>
#include <QOpenGLVertexArrayObject>

#include <memory>

class TestShaders : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void contextIsTheWindowsVersionAndProfile();
    void programThatLostAStageIsNeverLinked();
    void mipmapChainMatchesTheDrivers();
    void fragmentStageMatchesTheModel_data();
    void fragmentStageMatchesTheModel();

private:
    QImage render(QSize size, float t);

    QOffscreenSurface m_surface;
    QOpenGLContext m_context;
    QImage m_logo;
    std::unique_ptr<picture::Model> m_model;
    std::unique_ptr<QOpenGLShaderProgram> m_program;
    std::unique_ptr<QOpenGLTexture> m_texture;
    std::unique_ptr<QOpenGLVertexArrayObject> m_vao;
    std::unique_ptr<QOpenGLBuffer> m_vbo;
};

void TestShaders::initTestCase()
{
    const QSurfaceFormat format = Window::surfaceFormat();
    m_surface.setFormat(format);
    m_surface.create();
    m_context.setFormat(format);
    QVERIFY(m_context.create());
    QVERIFY(m_context.makeCurrent(&m_surface));

    m_logo = QImage(QStringLiteral(":/Lurvo.png"));
    QVERIFY(!m_logo.isNull());
    m_model = std::make_unique<picture::Model>(m_logo);

    m_program = std::make_unique<QOpenGLShaderProgram>();
    QVERIFY2(Window::buildProgram(*m_program, QStringLiteral(":/shader.vert"),
                                  QStringLiteral(":/shader.frag")),
             qPrintable(m_program->log()));

    // The driver generates this texture's mipmaps; the window computes its own, and the test
    // below holds the two to each other.
    m_texture = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
    m_texture->setData(m_logo, QOpenGLTexture::GenerateMipMaps);

    m_vao = std::make_unique<QOpenGLVertexArrayObject>();
    QVERIFY(m_vao->create());
    m_vao->bind();
    m_vbo = std::make_unique<QOpenGLBuffer>();
    QVERIFY(m_vbo->create());
    m_vbo->bind();
    m_vbo->allocate(fullScreenQuad, int(sizeof fullScreenQuad));
    m_program->bind();
    m_program->setAttributeBuffer("vertex", GL_FLOAT, 0, 2, 0);
    m_program->enableAttributeArray("vertex");
    m_vao->release();
}

void TestShaders::cleanupTestCase()
{
    m_context.makeCurrent(&m_surface);
    m_vbo.reset();
    m_vao.reset();
    m_texture.reset();
    m_program.reset();
    m_context.doneCurrent();
}

void TestShaders::contextIsTheWindowsVersionAndProfile()
{
    const QSurfaceFormat format = m_context.format();
    QVERIFY2(
        format.version() >= Window::surfaceFormat().version(),
        qPrintable(QStringLiteral("%1.%2").arg(format.majorVersion()).arg(format.minorVersion())));
    QCOMPARE(format.profile(), QSurfaceFormat::CoreProfile);
}

// Some drivers crash linking it (Mesa 25), others link it and draw whatever the missing stage
// leaves undefined (Mesa 22): it must not reach the driver's linker at all.
void TestShaders::programThatLostAStageIsNeverLinked()
{
    QOpenGLShaderProgram program;
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("^QOpenGLShader::compile")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Problematic")));
    QVERIFY(!Window::buildProgram(program, QStringLiteral(":/shader.vert"),
                                  QStringLiteral(TEST_DATA "/broken.frag")));
    QVERIFY(!program.isLinked());
    QVERIFY(program.shaders().isEmpty());
    GLint linked = GL_TRUE;
    m_context.functions()->glGetProgramiv(program.programId(), GL_LINK_STATUS, &linked);
    QCOMPARE(linked, GLint(GL_FALSE));
}

// The window computes the logo's mipmaps itself, to spare the driver's start-up; they must be the
// driver's own, to the three 8-bit steps that rounding each level from the last (and llvmpipe's
// 8-bit filter weights) add up to.
void TestShaders::mipmapChainMatchesTheDrivers()
{
    QOpenGLFunctions *gl = m_context.functions();
    GLuint framebuffer = 0;
    gl->glGenFramebuffers(1, &framebuffer);
    gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    QImage level = m_logo.convertToFormat(QImage::Format_RGBA8888);
    for (int mipLevel = 1; mipLevel < m_texture->mipLevels(); ++mipLevel) {
        level = halved(level);
        QImage driver(level.size(), QImage::Format_RGBA8888);
        gl->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                                   m_texture->textureId(), mipLevel);
        gl->glPixelStorei(GL_PACK_ALIGNMENT, 4);
        gl->glReadPixels(0, 0, level.width(), level.height(), GL_RGBA, GL_UNSIGNED_BYTE,
                         driver.bits());
        int worst = 0;
        QPoint where;
        for (int y = 0; y < level.height(); ++y) {
            const uchar *ours = level.constScanLine(y);
            const uchar *theirs = driver.constScanLine(y);
            for (int i = 0; i < 4 * level.width(); ++i)
                if (qAbs(ours[i] - theirs[i]) > worst) {
                    worst = qAbs(ours[i] - theirs[i]);
                    where = QPoint(i / 4, y);
                }
        }
        QVERIFY2(worst <= 3,
                 qPrintable(QStringLiteral("level %1 (%2x%3): %4 steps apart at (%5, %6)")
                                .arg(mipLevel)
                                .arg(level.width())
                                .arg(level.height())
                                .arg(worst)
                                .arg(where.x())
                                .arg(where.y())));
    }
    gl->glBindFramebuffer(GL_FRAMEBUFFER, m_context.defaultFramebufferObject());
    gl->glDeleteFramebuffers(1, &framebuffer);
}

QImage TestShaders::render(QSize size, float t)
{
    QOpenGLFramebufferObject target(size);
    target.bind();
    QOpenGLFunctions *gl = m_context.functions();
    gl->glViewport(0, 0, size.width(), size.height());
    m_program->bind();
    m_program->setUniformValue("v2Resolution", QSizeF(size));
    m_program->setUniformValue("fGlobalTime", t);
    m_program->setUniformValue("texTex5", 0);
    m_vao->bind();
    m_texture->bind(0);
    gl->glDrawArrays(GL_TRIANGLES, 0, 6);
    m_texture->release();
    m_vao->release();
    m_program->release();
    target.release();
    return target.toImage().convertToFormat(QImage::Format_RGB32);
}

void TestShaders::fragmentStageMatchesTheModel_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<float>("time");

    const QSize sizes[]
        = {{1920, 1080}, {1280, 720}, {960, 540}, {640, 480}, {1000, 1000}, {2400, 1000}};
    const float times[] = {0.0f, 1.3f, 4.4f, 6.2f};
    for (const QSize &size : sizes)
        for (float t : times)
            QTest::addRow("%dx%d at %.1f s", size.width(), size.height(), double(t)) << size << t;
}

void TestShaders::fragmentStageMatchesTheModel()
{
    QFETCH(QSize, size);
    QFETCH(float, time);

    const QImage frame = render(size, time);
    QCOMPARE(frame.size(), size);
    QImage noGreeting(size, QImage::Format_Alpha8);
    noGreeting.fill(0);
    const QString fault = picture::frameFault(frame, *m_model, double(time), noGreeting);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
}

QTEST_MAIN(TestShaders)
#include "tst_shaders.moc"
