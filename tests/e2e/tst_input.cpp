// tst_input: keys, the window manager's close and resize, and Qt's options, on the built program.
#include "demo_process.h"
#include "picture.h"
#include "x11probe.h"

#include <QtTest>

#include <memory>
#include <utility>

namespace {

// A session bus of the test's own with an org.freedesktop.ScreenSaver service on it
// (support/screensaver-service): the stand-in, or a real one by name; and what the service
// reported, line by line.
class ScreenSaverService
{
public:
    ~ScreenSaverService()
    {
        for (QProcess *process : {&m_service, &m_bus}) {
            process->kill();
            process->waitForFinished(5000);
        }
    }

    // Empty once the bus and the service answer; else what went wrong. A service directory makes
    // the bus able to start services on demand.
    QString start(const QString &service, const QString &serviceDirectory = {})
    {
        QStringList arguments {QStringLiteral("--nofork"), QStringLiteral("--print-address=1")};
        if (serviceDirectory.isEmpty()) {
            arguments << QStringLiteral("--session");
        } else {
            m_config.setFileTemplate(QDir::tempPath() + QStringLiteral("/bus-XXXXXX.conf"));
            if (!m_config.open())
                return m_config.errorString();
            m_config.write(
                "<busconfig><include>/usr/share/dbus-1/session.conf</include><servicedir>"
                + serviceDirectory.toUtf8() + "</servicedir></busconfig>");
            m_config.flush();
            arguments << QStringLiteral("--config-file=") + m_config.fileName();
        }
        m_bus.start(QStringLiteral("dbus-daemon"), arguments);
        if (!m_bus.waitForReadyRead(10000))
            return QStringLiteral("dbus-daemon: ") + m_bus.errorString();
        m_address = QString::fromLocal8Bit(m_bus.readLine().trimmed());
        if (service == QLatin1String("none"))
            return {};
        m_service.setProcessEnvironment(withBus());
        m_service.setProcessChannelMode(QProcess::MergedChannels);
        m_service.start(QStringLiteral(TEST_SUPPORT "/screensaver-service"),
                        service.isEmpty() ? QStringList() : QStringList {service});
        if (next({QStringLiteral("ready")}, 10000).isEmpty())
            return QStringLiteral("the service did not start: ") + log();
        return {};
    }

    // The test's environment with the bus as the session's.
    QProcessEnvironment withBus() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        return environment;
    }

    // The next line the service reported that starts with one of the prefixes, after those this
    // returned before; empty when none came in time.
    QString next(const QStringList &prefixes, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            m_log += QString::fromLocal8Bit(m_service.readAll());
            const QStringList lines = m_log.split(QLatin1Char('\n'));
            // The last piece may be a line still being written.
            for (int i = m_read; i + 1 < lines.size(); ++i) {
                for (const QString &prefix : prefixes) {
                    if (lines[i].startsWith(prefix)) {
                        m_read = i + 1;
                        return lines[i];
                    }
                }
            }
            if (timer.elapsed() >= timeoutMs)
                return {};
            m_service.waitForReadyRead(50);
        }
    }

    QString log() const { return m_log; }

private:
    QTemporaryFile m_config;
    QProcess m_bus;
    QProcess m_service;
    QString m_address;
    QString m_log;
    int m_read = 0;
};

// Processes of the session buses libdbus starts for a program that asks for a session bus where
// there is none (autolaunch: dbus-launch, and the dbus-daemon it forks), by process id.
QStringList autolaunchedBuses()
{
    QStringList found;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile command(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!command.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = command.readAll().replace('\0', ' ');
        if (line.startsWith("dbus-launch") || line.contains("dbus-daemon --fork"))
            found << pid + QLatin1Char(' ') + QString::fromLocal8Bit(line);
    }
    return found;
}

// Hides the demo's window from whoever watches the screen, or shows it again, the desktop's way:
// minimised on X11, in sway's scratchpad. What went wrong, or an empty string.
QString hideDemo(const Demo &demo, unsigned long window, bool hide)
{
    if (desktop::name() == QLatin1String("sway")) {
        const QString criteria = QStringLiteral("[pid=%1] ").arg(demo.pid());
        return runTool(
            QStringLiteral("swaymsg"),
            {criteria
             + (hide ? QStringLiteral("move scratchpad") : QStringLiteral("scratchpad show"))});
    }
    return runTool(QStringLiteral("xdotool"),
                   {hide ? QStringLiteral("windowminimize") : QStringLiteral("windowactivate"),
                    QString::number(window)});
}

// Sets the X server's screen saver to come on after seconds of idle time, and back to the
// server's default when it goes; the other cases take screenshots.
class ScreenSaverTimeout
{
public:
    explicit ScreenSaverTimeout(int seconds)
        : fault(runTool(QStringLiteral("xset"),
                        {QStringLiteral("s"), QString::number(seconds), QString::number(seconds)}))
    { }
    ~ScreenSaverTimeout()
    {
        runTool(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("default")});
        runTool(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("reset")});
    }

    const QString fault;
};

} // namespace

class TestInput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void otherKeysLeaveItRunning();
    void escapeQuits_data();
    void escapeQuits();
    void escapeReachesTheDemoWhenTheDesktopStartsLater();
    void closingThroughTheDesktopQuits();
    void destroyedWindowEndsTheProgram_data();
    void destroyedWindowEndsTheProgram();
    void resizedWindowKeepsThePicture();
    void displayOptionChoosesTheDisplay();
    void windowTitleOptionSetsTheTitle();
    void unknownArgumentIsIgnored();
    void screenSaverStaysOffWhileWatched();
    void sessionBusInhibitionWhileShown_data();
    void sessionBusInhibitionWhileShown();
    void compositorIdleInhibitedWhileShown();

private:
    std::unique_ptr<X11Probe> m_x11;
    QStringList m_busesAtStart;
};

void TestInput::initTestCase()
{
    m_busesAtStart = autolaunchedBuses();
    m_x11 = std::make_unique<X11Probe>();
    QVERIFY2(m_x11->isOpen(), "no X display: run this through tests/support/virtual-display.sh");
}

void TestInput::otherKeysLeaveItRunning()
{
    Demo demo;
    QVERIFY(demo.waitForPicture(*m_x11));
    const QString sent
        = sendKeys({QStringLiteral("a"), QStringLiteral("q"), QStringLiteral("x"),
                    QStringLiteral("0"), QStringLiteral("9"), QStringLiteral("space"),
                    QStringLiteral("Return"), QStringLiteral("KP_Enter"), QStringLiteral("Tab"),
                    QStringLiteral("Left"), QStringLiteral("Right"), QStringLiteral("Up"),
                    QStringLiteral("Down"), QStringLiteral("ctrl+q"), QStringLiteral("alt+F4")});
    QVERIFY2(sent.isEmpty(), qPrintable(sent));
    QTest::qWait(500);
    QVERIFY2(demo.running(), qPrintable(QStringLiteral("ended with %1").arg(demo.waitForExit(0))));

    // Still animating: the greeting keeps moving.
    const int before = picture::greetingLeft(m_x11->grab());
    QVERIFY(m_x11->waitForFrames(5));
    const int after = picture::greetingLeft(m_x11->grab());
    QVERIFY2(after < before,
             qPrintable(QStringLiteral("greeting at %1, then %2").arg(before).arg(after)));

    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

// An ending must be clean at any moment of the demo's life, not only once it has settled: the
// rows end it at moments spread over the first seconds after its picture appears.
void TestInput::escapeQuits_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("afterMs");
    QTest::newRow("Escape at once") << QStringLiteral("Escape") << 0;
    QTest::newRow("Shift+Escape after 0.3 s") << QStringLiteral("shift+Escape") << 300;
    QTest::newRow("Control+Escape after 0.6 s") << QStringLiteral("ctrl+Escape") << 600;
    QTest::newRow("Alt+Escape after 1.1 s") << QStringLiteral("alt+Escape") << 1100;
}

void TestInput::escapeQuits()
{
    QFETCH(QString, keys);
    QFETCH(int, afterMs);
    if (desktop::keeps(keys))
        QSKIP(qPrintable(desktop::name() + QStringLiteral(" keeps ") + keys
                         + QStringLiteral(" for itself")));
    Demo demo;
    QVERIFY(demo.waitForPicture(*m_x11));
    QTest::qWait(afterMs);
    const QString quit = quitFault(demo, keys);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

// As when a desktop's autostart beats its window manager: the window manager then keeps the
// focus on a window of its own unless the demo asks for it.
void TestInput::escapeReachesTheDemoWhenTheDesktopStartsLater()
{
    const QString startDesktop = qEnvironmentVariable("START_DESKTOP");
    if (startDesktop.isEmpty())
        QSKIP("the desktop runs already; VIRTUAL_DISPLAY_DESKTOP_LATER=1 starts it later");
    Demo demo;
    QVERIFY2(demo.waitForPictureOnScreen(*m_x11), "no picture without a window manager");

    const QString started = runTool(QStringLiteral("sh"), {QStringLiteral("-c"), startDesktop});
    QVERIFY2(started.isEmpty(), qPrintable(started));
    // Managed again, and active: the window manager's choice, not the test's.
    QTRY_VERIFY_WITH_TIMEOUT(!m_x11->windowsOf(demo.pid()).isEmpty(), 20000);
    const unsigned long window = m_x11->windowsOf(demo.pid()).first();
    QTRY_COMPARE_WITH_TIMEOUT(m_x11->activeWindow(), window, 20000);
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

void TestInput::closingThroughTheDesktopQuits()
{
    if (!desktop::canClose())
        QSKIP(qPrintable(desktop::name() + QStringLiteral(" offers no way to close a window")));
    Demo demo;
    const unsigned long window = demo.waitForPicture(*m_x11);
    QVERIFY(window);
    const QString closed = desktop::close(window);
    QVERIFY2(closed.isEmpty(), qPrintable(closed));
    QCOMPARE(demo.waitForExit(), 0);
    QVERIFY2(demo.output().isEmpty(), demo.output().constData());
}

void TestInput::destroyedWindowEndsTheProgram_data()
{
    // From the window's first frame, when it is still settling on the screen, or from the picture.
    QTest::addColumn<bool>("fromPicture");
    QTest::addColumn<int>("afterMs");
    QTest::newRow("at its first frame") << false << 0;
    QTest::newRow("0.1 s after its first frame") << false << 100;
    QTest::newRow("once the picture is whole") << true << 0;
    QTest::newRow("1.8 s after the picture") << true << 1800;
}

// Some tools close a window by destroying it (xdotool windowclose): the program must not run on
// without one, nor crash, whatever it was doing at that moment.
void TestInput::destroyedWindowEndsTheProgram()
{
    QFETCH(bool, fromPicture);
    QFETCH(int, afterMs);
    if (desktop::isWayland())
        QSKIP("only the compositor can destroy a Wayland window");
    if (!fromPicture)
        m_x11->watchNewWindows();
    Demo demo;
    const unsigned long window
        = fromPicture ? demo.waitForPicture(*m_x11) : m_x11->waitForFirstFrameOf(demo.pid(), 20000);
    QVERIFY(window);
    QTest::qWait(afterMs);
    const QString destroyed = runTool(QStringLiteral("xdotool"),
                                      {QStringLiteral("windowclose"), QString::number(window)});
    QVERIFY2(destroyed.isEmpty(), qPrintable(destroyed));
    QCOMPARE(demo.waitForExit(3000), 0);
    QVERIFY2(demo.output().isEmpty(), demo.output().constData());
}

void TestInput::resizedWindowKeepsThePicture()
{
    Demo demo;
    const unsigned long window = demo.waitForPicture(*m_x11);
    QVERIFY(window);
    // A compositing manager need not copy the frames of the full-screen window, and copies them
    // again once the desktop has taken it out of full screen.
    const char *bypass = "_NET_WM_BYPASS_COMPOSITOR";
    QCOMPARE(m_x11->cardinals(window, bypass), QVector<unsigned long> {1});
    const QString id = QString::number(window);
    const QString windowed = runTool(QStringLiteral("wmctrl"),
                                     {QStringLiteral("-i"), QStringLiteral("-r"), id,
                                      QStringLiteral("-b"), QStringLiteral("remove,fullscreen")});
    QVERIFY2(windowed.isEmpty(), qPrintable(windowed));
    // Tall enough that the greeting, around y = 200, stays clear of the row three quarters up.
    const QSize size(1300, 960);
    const QString resized
        = runTool(QStringLiteral("wmctrl"),
                  {QStringLiteral("-i"), QStringLiteral("-r"), id, QStringLiteral("-e"),
                   QStringLiteral("0,100,60,%1,%2").arg(size.width()).arg(size.height())});
    QVERIFY2(resized.isEmpty(), qPrintable(resized));
    QTRY_COMPARE_WITH_TIMEOUT(m_x11->geometry(window).size(), size, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(m_x11->cardinals(window, bypass).isEmpty(), 5000);

    // The next frames fill the new size; allow a few for the resize to reach the GL side.
    QString fault = QStringLiteral("no frame checked");
    for (int frame = 0; frame < 40 && !fault.isEmpty() && m_x11->waitForFrames(1); ++frame)
        fault = picture::invariantRowFault(m_x11->grab(m_x11->geometry(window)));
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

void TestInput::displayOptionChoosesTheDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString display = environment.value(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("DISPLAY"));
    Demo demo({QStringLiteral("-display"), display}, environment);
    QVERIFY2(demo.waitForPicture(*m_x11), demo.output().constData());
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

void TestInput::windowTitleOptionSetsTheTitle()
{
    Demo demo({QStringLiteral("-qwindowtitle"), QStringLiteral("Greetings, all")});
    const unsigned long window = demo.waitForPicture(*m_x11);
    QVERIFY(window);
    QCOMPARE(m_x11->title(window), QStringLiteral("Greetings, all"));
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

void TestInput::unknownArgumentIsIgnored()
{
    Demo demo({QStringLiteral("--frobnicate"), QStringLiteral("extra")});
    QVERIFY2(demo.waitForPicture(*m_x11), demo.output().constData());
    const QString fault = picture::invariantRowFault(m_x11->grab());
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

// The X server's screen saver stays off while the demo is watched, for twice its timeout, and
// comes on within the timeout and two seconds once the demo is minimised, and once it has ended.
void TestInput::screenSaverStaysOffWhileWatched()
{
    if (desktop::isWayland())
        QSKIP("the X server's screen saver is the compositor's display's, not the user's");
    const int timeoutS = 3;
    const ScreenSaverTimeout timeout(timeoutS);
    QVERIFY2(timeout.fault.isEmpty(), qPrintable(timeout.fault));
    // A session without a bus, as in every case but the session bus's: none may be started for the
    // demo, in this case or before.
    QProcessEnvironment noBus = QProcessEnvironment::systemEnvironment();
    noBus.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    Demo demo({}, noBus);
    const unsigned long window = demo.waitForPicture(*m_x11);
    QVERIFY(window);
    QElapsedTimer watched;
    watched.start();
    while (watched.elapsed() < 2 * timeoutS * 1000) {
        QVERIFY2(!m_x11->screenSaverOn(),
                 qPrintable(QStringLiteral("on after %1 ms").arg(watched.elapsed())));
        QTest::qWait(100);
    }

    const QString id = QString::number(window);
    const QString minimised
        = runTool(QStringLiteral("xdotool"), {QStringLiteral("windowminimize"), id});
    QVERIFY2(minimised.isEmpty(), qPrintable(minimised));
    QTRY_VERIFY_WITH_TIMEOUT(m_x11->screenSaverOn(), (timeoutS + 2) * 1000);

    const QString restored
        = runTool(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), id});
    QVERIFY2(restored.isEmpty(), qPrintable(restored));
    QTRY_VERIFY_WITH_TIMEOUT(!m_x11->screenSaverOn(), 5000);
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
    QTRY_VERIFY_WITH_TIMEOUT(m_x11->screenSaverOn(), (timeoutS + 2) * 1000);
    QStringList started = autolaunchedBuses();
    for (const QString &bus : m_busesAtStart)
        started.removeAll(bus);
    QVERIFY2(started.isEmpty(), qPrintable(started.join(QLatin1Char('\n'))));
}

void TestInput::sessionBusInhibitionWhileShown_data()
{
    QTest::addColumn<QString>("service");
    QTest::addColumn<bool>("killed");
    QTest::newRow("hidden, shown, covered, Escape") << QString() << false;
    QTest::newRow("killed") << QString() << true;
    // XScreenSaver's own service, as Debian ships it.
    QTest::newRow("xscreensaver, hidden, shown, Escape") << QStringLiteral("xscreensaver") << false;
    // No service runs, but the bus could start one: none may be started for the demo.
    QTest::newRow("none running, one startable") << QStringLiteral("startable") << false;
}

// Through the session bus's org.freedesktop.ScreenSaver, as KDE, Xfce, GNOME and XScreenSaver
// offer it: held while the demo is seen, let go with the cookie it was given whenever it is
// hidden, covered whole (X11 without a compositing manager) or ends, and asked again when it is
// seen again; when it is killed, the service lets go once the demo's bus name is gone.
void TestInput::sessionBusInhibitionWhileShown()
{
    QFETCH(QString, service);
    QFETCH(bool, killed);
    const bool hides = !desktop::isWayland() || desktop::name() == QLatin1String("sway");
    if (!hides && !killed && service != QLatin1String("startable"))
        QSKIP(qPrintable(desktop::name() + QStringLiteral(" hides no window on request")));
    ScreenSaverService bus;
    const QTemporaryDir services;
    const QString startedOnDemand = services.filePath(QStringLiteral("started"));
    if (service == QLatin1String("startable")) {
        QFile file(services.filePath(QStringLiteral("org.freedesktop.ScreenSaver.service")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[D-BUS Service]\nName=org.freedesktop.ScreenSaver\nExec=/usr/bin/touch "
                   + startedOnDemand.toUtf8() + "\n");
    }
    const QString started = service == QLatin1String("startable")
        ? bus.start(QStringLiteral("none"), services.path())
        : bus.start(service);
    QVERIFY2(started.isEmpty(), qPrintable(started));
    Demo demo({}, bus.withBus());
    const unsigned long window = demo.waitForPicture(*m_x11);
    QVERIFY(window);
    if (service == QLatin1String("startable")) {
        const QString quit = quitFault(demo);
        QVERIFY2(quit.isEmpty(), qPrintable(quit));
        QVERIFY2(!QFileInfo::exists(startedOnDemand), "the bus started a service for the demo");
        return;
    }

    const QStringList released {QStringLiteral("uninhibit"), QStringLiteral("vanished")};
    QString cookie;
    // Asked for once seen; held, and nothing released, until the next step.
    const auto inhibited = [&bus, &cookie, &released]() -> QString {
        const QString line = bus.next({QStringLiteral("inhibit ")}, 5000);
        if (line.isEmpty())
            return QStringLiteral("no inhibition: ") + bus.log();
        // The service's "-" stands for an empty word.
        for (const QString &word :
             {line.section(QLatin1Char(' '), 2, 2), line.section(QLatin1Char(' '), 3)}) {
            if (word.isEmpty() || word == QLatin1String("-"))
                return QStringLiteral("no application name or reason: ") + line;
        }
        cookie = line.section(QLatin1Char(' '), 1, 1);
        return bus.next(released, 300).isEmpty() ? QString() : bus.log();
    };
    // The demo's own UnInhibit, with its cookie: the name vanishing does not count.
    const auto uninhibited = [&bus, &cookie]() -> QString {
        return bus.next({QStringLiteral("uninhibit ") + cookie}, 5000).isEmpty() ? bus.log()
                                                                                 : QString();
    };
    QString fault = inhibited();
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    if (killed) {
        demo.kill();
        QCOMPARE(demo.waitForExit(), 128 + 9);
        QVERIFY2(!bus.next({QStringLiteral("vanished ") + cookie}, 5000).isEmpty(),
                 qPrintable(bus.log()));
        return;
    }

    QString hidden = hideDemo(demo, window, true);
    QVERIFY2(hidden.isEmpty(), qPrintable(hidden));
    QVERIFY2((fault = uninhibited()).isEmpty(), qPrintable(fault));
    hidden = hideDemo(demo, window, false);
    QVERIFY2(hidden.isEmpty(), qPrintable(hidden));
    QVERIFY2((fault = inhibited()).isEmpty(), qPrintable(fault));

    if (service.isEmpty() && !desktop::isWayland() && !m_x11->compositing()) {
        unsigned long cover = m_x11->cover(desktop::output(*m_x11));
        QVERIFY(cover);
        // The next cases need the screen.
        const auto uncover = qScopeGuard([this, &cover] {
            if (cover)
                m_x11->destroyWindow(cover);
        });
        QVERIFY2((fault = uninhibited()).isEmpty(), qPrintable(fault));
        m_x11->destroyWindow(std::exchange(cover, 0));
        QVERIFY2((fault = inhibited()).isEmpty(), qPrintable(fault));
    }

    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
    QVERIFY2((fault = uninhibited()).isEmpty(), qPrintable(fault));
}

// Through the compositor's idle-inhibit protocol, which sway reports in its window tree.
void TestInput::compositorIdleInhibitedWhileShown()
{
    if (desktop::name() != QLatin1String("sway"))
        QSKIP("only sway tells of idle inhibitors");
    Demo demo;
    QVERIFY(demo.waitForPicture(*m_x11));
    const auto inhibited = [&demo]() -> bool {
        QProcess tree;
        tree.start(QStringLiteral("swaymsg"), {QStringLiteral("-t"), QStringLiteral("get_tree")});
        if (!tree.waitForFinished(5000))
            return false;
        const QByteArray json = tree.readAllStandardOutput();
        // The demo's node: its pid, then, before the next node's pid, whether it inhibits.
        const int node = json.indexOf("\"pid\": " + QByteArray::number(demo.pid()));
        const int next = json.indexOf("\"pid\": ", node + 1);
        const int inhibits = json.indexOf("\"inhibit_idle\": true", node);
        return node >= 0 && inhibits >= 0 && (next < 0 || inhibits < next);
    };
    QTRY_VERIFY_WITH_TIMEOUT(inhibited(), 5000);
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));
}

QTEST_GUILESS_MAIN(TestInput)
#include "tst_input.moc"
