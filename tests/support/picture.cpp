// picture.cpp: the CPU model of the demo's frames and the checks of frames against it.
#include "picture.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace picture {

namespace {

// How far a frame may be from the model, and why. Every check below takes its slack from here.
namespace tolerance {
// 8-bit steps a colour channel may be off: the colour buffer rounds to 8 bits, and llvmpipe
// filters textures with 8-bit weights.
constexpr int channel = 2;
// Band offset (window heights) within which a pixel may fall on either side of a band's edge:
// the GPU's sine and float arithmetic are that precise, not more.
constexpr float bandEdge = 2e-4f;
// 8-bit steps a driver's mipmap levels may differ from the model's: its blits round otherwise.
constexpr float mipmapSteps = 3.0f;
// Texels around a sample position, and levels of detail around the computed one, within which
// the GPU's rounding may tip the choice of texel or level.
constexpr float texelChoice = 1e-3f;
constexpr float levelChoice = 0.03f;
// Levels of detail this close to 0 may be filtered as magnified or minified.
constexpr float magnification = 0.01f;
// Coverage (0-255) the window's glyphs may differ from the reference by on a glyph's edge, per
// device pixel of ratio: the window draws each glyph from an image of its outline rendered at
// the glyph's own position, the reference fills the whole text's outline, so edges may sit up
// to half a pixel apart, a whole device pixel at ratio 2.
constexpr int glyphEdgeCoverage = 128;
// A screenshot's white: the greeting's and the logo's, as the X server shows them.
constexpr int white = 250;
} // namespace tolerance

bool near(QRgb p, int r, int g, int b)
{
    return qAbs(qRed(p) - r) <= tolerance::channel && qAbs(qGreen(p) - g) <= tolerance::channel
        && qAbs(qBlue(p) - b) <= tolerance::channel;
}

// Band weights for a curve offset: both where the edge is too close to call.
void bandWeights(float y, float weights[2], int &count)
{
    const bool inside = std::fabs(y) < 0.1f;
    weights[0] = inside ? 1.0f : 0.0f;
    count = 1;
    if (std::fabs(std::fabs(y) - 0.1f) < tolerance::bandEdge) {
        weights[1] = 1.0f - weights[0];
        count = 2;
    }
}

int toByte(float value)
{
    return int(std::lround(std::clamp(value, 0.0f, 1.0f) * 255.0f));
}

// A frame pixel against its expected range under the greeting, whose coverage may lie anywhere
// in coverage[0]..coverage[1].
QString pixelFault(QRgb found, const int low[3], const int high[3], const int coverage[2],
                   int column, int row)
{
    const int values[3] = {qRed(found), qGreen(found), qBlue(found)};
    for (int c = 0; c < 3; ++c) {
        const int lo
            = (low[c] * (255 - coverage[0]) + 255 * coverage[0]) / 255 - tolerance::channel;
        const int hi
            = (high[c] * (255 - coverage[1]) + 255 * coverage[1] + 254) / 255 + tolerance::channel;
        if (values[c] < lo || values[c] > hi)
            return QStringLiteral("pixel (%1, %2) is %3, expected channel %4 in %5..%6 "
                                  "(greeting coverage %7..%8)")
                .arg(column)
                .arg(row)
                .arg(describeColour(found))
                .arg(c)
                .arg(lo)
                .arg(hi)
                .arg(coverage[0])
                .arg(coverage[1]);
    }
    return {};
}

// The greeting's coverage at a pixel as the reference has it, widened where a glyph's edge
// passes; everywhere else it must be the reference's.
void coverageRange(const QImage &alpha, qreal devicePixelRatio, int column, int row, int range[2])
{
    const auto at = [&alpha](int x, int y) {
        x = std::clamp(x, 0, alpha.width() - 1);
        y = std::clamp(y, 0, alpha.height() - 1);
        return int(alpha.constScanLine(y)[x]);
    };
    const int a = at(column, row);
    const bool edge = (a > 0 && a < 255) || at(column - 1, row) != a || at(column + 1, row) != a
        || at(column, row - 1) != a || at(column, row + 1) != a;
    const int slack
        = edge ? int(std::min(255.0, tolerance::glyphEdgeCoverage * devicePixelRatio)) : 0;
    range[0] = std::max(0, a - slack);
    range[1] = std::min(255, a + slack);
}

// Compares the rows of the area (all of them where it is null) with the expected colours
// under the greeting's coverage.
template <typename Expected>
QString compareFrame(const QImage &frame, const QImage &greeting, Expected expected, QRect area)
{
    if (frame.size() != greeting.size())
        return QStringLiteral("frame is %1x%2, expected %3x%4")
            .arg(frame.width())
            .arg(frame.height())
            .arg(greeting.width())
            .arg(greeting.height());
    const QImage pixels = frame.convertToFormat(QImage::Format_RGB32);
    const QImage alpha = greeting.convertToFormat(QImage::Format_Alpha8);
    area = area.isNull() ? pixels.rect() : area.intersected(pixels.rect());
    int mismatches = 0;
    QString first;
    for (int row = area.top(); row <= area.bottom(); ++row) {
        const QRgb *line = reinterpret_cast<const QRgb *>(pixels.constScanLine(row));
        for (int column = area.left(); column <= area.right(); ++column) {
            int low[3], high[3], coverage[2];
            expected(column, row, low, high);
            coverageRange(alpha, greeting.devicePixelRatio(), column, row, coverage);
            const QString fault = pixelFault(line[column], low, high, coverage, column, row);
            if (!fault.isEmpty() && mismatches++ == 0)
                first = fault;
        }
    }
    if (!mismatches)
        return {};
    return QStringLiteral("%1 of %2x%3 pixels differ; first: %4")
        .arg(mismatches)
        .arg(area.width())
        .arg(area.height())
        .arg(first);
}

} // namespace

QString describeColour(QRgb p)
{
    return QStringLiteral("(%1, %2, %3)").arg(qRed(p)).arg(qGreen(p)).arg(qBlue(p));
}

bool isWhite(QRgb p)
{
    return qRed(p) >= tolerance::white && qGreen(p) >= tolerance::white
        && qBlue(p) >= tolerance::white;
}

int greetingLeft(const QImage &screen)
{
    for (int x = 0; x < screen.width(); ++x)
        for (int y = 130; y < 230; ++y)
            if (isWhite(screen.pixel(x, y)))
                return x;
    return -1;
}

QString invariantRowFault(const QImage &frame)
{
    const int w = frame.width();
    const int h = frame.height();
    const struct
    {
        const char *name;
        int y;
    } rows[] = {{"top row", 0},
                {"bottom row", h - 1},
                {"row three quarters up", h / 4},
                {"mid-height row", h / 2}};
    for (const auto &row : rows) {
        for (int x = 0; x < w; ++x) {
            const QRgb p = frame.pixel(x, row.y);
            // Mid-height: the weaker band alone lifts blue from 0.215 to 0.515.
            const bool ok = row.y == h / 2 ? qBlue(p) >= 128
                : row.y == h / 4           ? near(p, 13, 13, 31)
                                           : near(p, 0, 0, 8);
            if (!ok)
                return QStringLiteral("%1 (y = %2) at x = %3 is %4 in a %5x%6 picture")
                    .arg(QLatin1String(row.name))
                    .arg(row.y)
                    .arg(x)
                    .arg(describeColour(p))
                    .arg(w)
                    .arg(h);
        }
    }
    return {};
}

QString backgroundFault(const QImage &frame, const QRect &area)
{
    const QRect checked = area.intersected(frame.rect());
    for (int y = checked.top(); y <= checked.bottom(); ++y) {
        const float uvy = (float(frame.height() - 1 - y) + 0.5f) / float(frame.height()) - 0.5f;
        const float weight = 0.5f - std::fabs(uvy);
        const int r = toByte(0.2f * weight);
        const int b = toByte(0.03f * (1.0f - weight) + 0.4f * weight);
        for (int x = checked.left(); x <= checked.right(); ++x) {
            const QRgb p = frame.pixel(x, y);
            if (!near(p, r, r, b))
                return QStringLiteral("(%1, %2) is %3, the background there is %4")
                    .arg(x)
                    .arg(y)
                    .arg(describeColour(p), describeColour(qRgb(r, r, b)));
        }
    }
    return {};
}

Model::Model(const QImage &logo)
{
    if (logo.isNull())
        return;
    const QImage argb = logo.convertToFormat(QImage::Format_ARGB32);
    Level full {argb.width(), argb.height(), {}};
    full.white.resize(size_t(full.width) * full.height);
    for (int y = 0; y < full.height; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < full.width; ++x) {
            full.white[size_t(y) * full.width + x] = float(qRed(line[x])) / 255.0f;
            if (qRed(line[x]))
                m_drawn |= QRect(x, y, 1, 1);
        }
    }
    m_levels.push_back(std::move(full));
    while (m_levels.back().width > 1 || m_levels.back().height > 1)
        m_levels.push_back(halved(m_levels.back()));
}

// The next mipmap level: each texel samples the level above bilinearly at its centre, rounded
// to 8 bits (the 2x2 mean for even sizes), as a driver's mipmap generation makes it.
Model::Level Model::halved(const Level &above)
{
    Level level {std::max(1, above.width / 2), std::max(1, above.height / 2), {}};
    level.white.resize(size_t(level.width) * level.height);
    const auto at = [&above](int x, int y) {
        return above.white[size_t(std::min(y, above.height - 1)) * above.width
                           + std::min(x, above.width - 1)];
    };
    for (int y = 0; y < level.height; ++y) {
        const float v = (float(y) + 0.5f) * float(above.height) / float(level.height) - 0.5f;
        const int y0 = std::max(0, int(std::floor(v)));
        const float fy = v - std::floor(v);
        for (int x = 0; x < level.width; ++x) {
            const float u = (float(x) + 0.5f) * float(above.width) / float(level.width) - 0.5f;
            const int x0 = std::max(0, int(std::floor(u)));
            const float fx = u - std::floor(u);
            const float value = (at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx) * (1 - fy)
                + (at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx) * fy;
            level.white[size_t(y) * level.width + x] = std::round(value * 255.0f) / 255.0f;
        }
    }
    return level;
}

// Texture coordinates repeat, the texture's default wrap mode.
float Model::texel(const Level &level, int x, int y) const
{
    x = ((x % level.width) + level.width) % level.width;
    y = ((y % level.height) + level.height) % level.height;
    return level.white[size_t(y) * level.width + x];
}

// The full image, filtered bilinearly, as it is sampled magnified.
float Model::bilinear(float s, float t) const
{
    const Level &level = m_levels.front();
    const float u = s * float(level.width) - 0.5f;
    const float v = t * float(level.height) - 0.5f;
    const int x0 = int(std::floor(u));
    const int y0 = int(std::floor(v));
    const float fx = u - float(x0);
    const float fy = v - float(y0);
    return (texel(level, x0, y0) * (1 - fx) + texel(level, x0 + 1, y0) * fx) * (1 - fy)
        + (texel(level, x0, y0 + 1) * (1 - fx) + texel(level, x0 + 1, y0 + 1) * fx) * fy;
}

// Lowest and highest nearest texel of a mipmap level, over the texels the GPU's rounding may
// choose.
void Model::nearest(int index, float s, float t, float &low, float &high) const
{
    const Level &level = m_levels[size_t(std::min(index, int(m_levels.size()) - 1))];
    const float u = s * float(level.width);
    const float v = t * float(level.height);
    low = 1.0f;
    high = 0.0f;
    for (float du : {-tolerance::texelChoice, tolerance::texelChoice})
        for (float dv : {-tolerance::texelChoice, tolerance::texelChoice}) {
            const float value = texel(level, int(std::floor(u + du)), int(std::floor(v + dv)));
            low = std::min(low, value);
            high = std::max(high, value);
        }
}

// The logo's colour at normalised coordinates with the texture's default filters: bilinear
// when magnified; when minified, the nearest texel of the two mipmap levels around the level of
// detail, mixed linearly. Where the GPU's rounding could tip a choice (exactly one texel per
// pixel, a coordinate on a texel's border, a level of detail on a whole number) every outcome
// is allowed.
void Model::sampleLogo(float s, float t, float &low, float &high) const
{
    // Far from the drawing every texel of every level is black.
    const float u0 = (s - std::floor(s)) * float(m_levels.front().width);
    const float v0 = (t - std::floor(t)) * float(m_levels.front().height);
    if (u0 < float(m_drawn.left() - m_reach) || u0 > float(m_drawn.right() + m_reach)
        || v0 < float(m_drawn.top() - m_reach) || v0 > float(m_drawn.bottom() + m_reach)) {
        low = high = 0.0f;
        return;
    }

    if (m_lod < -tolerance::magnification) {
        low = high = bilinear(s, t);
        return;
    }
    if (m_lod < tolerance::magnification) {
        nearest(0, s, t, low, high);
        low = std::min(low, bilinear(s, t));
        high = std::max(high, bilinear(s, t));
        return;
    }
    low = 1.0f;
    high = 0.0f;
    for (float dl : {-tolerance::levelChoice, tolerance::levelChoice}) {
        const float l = m_lod + dl;
        const int base = int(std::floor(l));
        const float f = l - float(base);
        float lo0, hi0, lo1, hi1;
        nearest(base, s, t, lo0, hi0);
        nearest(base + 1, s, t, lo1, hi1);
        low = std::min(low, lo0 * (1 - f) + lo1 * f);
        high = std::max(high, hi0 * (1 - f) + hi1 * f);
    }
    low -= tolerance::mipmapSteps / 255.0f;
    high += tolerance::mipmapSteps / 255.0f;
}

void Model::prepare(QSize size, double seconds) const
{
    if (size == m_preparedSize && seconds == m_preparedSeconds)
        return;
    m_preparedSize = size;
    m_preparedSeconds = seconds;
    const int w = size.width();
    const int h = size.height();
    const float sway = 0.15f * float(std::sin(seconds));
    m_columns.resize(size_t(w));
    for (int column = 0; column < w; ++column) {
        const float uv2x = (float(column) + 0.5f) / float(w);
        const float uvx = (uv2x - 0.5f) / (float(h) / float(w));
        m_columns[size_t(column)] = {uv2x, 0.1f * float(std::sin(uvx + seconds)),
                                     0.1f * float(std::cos(uvx + seconds)), uv2x + sway};
    }
    m_rows.resize(size_t(h));
    for (int row = 0; row < h; ++row) {
        const float uv2y = (float(h - 1 - row) + 0.5f) / float(h);
        m_rows[size_t(row)] = {uv2y, uv2y - 0.5f, 1.0f - uv2y};
    }
    if (!m_levels.empty()) {
        const Level &full = m_levels.front();
        m_lod = std::log2(std::max(float(full.width) / float(w), float(full.height) / float(h)));
        m_reach = (2 << std::max(0, int(std::ceil(m_lod)) + 1)) + 2;
    }
}

Model::Range Model::expected(int column, int row, QSize size, double seconds) const
{
    prepare(size, seconds);
    const Columns &x = m_columns[size_t(column)];
    const Rows &y = m_rows[size_t(row)];

    const float weight = 0.5f - std::fabs(y.uvy);
    const float dark[3] = {0.0f, 0.0f, 0.03f};
    const float light[3] = {0.2f, 0.2f, 0.4f};
    const float band1[3] = {0.2f, 0.2f, 0.4f};
    const float band2[3] = {0.1f, 0.1f, 0.3f};

    float logoLow = 0.0f, logoHigh = 0.0f;
    if (!m_levels.empty())
        sampleLogo(x.logoS, y.logoT, logoLow, logoHigh);

    Range range;
    std::fill(std::begin(range.low), std::end(range.low), 255);
    std::fill(std::begin(range.high), std::end(range.high), 0);
    float weights1[2], weights2[2];
    int count1 = 0, count2 = 0;
    bandWeights(y.uvy + x.bandOffset1, weights1, count1);
    bandWeights(y.uvy + x.bandOffset2, weights2, count2);
    for (int i = 0; i < count1; ++i)
        for (int j = 0; j < count2; ++j)
            for (int c = 0; c < 3; ++c) {
                const float base = dark[c] * (1.0f - weight) + light[c] * weight
                    + weights1[i] * band1[c] + weights2[j] * band2[c];
                range.low[c] = std::min(range.low[c], toByte(base + logoLow));
                range.high[c] = std::max(range.high[c], toByte(base + logoHigh));
            }
    return range;
}

namespace {

// The greeting's outline with its baseline's left end at (x, 200): the same font, pixel size
// and text as the window's, written here again so that a change there shows.
QPainterPath greetingOutline(int x)
{
    QFont font;
    font.setPixelSize(70);
    QPainterPath text;
    text.addText(
        x, 200, font,
        QStringLiteral("Hello Vantle-people! This is my first shader!! Shoutout to tkBlorp, "
                       "Pembo and Gravik for your assistance, THANK YOU! - I thought it was "
                       "time for me to dive deeper into this demo-stuff, so here you go. From "
                       "me to you, you glorious coders!"));
    return text;
}

} // namespace

QRectF greetingBounds()
{
    return greetingOutline(0).boundingRect();
}

QImage greeting(QSize devicePixels, qreal devicePixelRatio, int x)
{
    QImage image(devicePixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    // The outline, filled: Qt's raster engine draws nothing from its glyph cache at this size
    // (its FreeType glyphs stop at 64 pixels), while the window's engine draws images of these
    // same outlines from its cache.
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(greetingOutline(x), QColor(Qt::white));
    return image;
}

QString frameFault(const QImage &frame, const Model &model, double seconds, const QImage &greeting,
                   const QRect &area)
{
    return compareFrame(
        frame, greeting,
        [&](int column, int row, int low[3], int high[3]) {
            const Model::Range range = model.expected(column, row, frame.size(), seconds);
            std::copy(std::begin(range.low), std::end(range.low), low);
            std::copy(std::begin(range.high), std::end(range.high), high);
        },
        area);
}

QString blackFrameFault(const QImage &frame, const QImage &greeting)
{
    return compareFrame(
        frame, greeting,
        [](int, int, int low[3], int high[3]) {
            std::fill(low, low + 3, 0);
            std::fill(high, high + 3, 0);
        },
        QRect());
}

} // namespace picture
