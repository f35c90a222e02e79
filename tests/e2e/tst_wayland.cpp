// tst_wayland: the built program as a Wayland client: its picture and Escape.
//
// Weston runs on its X11 backend inside the test display, so that its output can be read and
// keys typed into it.
#include "demo_process.h"
#include "picture.h"
#include "x11probe.h"

#include <QtTest>

#include <QFileInfo>

class TestWayland : public QObject
{
    Q_OBJECT

private slots:
    void pictureAndEscape();
};

void TestWayland::pictureAndEscape()
{
    X11Probe x11;
    QVERIFY2(x11.isOpen(), "no X display: run this through tests/support/virtual-display.sh");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString socket
        = QStringLiteral("scrolldemo-e2e-%1").arg(QCoreApplication::applicationPid());
    // Ends the compositor however the test ends.
    struct Compositor : QProcess
    {
        ~Compositor() override
        {
            terminate();
            waitForFinished();
        }
    } weston;
    const QSize screen = x11.screenSize();
    weston.setProcessChannelMode(QProcess::MergedChannels);
    weston.start(QStringLiteral("weston"),
                 {QStringLiteral("--backend=x11-backend.so"), QStringLiteral("--use-pixman"),
                  QStringLiteral("--fullscreen"), QStringLiteral("--width=%1").arg(screen.width()),
                  QStringLiteral("--height=%1").arg(screen.height()),
                  QStringLiteral("--idle-time=0"), QStringLiteral("--socket=") + socket});
    QVERIFY2(weston.waitForStarted(), "weston did not start");
    const QString socketPath
        = environment.value(QStringLiteral("XDG_RUNTIME_DIR")) + QLatin1Char('/') + socket;
    QTRY_VERIFY2_WITH_TIMEOUT(QFileInfo::exists(socketPath),
                              qPrintable(QString::fromLocal8Bit(weston.readAll())), 20000);

    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), socket);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    for (const char *keys : {"Escape", "shift+Escape", "ctrl+Escape", "alt+Escape"}) {
        Demo demo({}, environment);
        // Moving the pointer onto the surface makes the demo's blank pointer apply.
        for (const char *position : {"900 500", "960 540"}) {
            const QString moved = runTool(QStringLiteral("xdotool"),
                                          QStringLiteral("mousemove %1")
                                              .arg(QLatin1String(position))
                                              .split(QLatin1Char(' ')));
            QVERIFY2(moved.isEmpty(), qPrintable(moved));
        }
        QString fault = QStringLiteral("no picture");
        QElapsedTimer timer;
        timer.start();
        while (!fault.isEmpty() && timer.elapsed() < 20000 && demo.running()) {
            QTest::qWait(100);
            fault = picture::invariantRowFault(x11.grab());
        }
        QVERIFY2(fault.isEmpty(),
                 qPrintable(fault + QStringLiteral("; output: ")
                            + QString::fromLocal8Bit(demo.output())));

        const QString sent = sendKeys({QLatin1String(keys)});
        QVERIFY2(sent.isEmpty(), qPrintable(sent));
        QCOMPARE(demo.waitForExit(), 0);
        // Qt 5's Wayland plugin notes that it cannot activate windows; Qt 6's says nothing.
        for (const QByteArray &line : demo.output().split('\n'))
            QVERIFY2(line.isEmpty()
                         || (QT_VERSION_MAJOR == 5 && line.startsWith("qt.qpa.wayland: ")),
                     line.constData());
    }
}

QTEST_GUILESS_MAIN(TestWayland)
#include "tst_wayland.moc"
