// tst_picture: the built program's picture as the X server shows it, at any scale and speed.
#include "demo_process.h"
#include "picture.h"
#include "x11probe.h"

#include <QtTest>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

namespace {

// Mean column of the logo's white pixels; the greeting never reaches these rows.
double logoCentre(const QImage &screen)
{
    double sum = 0;
    int count = 0;
    for (int y = 340; y < 588; ++y)
        for (int x = 0; x < screen.width(); ++x)
            if (picture::isWhite(screen.pixel(x, y))) {
                sum += x;
                ++count;
            }
    return count ? sum / count : -1.0;
}

// A screenshot with the animation time of its frame, read off the greeting, and the X server's
// time at which that frame was presented.
struct Shot
{
    qint64 presented = -1; // X server milliseconds
    double seconds = 0;    // animation time
    double logo = -1;      // mean column of the logo

    bool isValid() const { return presented >= 0; }
    // From the frame's clock reading to the screen, give or take a constant.
    double lagSeconds() const { return presented / 1000.0 - seconds; }
};

// Of the frames presented in the next milliseconds, the one that reached the screen soonest after
// its clock reading. A frame's way to the screen takes longer whenever the machine is busy, by a
// tenth of a second and more under load, but some frames still pass as quickly as on an idle
// machine. Invalid when no frame showing the greeting was caught.
Shot soonestFrameWithin(X11Probe &x11, int ms)
{
    Shot soonest;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms && x11.waitForFrames(1)) {
        Shot shot;
        const QImage screen = x11.grabTimed(&shot.presented);
        const int left = picture::greetingLeft(screen);
        if (left < 0 || shot.presented < 0)
            continue;
        // 'H' starts 7 pixels right of the pen position.
        shot.seconds = (2000.0 - (left - 7)) / 100.0;
        shot.logo = logoCentre(screen);
        if (!soonest.isValid() || shot.lagSeconds() < soonest.lagSeconds())
            soonest = shot;
    }
    return soonest;
}

} // namespace

class TestPicture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void coversTheScreen_data();
    void coversTheScreen();
    void firstFrameCoversTheScreen();
    void greetingAtTheOutputsScale();
    void greetingKeepsItsSpeedAndTheLogoSways();
    void pointerIsBlankFromTheFirstFrame();
    void coveredItDrawsNothing();

private:
    std::unique_ptr<X11Probe> m_x11;
};

void TestPicture::initTestCase()
{
    m_x11 = std::make_unique<X11Probe>();
    QVERIFY2(m_x11->isOpen(), "no X display: run this through tests/support/virtual-display.sh");
}

void TestPicture::coversTheScreen_data()
{
    QTest::addColumn<QString>("scale");
    QTest::addColumn<QByteArray>("resources");
    QTest::newRow("scale 1") << QStringLiteral("1") << QByteArray();
    QTest::newRow("scale 2") << QStringLiteral("2") << QByteArray();
    QTest::newRow("scale 1.5") << QStringLiteral("1.5") << QByteArray();
    // Qt 6 scales by the desktop's font resolution: ratio 1.5 here. Qt 5 does not.
    QTest::newRow("desktop at 144 dpi") << QString() << QByteArray("Xft.dpi:\t144\n");
}

void TestPicture::coversTheScreen()
{
    QFETCH(QString, scale);
    QFETCH(QByteArray, resources);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!scale.isEmpty())
        environment.insert(QStringLiteral("QT_SCALE_FACTOR"), scale);
    m_x11->setResources(resources);
    Demo demo({}, environment);
    m_x11->setResources({});
    QVERIFY2(demo.waitForPicture(*m_x11), demo.output().constData());

    // The pointer over the picture, where only the background shows. Moving it onto the window
    // is what makes a compositor apply the window's pointer.
    const QRect output = desktop::output(*m_x11);
    const QPoint pointer = output.topLeft() + QPoint(output.width() / 2, output.height() / 4);
    for (int dx : {-1, 0}) {
        const QString moved
            = runTool(QStringLiteral("xdotool"),
                      {QStringLiteral("mousemove"), QString::number(pointer.x() + dx),
                       QString::number(pointer.y())});
        QVERIFY2(moved.isEmpty(), qPrintable(moved));
    }
    QVERIFY(m_x11->waitForFrames(3));
    // What the screen shows, which a compositing window manager may still be fading in: a
    // fault must last a second to count. Taken within seconds of the start all the same: at
    // scale 1.5 the greeting, once in view, crosses the row three quarters up.
    const auto screenFault = [this, output, pointer] {
        const QImage frame = m_x11->grab(output);
        QString fault = picture::invariantRowFault(frame);
        // A compositor may draw the pointer into its picture; an X server keeps it apart.
        if (fault.isEmpty())
            fault = picture::backgroundFault(
                frame, QRect(pointer - output.topLeft() - QPoint(8, 0), QSize(48, 40)));
        if (fault.isEmpty() && m_x11->visiblePointerPixels() != 0)
            fault = QStringLiteral("the pointer shows");
        return fault;
    };
    QString fault = screenFault();
    QElapsedTimer timer;
    timer.start();
    while (!fault.isEmpty() && timer.elapsed() < 1000) {
        QTest::qWait(50);
        fault = screenFault();
    }
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    // One output whole, and no other.
    for (const QRect &other : desktop::outputs(*m_x11)) {
        if (other != output)
            QVERIFY2(!picture::invariantRowFault(m_x11->grab(other)).isEmpty(),
                     qPrintable(QStringLiteral("the picture shows on the output at %1,%2 as well")
                                    .arg(other.x())
                                    .arg(other.y())));
    }

    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

// The first frame the desktop is given is already at the screen's size: a compositor may keep
// the size of the first frame it sees.
void TestPicture::firstFrameCoversTheScreen()
{
    const QSize screen = desktop::output(*m_x11).size();
    QSize first;
    QByteArray printed;
    if (desktop::isWayland()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("WAYLAND_DEBUG"), QStringLiteral("client"));
        Demo demo({}, environment);
        QVERIFY2(demo.waitForPicture(*m_x11), "no picture");
        QVERIFY(sendKeys({QStringLiteral("Escape")}).isEmpty());
        const int status = demo.waitForExit();
        for (const QByteArray &line : demo.output().split('\n')) {
            // Protocol lines start with their time in brackets; anything else is the demo's.
            if (!line.isEmpty() && !line.startsWith('['))
                printed += line + '\n';
        }
        QVERIFY2(status == 0,
                 qPrintable(QStringLiteral("exit status %1, printed: %2")
                                .arg(status)
                                .arg(QString::fromLocal8Bit(printed))));
        first = firstWaylandFrameSize(demo.output());
    } else {
        m_x11->watchNewWindows();
        Demo demo;
        QRect drawn;
        QVERIFY2(m_x11->waitForFirstFrameOf(demo.pid(), 20000, &drawn), "no frame");
        first = drawn.size();
        QVERIFY(demo.waitForPicture(*m_x11));
        const QString quit = quitFault(demo);
        QVERIFY2(quit.isEmpty(), qPrintable(quit));
    }
    QVERIFY2(printed.isEmpty(), printed.constData());
    QCOMPARE(first, screen);
}

namespace {

// The rows of the first glyph's left stem, in device pixels: the first column of ink at least
// half covered in the band of rows the greeting takes above the logo, down that column.
struct Stem
{
    int top = -1;
    int bottom = -1;
};
Stem firstStem(const QImage &image, qreal scale, const std::function<bool(QRgb)> &ink)
{
    const int first = qRound(110 * scale);
    const int last = qRound(225 * scale);
    for (int x = 0; x < image.width(); ++x) {
        Stem stem;
        for (int y = first; y <= last; ++y) {
            if (ink(image.pixel(x, y))) {
                if (stem.top < 0)
                    stem.top = y;
                stem.bottom = y;
            }
        }
        if (stem.top >= 0)
            return stem;
    }
    return {};
}

} // namespace

// A compositor that scales its output by a fraction (wp_fractional_scale_v1, which Qt uses since
// 6.5): the picture in the output's own pixels, edge to edge, and the greeting at its size in
// device-independent pixels, as the reference draws it at that scale.
void TestPicture::greetingAtTheOutputsScale()
{
    const qreal scale = qEnvironmentVariable("VIRTUAL_DISPLAY_SCALE").toDouble();
    if (scale <= 0)
        QSKIP("the desktop's output has no scale of its own; VIRTUAL_DISPLAY_SCALE sets one");
    Demo demo;
    QVERIFY2(demo.waitForPicture(*m_x11), demo.output().constData());
    const QRect output = desktop::output(*m_x11);
    const auto white = [](QRgb p) { return picture::isWhite(p); };
    QImage frame = m_x11->grab(output);
    QTRY_VERIFY_WITH_TIMEOUT(firstStem(frame = m_x11->grab(output), scale, white).top >= 0, 10000);
    const QString fault = picture::invariantRowFault(frame);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));

    const QImage reference = picture::greeting(output.size(), scale, 100);
    const Stem expected = firstStem(reference, scale, [](QRgb p) { return qAlpha(p) >= 128; });
    const Stem shown = firstStem(frame, scale, white);
    QVERIFY(expected.top >= 0);
    QVERIFY2(qAbs(shown.top - expected.top) <= 1 && qAbs(shown.bottom - expected.bottom) <= 1,
             qPrintable(QStringLiteral("the greeting's first stem covers rows %1 to %2, the "
                                       "reference's at scale %3 rows %4 to %5")
                            .arg(shown.top)
                            .arg(shown.bottom)
                            .arg(scale)
                            .arg(expected.top)
                            .arg(expected.bottom)));
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

// Each screenshot tells its own animation time through the greeting's position, and the X server
// tells when its frame was presented; neither depends on how quickly this test runs.
void TestPicture::greetingKeepsItsSpeedAndTheLogoSways()
{
    Demo demo;
    const unsigned long window = demo.waitForPicture(*m_x11);
    QVERIFY(window);
    m_x11->timeFrames(window);

    // The greeting starts at x = 2000 and enters a 1920-pixel screen after 0.8 s.
    QTest::qWait(1000);
    QVector<Shot> shots;
    for (int span : {1500, 2000, 2000}) {
        const Shot shot = soonestFrameWithin(*m_x11, span);
        QVERIFY2(shot.isValid(), "no greeting, or no frame, on screen");
        shots.append(shot);
    }

    // 100 pixels per second of real time: over the whole span, within what differs between the
    // soonest frames' delays from their clock reading to their presentation, at most 100 ms.
    const double animated = shots.last().seconds - shots.first().seconds;
    const double real = (shots.last().presented - shots.first().presented) / 1000.0;
    QVERIFY2(std::abs(animated - real) <= 0.1,
             qPrintable(
                 QStringLiteral("the greeting moved %1 s worth in %2 s").arg(animated).arg(real)));

    // The logo's sway follows the same time.
    bool swayed = false;
    for (int i = 1; i < shots.size(); ++i) {
        const Shot &a = shots[i - 1];
        const Shot &b = shots[i];
        const double predicted = -0.15 * (std::sin(b.seconds) - std::sin(a.seconds)) * 1920.0;
        QVERIFY2(std::abs((b.logo - a.logo) - predicted) <= 20,
                 qPrintable(QStringLiteral("logo moved %1 px between %2 s and %3 s, expected %4")
                                .arg(b.logo - a.logo)
                                .arg(a.seconds)
                                .arg(b.seconds)
                                .arg(predicted)));
        swayed = swayed || std::abs(predicted) >= 40;
    }
    QVERIFY2(swayed, "the samples fell where the sway barely moves; widen the interval");
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

void TestPicture::pointerIsBlankFromTheFirstFrame()
{
    const QString moved
        = runTool(QStringLiteral("xdotool"),
                  {QStringLiteral("mousemove"), QStringLiteral("960"), QStringLiteral("540")});
    QVERIFY2(moved.isEmpty(), qPrintable(moved));
    QVERIFY2(m_x11->visiblePointerPixels() > 0,
             "the root window's pointer should be visible before the start");

    Demo demo;
    // Sample the pointer image from the moment the window is mapped, before and after the first
    // picture.
    QElapsedTimer timer;
    timer.start();
    while (m_x11->windowsOf(demo.pid()).isEmpty() && timer.elapsed() < 20000)
        QTest::qWait(5);
    QVERIFY(!m_x11->windowsOf(demo.pid()).isEmpty());
    for (int sample = 0; sample < 40; ++sample) {
        QCOMPARE(m_x11->visiblePointerPixels(), 0);
        QTest::qWait(25);
    }
    QVERIFY(demo.waitForPicture(*m_x11));
    QCOMPARE(m_x11->visiblePointerPixels(), 0);
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

// Covered by another window (without a compositing manager, which keeps every window visible to
// the X server), the demo draws nothing and costs nothing; seen again, it draws at once.
void TestPicture::coveredItDrawsNothing()
{
    Demo demo;
    const unsigned long window = demo.waitForPicture(*m_x11);
    QVERIFY(window);
    const unsigned long cover = m_x11->cover(desktop::output(*m_x11));
    QVERIFY(cover);
    // A frame under way when the cover came may still end.
    QTest::qWait(300);
    const double share = coreShareOver(demo.pid(), 2000);
    m_x11->countFrames(window);
    m_x11->destroyWindow(cover);
    QVERIFY2(share >= 0 && share <= 0.02,
             qPrintable(QStringLiteral("covered, it used %1% of a core").arg(share * 100)));
    QVERIFY2(m_x11->waitForFrames(3, 3000), "no frames once seen again");
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

int main(int argc, char **argv)
{
    // The greeting's reference needs the fonts, and so an application with a platform: one that
    // shows nothing, whatever desktop the demo runs on.
    std::vector<char *> arguments(argv, argv + argc);
    char platform[] = "-platform";
    char offscreen[] = "offscreen";
    arguments.insert(arguments.begin() + 1, {platform, offscreen});
    int count = int(arguments.size());
    QGuiApplication app(count, arguments.data());
    TestPicture test;
    return QTest::qExec(&test, count, arguments.data());
}
#include "tst_picture.moc"
