// mipmaps.h: the next level of a mipmap chain, computed on the CPU.
#pragma once

#include <QImage>

#include <algorithm>

// Each texel is the rounded mean of the 2x2 block above it, per channel, as drivers' box filters
// make it; a level of odd size leaves its last row or column out, as the halved size does.
inline QImage halved(const QImage &level)
{
    const QImage source = level.convertToFormat(QImage::Format_RGBA8888);
    const int w = std::max(1, source.width() / 2);
    const int h = std::max(1, source.height() / 2);
    const int lastX = source.width() - 1;
    const int lastY = source.height() - 1;
    QImage result(w, h, QImage::Format_RGBA8888);
    for (int y = 0; y < h; ++y) {
        const uchar *upper = source.constScanLine(std::min(2 * y, lastY));
        const uchar *lower = source.constScanLine(std::min(2 * y + 1, lastY));
        uchar *out = result.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const int left = 4 * std::min(2 * x, lastX);
            const int right = 4 * std::min(2 * x + 1, lastX);
            for (int c = 0; c < 4; ++c) {
                const int sum = upper[left + c] + upper[right + c] + lower[left + c] + lower[right + c];
                out[4 * x + c] = uchar((sum + 2) / 4);
            }
        }
    }
    return result;
}
