// tst_shaders: compiles the embedded stages in an OpenGL 4.1 core context and checks the
// fragment stage, rendered off screen, against a CPU model of the picture.
#include <QtTest>

#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLBuffer>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLTexture>
#include <QOpenGLVertexArrayObject>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <vector>

namespace {

// Counts the logo's drawn texels over any rectangle in constant time, so the model can
// bound what texture filtering may return at a sample point.
class LogoCoverage
{
public:
    explicit LogoCoverage(const QImage &logo)
        : m_width(logo.width())
        , m_height(logo.height())
        , m_sums(size_t(m_width + 1) * (m_height + 1), 0)
    {
        const QImage argb = logo.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < m_height; ++y) {
            const QRgb *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
            for (int x = 0; x < m_width; ++x)
                at(x + 1, y + 1) = at(x, y + 1) + at(x + 1, y) - at(x, y) + (qAlpha(line[x]) > 0 ? 1 : 0);
        }
    }

    int width() const { return m_width; }
    int height() const { return m_height; }

    // Drawn texels in columns [x0, x1] and rows [y0, y1], clipped to the image.
    int count(int x0, int y0, int x1, int y1) const
    {
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
        x1 = std::min(x1, m_width - 1);
        y1 = std::min(y1, m_height - 1);
        if (x0 > x1 || y0 > y1)
            return 0;
        return at(x1 + 1, y1 + 1) - at(x0, y1 + 1) - at(x1 + 1, y0) + at(x0, y0);
    }

private:
    int &at(int x, int y) { return m_sums[size_t(y) * (m_width + 1) + x]; }
    int at(int x, int y) const { return m_sums[size_t(y) * (m_width + 1) + x]; }

    int m_width;
    int m_height;
    std::vector<int> m_sums;
};

struct Range
{
    std::array<float, 3> low;
    std::array<float, 3> high;
};

float hline(float y, float thickness)
{
    return std::fabs(y) < thickness ? 1.0f : 0.0f;
}

// Possible band weights for a curve offset: both where the edge is closer than the
// precision of the GPU's sine and float arithmetic.
std::vector<float> bandWeights(float y)
{
    if (std::fabs(std::fabs(y) - 0.1f) < 2e-4f)
        return {0.0f, 1.0f};
    return {hline(y, 0.1f)};
}

// The picture's formula for one pixel, as the range of colours that any conforming
// texture filter and sine may produce, clamped as the colour buffer does.
Range expectedColour(const LogoCoverage &logo, int column, int row, int w, int h, float t)
{
    const float px = float(column) + 0.5f;
    const float py = float(h - 1 - row) + 0.5f;
    const float uv2x = px / float(w);
    const float uv2y = py / float(h);
    const float uvx = (uv2x - 0.5f) / (float(h) / float(w));
    const float uvy = uv2y - 0.5f;

    const float weight = 0.5f - std::fabs(uvy);
    const std::array<float, 3> dark = {0.0f, 0.0f, 0.03f};
    const std::array<float, 3> light = {0.2f, 0.2f, 0.4f};
    const std::array<float, 3> band1 = {0.2f, 0.2f, 0.4f};
    const std::array<float, 3> band2 = {0.1f, 0.1f, 0.3f};

    // Texture filtering returns a weighted mean of texels near the sample point; which
    // texels depends on the mipmap level, so bound it by every texel within reach.
    const float scale = std::max(float(logo.width()) / float(w), float(logo.height()) / float(h));
    const float lod = std::log2(scale);
    const int reach = lod <= 0.0f ? 1 : (1 << int(std::ceil(lod))) + 1;
    const float s = (uv2x + 0.15f * std::sin(t)) * float(logo.width()) - 0.5f;
    const float tt = (1.0f - uv2y) * float(logo.height()) - 0.5f;
    const int sx = int(std::floor(s));
    const int sy = int(std::floor(tt));
    const int x0 = sx - reach + 1, x1 = sx + reach, y0 = sy - reach + 1, y1 = sy + reach;
    const int drawn = logo.count(x0, y0, x1, y1);
    const float logoLow = drawn == (x1 - x0 + 1) * (y1 - y0 + 1) ? 1.0f : 0.0f;
    const float logoHigh = drawn > 0 ? 1.0f : 0.0f;

    Range range;
    range.low.fill(1e9f);
    range.high.fill(-1e9f);
    for (float l1 : bandWeights(uvy + 0.1f * std::sin(uvx + t)))
        for (float l2 : bandWeights(uvy + 0.1f * std::cos(uvx + t)))
            for (int i = 0; i < 3; ++i) {
                const float base = dark[i] * (1.0f - weight) + light[i] * weight + l1 * band1[i] + l2 * band2[i];
                range.low[i] = std::min(range.low[i], std::clamp(base + logoLow, 0.0f, 1.0f));
                range.high[i] = std::max(range.high[i], std::clamp(base + logoHigh, 0.0f, 1.0f));
            }
    return range;
}

} // namespace

class TestShaders : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void contextIsOpenGL41Core();
    void fragmentStageMatchesTheModel_data();
    void fragmentStageMatchesTheModel();

private:
    QImage render(QSize size, float t);

    QOffscreenSurface m_surface;
    QOpenGLContext m_context;
    QImage m_logo;
    std::unique_ptr<QOpenGLShaderProgram> m_program;
    std::unique_ptr<QOpenGLTexture> m_texture;
    std::unique_ptr<QOpenGLVertexArrayObject> m_vao;
    std::unique_ptr<QOpenGLBuffer> m_vbo;
    std::unique_ptr<LogoCoverage> m_coverage;
};

void TestShaders::initTestCase()
{
    QSurfaceFormat format;
    format.setVersion(4, 1);
    format.setProfile(QSurfaceFormat::CoreProfile);
    m_surface.setFormat(format);
    m_surface.create();
    m_context.setFormat(format);
    QVERIFY(m_context.create());
    QVERIFY(m_context.makeCurrent(&m_surface));

    m_logo = QImage(QStringLiteral(":/Lurvo.png"));
    QVERIFY(!m_logo.isNull());
    m_coverage = std::make_unique<LogoCoverage>(m_logo);

    m_program = std::make_unique<QOpenGLShaderProgram>();
    QVERIFY2(m_program->addShaderFromSourceFile(QOpenGLShader::Vertex, QStringLiteral(":/shader.vert")),
             qPrintable(m_program->log()));
    QVERIFY2(m_program->addShaderFromSourceFile(QOpenGLShader::Fragment, QStringLiteral(":/shader.frag")),
             qPrintable(m_program->log()));
    QVERIFY2(m_program->link(), qPrintable(m_program->log()));

    m_texture = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
    m_texture->setData(m_logo, QOpenGLTexture::GenerateMipMaps);

    static const GLfloat quad[] = {-1, -1, 1, -1, 1, 1, 1, 1, -1, 1, -1, -1};
    m_vao = std::make_unique<QOpenGLVertexArrayObject>();
    QVERIFY(m_vao->create());
    m_vao->bind();
    m_vbo = std::make_unique<QOpenGLBuffer>();
    QVERIFY(m_vbo->create());
    m_vbo->bind();
    m_vbo->allocate(quad, int(sizeof quad));
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

void TestShaders::contextIsOpenGL41Core()
{
    const QSurfaceFormat format = m_context.format();
    QVERIFY2(format.version() >= qMakePair(4, 1),
             qPrintable(QStringLiteral("%1.%2").arg(format.majorVersion()).arg(format.minorVersion())));
    QCOMPARE(format.profile(), QSurfaceFormat::CoreProfile);
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

    const QSize sizes[] = {{1920, 1080}, {1280, 720}, {960, 540}, {640, 480}, {1000, 1000}, {2400, 1000}};
    const float times[] = {0.0f, 1.3f, 4.4f, 1000.5f};
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

    // The colour buffer rounds to 8 bits; allow one step for the GPU's float arithmetic.
    const int tolerance = 1;
    int mismatches = 0;
    QString first;
    for (int row = 0; row < size.height(); ++row) {
        const QRgb *line = reinterpret_cast<const QRgb *>(frame.constScanLine(row));
        for (int column = 0; column < size.width(); ++column) {
            const Range expected = expectedColour(*m_coverage, column, row, size.width(), size.height(), time);
            const int found[3] = {qRed(line[column]), qGreen(line[column]), qBlue(line[column])};
            for (int i = 0; i < 3; ++i) {
                const int low = int(std::lround(expected.low[i] * 255.0f)) - tolerance;
                const int high = int(std::lround(expected.high[i] * 255.0f)) + tolerance;
                if (found[i] < low || found[i] > high) {
                    if (mismatches++ == 0)
                        first = QStringLiteral("pixel (%1, %2) channel %3: found %4, expected %5..%6")
                                    .arg(column).arg(row).arg(i).arg(found[i]).arg(low).arg(high);
                    break;
                }
            }
        }
    }
    QVERIFY2(mismatches == 0, qPrintable(QStringLiteral("%1 pixels differ; first %2").arg(mismatches).arg(first)));
}

QTEST_MAIN(TestShaders)
#include "tst_shaders.moc"
