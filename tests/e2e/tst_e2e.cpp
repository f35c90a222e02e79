// tst_e2e: the built program started as a user starts it, watched from outside on a
// virtual X display with a window manager: its picture, pointer, keys and options.
#include "picture.h"
#include "x11probe.h"

#include <QtTest>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <cmath>
#include <memory>

namespace {

bool isWhite(QRgb p)
{
    return qRed(p) >= 250 && qGreen(p) >= 250 && qBlue(p) >= 250;
}

// The demo as a child process, with its output kept for inspection.
class Demo
{
public:
    explicit Demo(const QStringList &arguments = {}, const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        m_process.setProgram(QStringLiteral(PROGRAM));
        m_process.setArguments(arguments);
        m_process.setProcessEnvironment(environment);
        m_process.start();
        m_process.waitForStarted();
    }

    ~Demo()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    qint64 pid() const { return m_process.processId(); }
    bool running() const { return m_process.state() == QProcess::Running; }

    // Waits until the window is mapped and has presented a few frames.
    unsigned long waitForPicture(X11Probe &x11, int timeoutMs = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        unsigned long window = 0;
        while (!window && timer.elapsed() < timeoutMs && running()) {
            const QVector<unsigned long> windows = x11.windowsOf(pid());
            if (windows.isEmpty())
                QTest::qWait(20);
            else
                window = windows.first();
        }
        if (!window)
            return 0;
        x11.countFrames(window);
        while (x11.framesCounted() < 3 && timer.elapsed() < timeoutMs && running())
            QThread::usleep(1000);
        return x11.framesCounted() >= 3 ? window : 0;
    }

    // Exit status once it ends by itself, or -1 if it is still running after the timeout.
    int waitForExit(int timeoutMs = 10000)
    {
        if (running() && !m_process.waitForFinished(timeoutMs))
            return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : 128;
    }

    // Everything it printed so far, on either stream.
    QByteArray output()
    {
        m_output += m_process.readAllStandardOutput() + m_process.readAllStandardError();
        return m_output;
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

// Waits for more frames on the window the probe counts.
bool waitForFrames(X11Probe &x11, int more, int timeoutMs = 10000)
{
    const int target = x11.framesCounted() + more;
    QElapsedTimer timer;
    timer.start();
    while (x11.framesCounted() < target && timer.elapsed() < timeoutMs)
        QThread::usleep(1000);
    return x11.framesCounted() >= target;
}

void runTool(const QString &tool, const QStringList &arguments)
{
    QProcess process;
    process.start(tool, arguments);
    QVERIFY2(process.waitForFinished(10000) && process.exitCode() == 0,
             qPrintable(tool + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) + QStringLiteral(": ")
                        + QString::fromLocal8Bit(process.readAllStandardError())));
}

void sendKeys(const QStringList &keys)
{
    runTool(QStringLiteral("xdotool"), QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("20")} + keys);
}

// Quits the demo with keys that include Escape and describes what went wrong, if
// anything: a clean quit is status 0 with nothing printed.
QString quitFault(Demo &demo, const QString &keys = QStringLiteral("Escape"))
{
    sendKeys({keys});
    const int status = demo.waitForExit();
    if (status != 0)
        return QStringLiteral("after %1: exit status %2 (-1: still running)").arg(keys).arg(status);
    const QByteArray output = demo.output();
    if (!output.isEmpty())
        return QStringLiteral("after %1: printed \"%2\"").arg(keys, QString::fromLocal8Bit(output));
    return {};
}

// Left end of the greeting's white pixels around its baseline, or -1 when none show.
int greetingLeft(const QImage &screen)
{
    for (int x = 0; x < screen.width(); ++x)
        for (int y = 130; y < 230; ++y)
            if (isWhite(screen.pixel(x, y)))
                return x;
    return -1;
}

// Mean column of the logo's white pixels; the greeting never reaches these rows.
double logoCentre(const QImage &screen)
{
    double sum = 0;
    int count = 0;
    for (int y = 340; y < 588; ++y)
        for (int x = 0; x < screen.width(); ++x)
            if (isWhite(screen.pixel(x, y))) {
                sum += x;
                ++count;
            }
    return count ? sum / count : -1.0;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    // Picture group.
    void coversTheScreen_data();
    void coversTheScreen();
    void greetingScrollsAndLogoSways();
    void pointerIsBlankFromTheFirstFrame();

    // Keys group.
    void otherKeysLeaveItRunning();
    void escapeQuits_data();
    void escapeQuits();
    void closingThroughTheWindowManagerQuits();

    // Options group.
    void displayOptionChoosesTheDisplay();
    void windowTitleOptionSetsTheTitle();
    void unknownArgumentIsIgnored();

    // Resize group.
    void resizedWindowKeepsThePicture();

    // Long run group.
    void thousandsOfFramesPrintNothing();

    // Wayland group.
    void underWaylandPictureAndEscape();

private:
    std::unique_ptr<X11Probe> m_x11;
};

void TestEndToEnd::initTestCase()
{
    m_x11 = std::make_unique<X11Probe>();
    QVERIFY2(m_x11->isOpen(), "no X display: run this through tests/support/virtual-display.sh");
}

void TestEndToEnd::coversTheScreen_data()
{
    QTest::addColumn<QString>("scale");
    QTest::newRow("scale 1") << QStringLiteral("1");
    QTest::newRow("scale 2") << QStringLiteral("2");
    QTest::newRow("scale 1.5") << QStringLiteral("1.5");
}

void TestEndToEnd::coversTheScreen()
{
    QFETCH(QString, scale);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_SCALE_FACTOR"), scale);
    Demo demo({}, environment);
    const unsigned long window = demo.waitForPicture(*m_x11);
    QVERIFY2(window, demo.output().constData());

    // The window manager may make it full-screen only after the first frames.
    QTRY_COMPARE_WITH_TIMEOUT(m_x11->geometry(window), QRect(QPoint(0, 0), m_x11->screenSize()), 10000);
    QVERIFY(waitForFrames(*m_x11, 2));

    // Taken within seconds of the start: at scale 1.5 the greeting, once in view,
    // crosses the row three quarters up.
    const QImage screen = m_x11->grab();
    const QString fault = invariantRowFault(screen);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));

    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

// The greeting moves left at 100 pixels per second and its position tells the
// animation time, which predicts how far the logo sways between two screenshots.
void TestEndToEnd::greetingScrollsAndLogoSways()
{
    Demo demo;
    QVERIFY(demo.waitForPicture(*m_x11));

    struct Shot
    {
        qint64 at;
        int greeting;
        double logo;
    };
    QVector<Shot> shots;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 3; ++i) {
        if (i)
            QTest::qWait(1500);
        // The greeting starts at x = 2000 and enters a 1920-pixel screen after 0.8 s.
        QTRY_VERIFY_WITH_TIMEOUT(greetingLeft(m_x11->grab()) >= 0, 5000);
        const qint64 at = clock.elapsed();
        const QImage screen = m_x11->grab();
        shots.append({at, greetingLeft(screen), logoCentre(screen)});
    }

    // White text some 70 pixels tall around baseline 200: caps reach up to about 150,
    // descenders down to about 217.
    const QImage screen = m_x11->grab();
    int top = screen.height(), bottom = -1;
    for (int y = 100; y < 300; ++y)
        for (int x = 0; x < screen.width(); ++x)
            if (isWhite(screen.pixel(x, y))) {
                top = qMin(top, y);
                bottom = qMax(bottom, y);
            }
    QVERIFY2(top >= 140 && top <= 160 && bottom >= 200 && bottom <= 225,
             qPrintable(QStringLiteral("greeting spans rows %1 to %2").arg(top).arg(bottom)));

    // 'H' starts about 7 pixels right of the pen position.
    const auto seconds = [](const Shot &shot) { return (2000.0 - (shot.greeting - 7)) / 100.0; };
    bool swayed = false;
    for (int i = 1; i < shots.size(); ++i) {
        const Shot &a = shots[i - 1];
        const Shot &b = shots[i];
        const double moved = a.greeting - b.greeting;
        const double expected = (b.at - a.at) / 10.0;
        QVERIFY2(std::abs(moved - expected) <= 25,
                 qPrintable(QStringLiteral("greeting moved %1 px in %2 ms").arg(moved).arg(b.at - a.at)));
        const double predicted = -0.15 * (std::sin(seconds(b)) - std::sin(seconds(a))) * 1920.0;
        QVERIFY2(std::abs((b.logo - a.logo) - predicted) <= 20,
                 qPrintable(QStringLiteral("logo moved %1 px between %2 s and %3 s, expected %4")
                                .arg(b.logo - a.logo).arg(seconds(a)).arg(seconds(b)).arg(predicted)));
        swayed = swayed || std::abs(predicted) >= 40;
    }
    QVERIFY2(swayed, "the samples fell where the sway barely moves; widen the interval");
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

void TestEndToEnd::pointerIsBlankFromTheFirstFrame()
{
    runTool(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("960"), QStringLiteral("540")});
    QVERIFY2(m_x11->visiblePointerPixels() > 0, "the root window's pointer should be visible before the start");

    Demo demo;
    // Sample the pointer image from the moment the window is mapped, before and
    // after the first picture.
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

void TestEndToEnd::otherKeysLeaveItRunning()
{
    Demo demo;
    QVERIFY(demo.waitForPicture(*m_x11));
    sendKeys({QStringLiteral("a"), QStringLiteral("q"), QStringLiteral("x"), QStringLiteral("0"),
              QStringLiteral("9"), QStringLiteral("space"), QStringLiteral("Return"), QStringLiteral("KP_Enter"),
              QStringLiteral("Tab"), QStringLiteral("Left"), QStringLiteral("Right"), QStringLiteral("Up"),
              QStringLiteral("Down"), QStringLiteral("ctrl+q"), QStringLiteral("alt+F4")});
    QTest::qWait(500);
    QVERIFY2(demo.running(), qPrintable(QStringLiteral("ended with %1").arg(demo.waitForExit(0))));

    // Still animating: the greeting keeps moving.
    const int before = greetingLeft(m_x11->grab());
    QTest::qWait(500);
    const int after = greetingLeft(m_x11->grab());
    QVERIFY2(after < before, qPrintable(QStringLiteral("greeting at %1, then %2").arg(before).arg(after)));

    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

void TestEndToEnd::escapeQuits_data()
{
    QTest::addColumn<QString>("keys");
    QTest::newRow("Escape") << QStringLiteral("Escape");
    QTest::newRow("Shift+Escape") << QStringLiteral("shift+Escape");
    QTest::newRow("Control+Escape") << QStringLiteral("ctrl+Escape");
    QTest::newRow("Alt+Escape") << QStringLiteral("alt+Escape");
}

void TestEndToEnd::escapeQuits()
{
    QFETCH(QString, keys);
    Demo demo;
    QVERIFY(demo.waitForPicture(*m_x11));
    const QString quit = quitFault(demo, keys);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

void TestEndToEnd::closingThroughTheWindowManagerQuits()
{
    Demo demo;
    const unsigned long window = demo.waitForPicture(*m_x11);
    QVERIFY(window);
    runTool(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), QString::number(window)});
    QCOMPARE(demo.waitForExit(), 0);
    QVERIFY2(demo.output().isEmpty(), demo.output().constData());
}

void TestEndToEnd::displayOptionChoosesTheDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString display = environment.value(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("DISPLAY"));
    Demo demo({QStringLiteral("-display"), display}, environment);
    QVERIFY2(demo.waitForPicture(*m_x11), demo.output().constData());
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

void TestEndToEnd::windowTitleOptionSetsTheTitle()
{
    Demo demo({QStringLiteral("-qwindowtitle"), QStringLiteral("Greetings, all")});
    const unsigned long window = demo.waitForPicture(*m_x11);
    QVERIFY(window);
    QCOMPARE(m_x11->title(window), QStringLiteral("Greetings, all"));
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

void TestEndToEnd::unknownArgumentIsIgnored()
{
    Demo demo({QStringLiteral("--frobnicate"), QStringLiteral("extra")});
    QVERIFY2(demo.waitForPicture(*m_x11), demo.output().constData());
    const QString fault = invariantRowFault(m_x11->grab());
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

void TestEndToEnd::resizedWindowKeepsThePicture()
{
    Demo demo;
    const unsigned long window = demo.waitForPicture(*m_x11);
    QVERIFY(window);
    const QString id = QString::number(window);
    runTool(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-r"), id, QStringLiteral("-b"),
                                       QStringLiteral("remove,fullscreen")});
    // Tall enough that the greeting, around y = 200, stays clear of the row three
    // quarters up.
    const QSize size(1300, 960);
    runTool(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-r"), id, QStringLiteral("-e"),
                                       QStringLiteral("0,100,60,%1,%2").arg(size.width()).arg(size.height())});
    QTRY_COMPARE_WITH_TIMEOUT(m_x11->geometry(window).size(), size, 10000);

    // The next frames fill the new size; allow a few for the resize to reach the GL side.
    QString fault = QStringLiteral("no frame checked");
    for (int attempt = 0; attempt < 40 && !fault.isEmpty(); ++attempt) {
        QTest::qWait(100);
        fault = invariantRowFault(m_x11->grab(m_x11->geometry(window)));
    }
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

void TestEndToEnd::thousandsOfFramesPrintNothing()
{
    Demo demo;
    const unsigned long window = demo.waitForPicture(*m_x11);
    QVERIFY(window);
    m_x11->countFrames(window);
    QElapsedTimer timer;
    timer.start();
    // DAMAGE reports once per frame only while it is re-armed, so poll often.
    while (m_x11->framesCounted() < 2000 && timer.elapsed() < 120000 && demo.running())
        QThread::usleep(1000);
    const int frames = m_x11->framesCounted();
    qInfo("%d frames in %.1f s: %.1f frames per second", frames, timer.elapsed() / 1000.0,
          frames * 1000.0 / timer.elapsed());
    QVERIFY2(frames >= 2000, qPrintable(QStringLiteral("only %1 frames in 2 minutes").arg(frames)));
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

// Weston on its X11 backend inside the test display: the demo becomes a Wayland client,
// the screen shows Weston's output, and keys typed into the display reach the client.
void TestEndToEnd::underWaylandPictureAndEscape()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString socket = QStringLiteral("scrolldemo-e2e-%1").arg(QCoreApplication::applicationPid());
    // Ends the compositor however the test ends.
    struct Compositor : QProcess
    {
        ~Compositor() override
        {
            terminate();
            waitForFinished();
        }
    } weston;
    const QSize screen = m_x11->screenSize();
    weston.setProcessChannelMode(QProcess::MergedChannels);
    weston.start(QStringLiteral("weston"),
                 {QStringLiteral("--backend=x11-backend.so"), QStringLiteral("--use-pixman"), QStringLiteral("--fullscreen"),
                  QStringLiteral("--width=%1").arg(screen.width()), QStringLiteral("--height=%1").arg(screen.height()),
                  QStringLiteral("--idle-time=0"), QStringLiteral("--socket=") + socket});
    QVERIFY2(weston.waitForStarted(), "weston did not start");
    const QString socketPath = environment.value(QStringLiteral("XDG_RUNTIME_DIR")) + QLatin1Char('/') + socket;
    QTRY_VERIFY2_WITH_TIMEOUT(QFileInfo::exists(socketPath), qPrintable(QString::fromLocal8Bit(weston.readAll())), 20000);

    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    const QStringList escapes = {QStringLiteral("Escape"), QStringLiteral("shift+Escape"),
                                 QStringLiteral("ctrl+Escape"), QStringLiteral("alt+Escape")};
    for (const QString &keys : escapes) {
        Demo demo({}, environment);
        // Moving the pointer onto the surface makes the demo's blank pointer apply.
        runTool(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("900"), QStringLiteral("500")});
        runTool(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("960"), QStringLiteral("540")});
        QString fault = QStringLiteral("no picture");
        QElapsedTimer timer;
        timer.start();
        while (!fault.isEmpty() && timer.elapsed() < 20000 && demo.running()) {
            QTest::qWait(100);
            fault = invariantRowFault(m_x11->grab());
        }
        QVERIFY2(fault.isEmpty(), qPrintable(fault + QStringLiteral("; output: ") + QString::fromLocal8Bit(demo.output())));

        sendKeys({keys});
        QCOMPARE(demo.waitForExit(), 0);
        // Qt's Wayland plugin notes that it cannot activate windows; nothing else may appear.
        for (const QByteArray &line : demo.output().split('\n'))
            QVERIFY2(line.isEmpty() || line.startsWith("qt.qpa.wayland: "), line.constData());
    }
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
