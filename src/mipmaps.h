// mipmaps.h: the next level of a mipmap chain, computed on the CPU.
#pragma once

#include <QImage>

#include <algorithm>
#include <cmath>
#include <vector>

// Each texel of the half-size level samples the level above bilinearly at its own centre, as
// drivers' mipmap blits do: the mean of a 2x2 block where a size is even, and no shift across
// the image where it is odd.
inline QImage halved(const QImage &level)
{
    const QImage source = level.convertToFormat(QImage::Format_RGBA8888);
    const int sw = source.width();
    const int sh = source.height();
    const int w = std::max(1, sw / 2);
    const int h = std::max(1, sh / 2);

    // Even sizes, the large levels: the same samples as below, in integers.
    if (sw % 2 == 0 && sh % 2 == 0) {
        QImage result(w, h, QImage::Format_RGBA8888);
        for (int y = 0; y < h; ++y) {
            const uchar *upper = source.constScanLine(2 * y);
            const uchar *lower = source.constScanLine(2 * y + 1);
            uchar *out = result.scanLine(y);
            for (int i = 0; i < 4 * w; ++i) {
                const int left = 8 * (i / 4) + i % 4;
                const int sum = upper[left] + upper[left + 4] + lower[left] + lower[left + 4];
                out[i] = uchar((sum + 2) / 4);
            }
        }
        return result;
    }

    struct Tap
    {
        int first;
        int second;
        float weight; // of the second
    };
    const auto taps = [](int from, int to) {
        std::vector<Tap> result(static_cast<size_t>(to));
        for (int i = 0; i < to; ++i) {
            const float centre = (float(i) + 0.5f) * float(from) / float(to) - 0.5f;
            const int first = std::clamp(int(std::floor(centre)), 0, from - 1);
            result[size_t(i)] = {first, std::min(first + 1, from - 1), centre - std::floor(centre)};
        }
        return result;
    };
    const std::vector<Tap> columns = taps(sw, w);
    const std::vector<Tap> rows = taps(sh, h);

    QImage result(w, h, QImage::Format_RGBA8888);
    for (int y = 0; y < h; ++y) {
        const Tap &r = rows[size_t(y)];
        const uchar *upper = source.constScanLine(r.first);
        const uchar *lower = source.constScanLine(r.second);
        uchar *out = result.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const Tap &c = columns[size_t(x)];
            for (int channel = 0; channel < 4; ++channel) {
                const float top = upper[4 * c.first + channel] * (1 - c.weight)
                    + upper[4 * c.second + channel] * c.weight;
                const float bottom = lower[4 * c.first + channel] * (1 - c.weight)
                    + lower[4 * c.second + channel] * c.weight;
                out[4 * x + channel] = uchar(std::lround(top * (1 - r.weight) + bottom * r.weight));
            }
        }
    }
    return result;
}

// The whole chain, from the image in RGBA down to one texel; empty for a null image.
inline std::vector<QImage> mipmapChain(const QImage &image)
{
    std::vector<QImage> levels;
    if (image.isNull())
        return levels;
    levels.push_back(image.convertToFormat(QImage::Format_RGBA8888));
    while (levels.back().width() > 1 || levels.back().height() > 1)
        levels.push_back(halved(levels.back()));
    return levels;
}
