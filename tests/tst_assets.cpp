// tst_assets: the embedded collection's entries and the logo's file format and pixels.
#include "logo.h"

#include <QtTest>

#include <QFile>
#include <QImage>
#include <QtEndian>

class TestAssets : public QObject
{
    Q_OBJECT

private slots:
    void entriesExistUnderTheirExactPaths_data();
    void entriesExistUnderTheirExactPaths();
    void shaderStagesDeclareTheirVersions_data();
    void shaderStagesDeclareTheirVersions();
    void logoFileHeader();
    void logoPixelsAreTransparentBlackOrWhite();
};

void TestAssets::entriesExistUnderTheirExactPaths_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("exists");

    QTest::newRow("logo") << ":/Lurvo.png" << true;
    QTest::newRow("vertex stage") << ":/shader.vert" << true;
    QTest::newRow("fragment stage") << ":/shader.frag" << true;
    QTest::newRow("logo in lower case") << ":/lurvo.png" << false;
    QTest::newRow("logo in upper case") << ":/LURVO.PNG" << false;
    QTest::newRow("stage with a capital") << ":/Shader.frag" << false;
    QTest::newRow("under a prefix") << ":/assets/Lurvo.png" << false;
}

void TestAssets::entriesExistUnderTheirExactPaths()
{
    QFETCH(QString, path);
    QFETCH(bool, exists);
    QCOMPARE(QFile::exists(path), exists);
}

void TestAssets::shaderStagesDeclareTheirVersions_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("firstLine");

    QTest::newRow("vertex") << ":/shader.vert" << QByteArray("#version 330 core");
    QTest::newRow("fragment") << ":/shader.frag" << QByteArray("#version 410 core");
}

void TestAssets::shaderStagesDeclareTheirVersions()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, firstLine);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readLine().trimmed(), firstLine);
}

// Walks the PNG chunk list; decoders hide interlacing, bit depth and resolution units.
void TestAssets::logoFileHeader()
{
    QFile file(QStringLiteral(":/Lurvo.png"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray png = file.readAll();
    QVERIFY(png.startsWith("\x89PNG\r\n\x1a\n"));

    QByteArray ihdr, phys;
    for (int pos = 8; pos + 12 <= png.size();) {
        const int length = int(qFromBigEndian<quint32>(png.constData() + pos));
        const QByteArray type = png.mid(pos + 4, 4);
        const QByteArray data = png.mid(pos + 8, length);
        if (type == "IHDR")
            ihdr = data;
        else if (type == "pHYs")
            phys = data;
        pos += 12 + length;
    }

    QCOMPARE(ihdr.size(), 13);
    const auto u32 = [](const QByteArray &bytes, int at) {
        return qFromBigEndian<quint32>(bytes.constData() + at);
    };
    QCOMPARE(int(u32(ihdr, 0)), logo::imageSize.width());
    QCOMPARE(int(u32(ihdr, 4)), logo::imageSize.height());
    QCOMPARE(int(ihdr[8]), 8);  // bits per channel
    QCOMPARE(int(ihdr[9]), 6);  // RGBA
    QCOMPARE(int(ihdr[12]), 0); // not interlaced

    QCOMPARE(phys.size(), 9);
    QCOMPARE(int(u32(phys, 0)), logo::dotsPerMetre);
    QCOMPARE(int(u32(phys, 4)), logo::dotsPerMetre);
    QCOMPARE(int(phys[8]), 1); // metres
}

// The picture adds the colour channels whatever the alpha, so transparent pixels must
// be black and stroke pixels white; the drawing must fill its box exactly.
void TestAssets::logoPixelsAreTransparentBlackOrWhite()
{
    const QImage image
        = QImage(QStringLiteral(":/Lurvo.png")).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.size(), logo::imageSize);

    QRect drawn;
    int faint = 0, opaque = 0;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            if (qAlpha(p) == 0) {
                QVERIFY2(p == 0,
                         qPrintable(QStringLiteral("transparent pixel (%1, %2) is %3")
                                        .arg(x)
                                        .arg(y)
                                        .arg(p, 8, 16, QLatin1Char('0'))));
                continue;
            }
            QVERIFY2(qRed(p) == 255 && qGreen(p) == 255 && qBlue(p) == 255,
                     qPrintable(QStringLiteral("stroke pixel (%1, %2) is %3")
                                    .arg(x)
                                    .arg(y)
                                    .arg(p, 8, 16, QLatin1Char('0'))));
            drawn |= QRect(x, y, 1, 1);
            faint += qAlpha(p) < 64;
            opaque += qAlpha(p) == 255;
        }
    }
    QCOMPARE(drawn, logo::drawingBox);
    // Soft strokes: a fringe of faint pixels around a solid core.
    QVERIFY2(faint > 1000, qPrintable(QString::number(faint)));
    QVERIFY2(opaque > 1000, qPrintable(QString::number(opaque)));
}

QTEST_APPLESS_MAIN(TestAssets)
#include "tst_assets.moc"
