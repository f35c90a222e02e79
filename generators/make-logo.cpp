// make-logo: draws the demo's logo (a signature and a heart), and the same drawing as its icon.
//
//   make-logo LOGO.png               the logo
//   make-logo --icons DIR SIZE...    DIR/NxN/scrolldemo.png for each size, and
//                                    DIR/scalable/scrolldemo.svg
//
// The demo adds the logo's colour channels to its picture and ignores alpha, so every pixel of
// the logo is either fully transparent black or white with the stroke's coverage in alpha. The
// drawing is fitted so that its soft strokes touch, and stay inside, the box the demo's layout
// expects. The icon draws the same strokes in white on the demo's dark blue.

#include "logo.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRect>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int imageWidth = logo::imageSize.width();
constexpr int imageHeight = logo::imageSize.height();
constexpr QRect drawingBox = logo::drawingBox;
constexpr qreal penWidth = 6.5;

// Cursive loops along a baseline that climbs to the right, one loop per letter.
void addLetters(QPainterPath &path, QPointF start)
{
    const qreal heights[] = {58, 112, 44, 48, 104, 52, 40};
    const qreal advance = 13.0;
    const qreal swing = 21.0;
    const qreal climb = -0.30;
    const int stepsPerLetter = 96;
    const int letters = int(sizeof heights / sizeof heights[0]);
    const qreal twoPi = 2.0 * M_PI;
    for (int i = 1; i <= letters * stepsPerLetter; ++i) {
        const qreal s = twoPi * i / stepsPerLetter;
        const int letter = qMin(int(s / twoPi), letters - 1);
        const qreal x = start.x() + advance * s + swing * std::sin(s);
        const qreal y
            = start.y() + climb * (x - start.x()) - heights[letter] * (1.0 - std::cos(s)) / 2.0;
        path.lineTo(x, y);
    }
}

// A small outlined heart, slightly tilted, with its tip at the given point.
QPainterPath heart(QPointF tip)
{
    const qreal w = 54;
    const qreal h = 56;
    QPainterPath outline;
    outline.moveTo(tip);
    outline.cubicTo(tip.x() - 0.75 * w, tip.y() - 0.45 * h, tip.x() - 0.55 * w, tip.y() - 1.15 * h,
                    tip.x() - 0.02 * w, tip.y() - 0.78 * h);
    outline.cubicTo(tip.x() + 0.45 * w, tip.y() - 1.2 * h, tip.x() + 0.8 * w, tip.y() - 0.55 * h,
                    tip.x() + 0.04 * w, tip.y() + 0.02 * h);
    return QTransform()
        .translate(tip.x(), tip.y())
        .rotate(-12)
        .translate(-tip.x(), -tip.y())
        .map(outline);
}

QPainterPath signature()
{
    QPainterPath path;
    // A looped capital: up to the top, back down below the baseline, into the letters.
    path.moveTo(0, 12);
    path.cubicTo(38, -36, 92, -168, 62, -192);
    path.cubicTo(36, -210, 18, -150, 44, -92);
    path.cubicTo(60, -52, 72, 2, 42, 18);
    path.cubicTo(22, 28, 8, 8, 66, -6);
    addLetters(path, path.currentPosition());
    // A closing flourish that swings down and under the name, then back up to the right.
    const QPointF end = path.currentPosition();
    path.cubicTo(end.x() + 30, end.y() + 60, end.x() - 260, end.y() + 210, end.x() - 420,
                 end.y() + 190);
    path.cubicTo(end.x() - 300, end.y() + 150, end.x() - 80, end.y() + 70, end.x() + 40,
                 end.y() - 10);
    // The heart after the flourish.
    path.addPath(heart(QPointF(end.x() + 110, end.y() - 8)));
    return path;
}

// Renders the path's antialiased coverage and softens it, so stroke edges fade out
// gradually instead of within one pixel.
std::vector<int> renderAlpha(const QPainterPath &path)
{
    QImage canvas(imageWidth, imageHeight, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::white, penWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
    }

    std::vector<float> alpha(size_t(imageWidth) * imageHeight);
    for (int y = 0; y < imageHeight; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(canvas.constScanLine(y));
        for (int x = 0; x < imageWidth; ++x)
            alpha[size_t(y) * imageWidth + x] = float(qAlpha(line[x]));
    }

    std::vector<float> tmp(alpha.size());
    for (int pass = 0; pass < 2; ++pass) {
        for (int y = 0; y < imageHeight; ++y)
            for (int x = 0; x < imageWidth; ++x) {
                const size_t i = size_t(y) * imageWidth + x;
                const float l = x > 0 ? alpha[i - 1] : 0.0f;
                const float r = x + 1 < imageWidth ? alpha[i + 1] : 0.0f;
                tmp[i] = (l + 2.0f * alpha[i] + r) / 4.0f;
            }
        for (int y = 0; y < imageHeight; ++y)
            for (int x = 0; x < imageWidth; ++x) {
                const size_t i = size_t(y) * imageWidth + x;
                const float u = y > 0 ? tmp[i - imageWidth] : 0.0f;
                const float d = y + 1 < imageHeight ? tmp[i + imageWidth] : 0.0f;
                alpha[i] = (u + 2.0f * tmp[i] + d) / 4.0f;
            }
    }

    std::vector<int> result(alpha.size());
    for (size_t i = 0; i < alpha.size(); ++i)
        result[i] = qBound(0, int(std::lround(alpha[i])), 255);
    return result;
}

QRect paintedBounds(const std::vector<int> &alpha)
{
    QRect bounds;
    for (int y = 0; y < imageHeight; ++y)
        for (int x = 0; x < imageWidth; ++x)
            if (alpha[size_t(y) * imageWidth + x] > 0)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

// Maps the path's geometric bounds onto the box shrunk by per-side margins, and
// corrects the margins until the softened strokes cover exactly the box.
std::vector<int> fitToBox(const QPainterPath &artwork)
{
    const QRectF source = artwork.boundingRect();
    qreal left = penWidth, top = penWidth, right = penWidth, bottom = penWidth;
    for (int attempt = 0; attempt < 40; ++attempt) {
        const QRectF target(
            QPointF(drawingBox.left() + left, drawingBox.top() + top),
            QPointF(drawingBox.right() + 1 - right, drawingBox.bottom() + 1 - bottom));
        const QTransform fit
            = QTransform()
                  .translate(target.left(), target.top())
                  .scale(target.width() / source.width(), target.height() / source.height())
                  .translate(-source.left(), -source.top());
        std::vector<int> alpha = renderAlpha(fit.map(artwork));
        const QRect painted = paintedBounds(alpha);
        if (painted == drawingBox)
            return alpha;
        // Half steps: coverage thresholds make full corrections overshoot.
        left += 0.5 * (drawingBox.left() - painted.left());
        top += 0.5 * (drawingBox.top() - painted.top());
        right += 0.5 * (painted.right() - drawingBox.right());
        bottom += 0.5 * (painted.bottom() - drawingBox.bottom());
    }
    return {};
}

int writeLogo(const QString &path)
{
    const std::vector<int> alpha = fitToBox(signature());
    if (alpha.empty()) {
        std::fprintf(stderr, "make-logo: the drawing could not be fitted to its box\n");
        return 1;
    }

    QImage image(imageWidth, imageHeight, QImage::Format_ARGB32);
    for (int y = 0; y < imageHeight; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < imageWidth; ++x) {
            const int a = alpha[size_t(y) * imageWidth + x];
            line[x] = a > 0 ? qRgba(255, 255, 255, a) : qRgba(0, 0, 0, 0);
        }
    }
    image.setDotsPerMeterX(logo::dotsPerMetre);
    image.setDotsPerMeterY(logo::dotsPerMetre);

    QImageWriter writer(path, "png");
    if (!writer.write(image)) {
        std::fprintf(stderr, "make-logo: %s\n", qPrintable(writer.errorString()));
        return 1;
    }
    return 0;
}

// The icon: a rounded square with the demo's vertical gradient, darkest at the top and bottom
// edges, and the logo's strokes in white centred on it.
const QColor iconEdge = QColor::fromRgbF(0.0, 0.0, 0.03);
const QColor iconMiddle = QColor::fromRgbF(0.1, 0.1, 0.215);

struct IconDesign
{
    QPainterPath drawing; // in the icon's pixels
    qreal pen;
    qreal corner;
};

// From 64 pixels on, the signature and the heart, with a pen of at least two pixels. Below
// that the signature's loops run together into a smudge, so the heart alone stands for the
// logo, drawn thick enough to stay an outline.
IconDesign iconDesign(int size)
{
    const bool small = size < 64;
    const QPainterPath strokes = small ? heart(QPointF(0, 0)) : signature();
    const qreal pen = small ? size / 9.0 : std::max(2.0, size * 7.0 / 256.0);
    const qreal margin = small ? size / 8.0 : size * 24.0 / 256.0;
    const QRectF source = strokes.boundingRect();
    const qreal room = size - 2 * (margin + pen / 2);
    const qreal scale = room / std::max(source.width(), source.height());
    const QPainterPath drawing = QTransform()
                                     .translate(size / 2.0, size / 2.0)
                                     .scale(scale, scale)
                                     .translate(-source.center().x(), -source.center().y())
                                     .map(strokes);
    return {drawing, pen, size / 8.0};
}

// %1 size, %2 and %3 the gradient's edge and middle, %4 corner radius, %5 pen width, %6 path.
const char *const svgTemplate = R"svg(<svg xmlns="http://www.w3.org/2000/svg"
     width="%1" height="%1" viewBox="0 0 %1 %1">
  <defs>
    <linearGradient id="sky" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="%2"/>
      <stop offset="0.5" stop-color="%3"/>
      <stop offset="1" stop-color="%2"/>
    </linearGradient>
  </defs>
  <rect width="%1" height="%1" rx="%4" fill="url(#sky)"/>
  <path fill="none" stroke="#ffffff" stroke-width="%5"
        stroke-linecap="round" stroke-linejoin="round"
        d="%6"/>
</svg>
)svg";

QString svgPathData(const QPainterPath &path)
{
    QString data;
    const auto point = [](qreal x, qreal y) {
        return QStringLiteral("%1 %2 ").arg(x, 0, 'f', 2).arg(y, 0, 'f', 2);
    };
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        if (e.isMoveTo()) {
            data += QLatin1Char('M') + point(e.x, e.y);
        } else if (e.isLineTo()) {
            data += QLatin1Char('L') + point(e.x, e.y);
        } else if (e.isCurveTo() && i + 2 < path.elementCount()) {
            const QPainterPath::Element c2 = path.elementAt(i + 1);
            const QPainterPath::Element end = path.elementAt(i + 2);
            data += QLatin1Char('C') + point(e.x, e.y) + point(c2.x, c2.y) + point(end.x, end.y);
            i += 2;
        }
    }
    return data.trimmed();
}

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size())
        return true;
    std::fprintf(stderr, "make-logo: cannot write %s\n", qPrintable(path));
    return false;
}

bool writePngIcon(const QString &path, int size)
{
    const IconDesign design = iconDesign(size);
    QImage png(size, size, QImage::Format_ARGB32_Premultiplied);
    png.fill(Qt::transparent);
    {
        QPainter painter(&png);
        painter.setRenderHint(QPainter::Antialiasing);
        QLinearGradient sky(0, 0, 0, size);
        sky.setColorAt(0.0, iconEdge);
        sky.setColorAt(0.5, iconMiddle);
        sky.setColorAt(1.0, iconEdge);
        painter.setPen(Qt::NoPen);
        painter.setBrush(sky);
        painter.drawRoundedRect(QRectF(0, 0, size, size), design.corner, design.corner);
        painter.setPen(QPen(Qt::white, design.pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(design.drawing);
    }
    if (png.save(path, "png"))
        return true;
    std::fprintf(stderr, "make-logo: cannot write %s\n", qPrintable(path));
    return false;
}

// DIR/NxN/scrolldemo.png for each size, and DIR/scalable/scrolldemo.svg.
int writeIcons(const QString &dir, const QList<int> &sizes)
{
    const QDir root(dir);
    for (int size : sizes) {
        const QString sized = QStringLiteral("%1x%1").arg(size);
        if (!root.mkpath(sized)
            || !writePngIcon(root.filePath(sized + QStringLiteral("/scrolldemo.png")), size))
            return 1;
    }
    const int vectorSize = 256;
    const IconDesign design = iconDesign(vectorSize);
    const QString svg = QString::fromLatin1(svgTemplate)
                            .arg(vectorSize)
                            .arg(iconEdge.name(), iconMiddle.name())
                            .arg(design.corner)
                            .arg(design.pen)
                            .arg(svgPathData(design.drawing));
    if (!root.mkpath(QStringLiteral("scalable"))
        || !writeFile(root.filePath(QStringLiteral("scalable/scrolldemo.svg")), svg.toUtf8()))
        return 1;
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 4 && QByteArray(argv[1]) == "--icons") {
        QList<int> sizes;
        for (int i = 3; i < argc; ++i)
            sizes << std::atoi(argv[i]);
        if (std::all_of(sizes.begin(), sizes.end(), [](int size) { return size > 0; }))
            return writeIcons(QString::fromLocal8Bit(argv[2]), sizes);
    }
    if (argc == 2 && argv[1][0] != '-')
        return writeLogo(QString::fromLocal8Bit(argv[1]));
    std::fprintf(stderr, "usage: %s LOGO.png | --icons DIR SIZE...\n", argv[0]);
    return 2;
}
