// tst_long_run: the built program over thousands of frames, the server's idle time it resets
// meanwhile, and after a year of uptime.
#include "demo_process.h"
#include "x11probe.h"

#include <QtTest>

#include <QTemporaryFile>

#include <memory>

class TestLongRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void thousandsOfFramesPrintNothing();
    void pictureKeepsMovingAfterAYear();

private:
    std::unique_ptr<X11Probe> m_x11;
};

void TestLongRun::initTestCase()
{
    m_x11 = std::make_unique<X11Probe>();
    QVERIFY2(m_x11->isOpen(), "no X display: run this through tests/support/virtual-display.sh");
}

// With the program's clock ten times as fast (libfaketime), the idle time reset it repeats every
// 30 s of its own time while watched comes every 3 s: the X server's idle time, which the
// session's idle watchers read, must stay below that, over several intervals.
void TestLongRun::thousandsOfFramesPrintNothing()
{
    const qint64 resetMs = 30000 / 10;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(FAKETIME_LIBRARY));
    environment.insert(QStringLiteral("FAKETIME"), QStringLiteral("+0 x10"));
    Demo demo({}, environment);
    QVERIFY(demo.waitForPicture(*m_x11));
    QElapsedTimer timer;
    timer.start();
    qint64 longestIdleMs = 0;
    // Over two and a half intervals at least, however quickly the frames come.
    while ((m_x11->framesCounted() < 2000 || timer.elapsed() < 5 * resetMs / 2)
           && timer.elapsed() < 120000) {
        m_x11->waitForFrames(100, 10000);
        longestIdleMs = qMax(longestIdleMs, m_x11->idleMs());
    }
    const bool presented = m_x11->framesCounted() >= 2000;
    qInfo("%d frames in %.1f s; the server idle at most %lld ms", m_x11->framesCounted(),
          timer.elapsed() / 1000.0, longestIdleMs);
    QVERIFY2(presented,
             qPrintable(QStringLiteral("only %1 frames in 2 minutes").arg(m_x11->framesCounted())));
    QVERIFY2(longestIdleMs < resetMs + 1500,
             qPrintable(QStringLiteral("the server's idle time reached %1 ms").arg(longestIdleMs)));
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

// libfaketime moves the monotonic clock a year forward under the running program. A clock that
// coarsens with uptime would then repeat frames: at a year a float of seconds moves every 2 s.
void TestLongRun::pictureKeepsMovingAfterAYear()
{
    QTemporaryFile offset;
    QVERIFY(offset.open());
    offset.write("+0\n");
    offset.flush();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(FAKETIME_LIBRARY));
    environment.insert(QStringLiteral("FAKETIME_TIMESTAMP_FILE"), offset.fileName());
    environment.insert(QStringLiteral("FAKETIME_NO_CACHE"), QStringLiteral("1"));
    Demo demo({}, environment);
    QVERIFY2(demo.waitForPicture(*m_x11), demo.output().constData());

    QVERIFY(offset.resize(0) && offset.seek(0));
    offset.write("+365d\n");
    offset.flush();
    QVERIFY(m_x11->waitForFrames(3));

    // Below the greeting, whose own clock is exact at any uptime.
    const QSize screen = m_x11->screenSize();
    const QRect picture(0, 300, screen.width(), screen.height() - 300);
    QImage previous = m_x11->grab(picture);
    int repeated = 0;
    for (int shot = 0; shot < 10; ++shot) {
        QVERIFY(m_x11->waitForFrames(2));
        const QImage next = m_x11->grab(picture);
        repeated += next == previous;
        previous = next;
    }
    QVERIFY2(
        repeated == 0,
        qPrintable(QStringLiteral("%1 of 10 screenshots, two frames apart, repeated the one before")
                       .arg(repeated)));
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

QTEST_GUILESS_MAIN(TestLongRun)
#include "tst_long_run.moc"
