// picture.h: what the demo's picture shows whatever the time, checked the same way in and out of process.
#pragma once

#include <QImage>
#include <QString>

inline QString describeColour(QRgb p)
{
    return QStringLiteral("(%1, %2, %3)").arg(qRed(p)).arg(qGreen(p)).arg(qBlue(p));
}

inline bool near(QRgb p, int r, int g, int b, int tolerance = 2)
{
    return qAbs(qRed(p) - r) <= tolerance && qAbs(qGreen(p) - g) <= tolerance && qAbs(qBlue(p) - b) <= tolerance;
}

// The time-invariant rows, edge to edge: the gradient's edges, the row three quarters
// up (outside both bands and the logo) and mid-height (always inside a band, and the
// weaker band alone lifts blue from 0.215 to 0.515). Empty when all hold.
inline QString invariantRowFault(const QImage &picture)
{
    const int w = picture.width();
    const int h = picture.height();
    const struct
    {
        const char *name;
        int y;
    } rows[] = {{"top row", 0}, {"bottom row", h - 1}, {"row three quarters up", h / 4}, {"mid-height row", h / 2}};
    for (const auto &row : rows) {
        for (int x = 0; x < w; ++x) {
            const QRgb p = picture.pixel(x, row.y);
            const bool ok = row.y == h / 2 ? qBlue(p) >= 128
                          : row.y == h / 4 ? near(p, 13, 13, 31)
                                           : near(p, 0, 0, 8);
            if (!ok)
                return QStringLiteral("%1 (y = %2) at x = %3 is %4 in a %5x%6 picture")
                    .arg(QLatin1String(row.name)).arg(row.y).arg(x).arg(describeColour(p)).arg(w).arg(h);
        }
    }
    return {};
}
