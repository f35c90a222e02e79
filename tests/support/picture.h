// picture.h: what the demo's frames must show, computed on the CPU, and checks of frames.
//
// The fragment formula, the greeting as the painter draws it on an image, and the comparison of
// whole frames with both.
#pragma once

#include <QImage>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>

#include <vector>

namespace picture {

QString describeColour(QRgb p);

// The greeting's and the logo's white, as a screenshot shows them.
bool isWhite(QRgb p);
// Left end of the greeting's white pixels around its baseline, or -1 when none show.
int greetingLeft(const QImage &screen);

// The time-invariant rows, edge to edge: the gradient's edges, the row three quarters up
// (outside both bands and the logo) and mid-height (always inside a band). Empty when all hold.
QString invariantRowFault(const QImage &frame);

// The background alone, row by row, over an area of a frame that neither band, the logo nor the
// greeting can reach (rows a quarter of the height from the top, say). Empty when all hold.
QString backgroundFault(const QImage &frame, const QRect &area);

// The fragment formula of the demo, with the logo sampled as the window's texture samples it.
class Model
{
public:
    // A null logo models a window whose logo could not be decoded.
    explicit Model(const QImage &logo);

    // Lowest and highest 8-bit value each channel may take at a framebuffer pixel (row 0 at
    // the top) of a frame of the given size in device pixels, at a time in seconds since the
    // window's set-up, taken exactly.
    struct Range
    {
        int low[3];
        int high[3];
    };
    Range expected(int column, int row, QSize size, double seconds) const;

private:
    struct Level
    {
        int width;
        int height;
        std::vector<float> white; // colour channels, all equal, 0..1, as stored in 8 bits
    };
    static Level halved(const Level &above);
    float texel(const Level &level, int x, int y) const;
    float bilinear(float s, float t) const;
    void nearest(int index, float s, float t, float &low, float &high) const;
    void sampleLogo(float s, float t, float &low, float &high) const;

    std::vector<Level> m_levels; // the logo's mipmap chain, from the full image down to 1x1
    QRect m_drawn;               // where the full image has anything but black

    // What depends on only the column or only the row, computed once per frame size and time.
    struct Columns
    {
        float uv2x, bandOffset1, bandOffset2, logoS;
    };
    struct Rows
    {
        float uv2y, uvy, logoT;
    };
    void prepare(QSize size, double seconds) const;
    mutable QSize m_preparedSize;
    mutable double m_preparedSeconds = 0;
    mutable float m_lod = 0; // log2 of texels per pixel
    mutable int m_reach = 0; // how far from a sample, in full-size texels, filtering reaches
    mutable std::vector<Columns> m_columns;
    mutable std::vector<Rows> m_rows;
};

// The greeting, drawn independently of the window: its outline filled on an image of the
// frame's device-pixel size and ratio, same font, pixel size, text and position, in white on
// transparent; alpha holds its coverage.
QImage greeting(QSize devicePixels, qreal devicePixelRatio, int x);
// Where the greeting's outline lies, in the window's device-independent pixels, with its
// baseline's left end at (0, 200).
QRectF greetingBounds();

// Compares a frame with the model's picture under the greeting's coverage: the whole frame, or
// only the given area of it. Within a glyph the frame may differ from the reference by the
// coverage that antialiasing changes, nowhere else. Empty when the frame matches; else how many
// pixels differ and the first.
QString frameFault(const QImage &frame, const Model &model, double seconds, const QImage &greeting,
                   const QRect &area = QRect());

// As frameFault, for a frame whose shader pass was skipped: black under the greeting.
QString blackFrameFault(const QImage &frame, const QImage &greeting);

} // namespace picture
