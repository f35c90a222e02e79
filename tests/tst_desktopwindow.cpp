// tst_desktopwindow: the window's life on the desktop, with a window that only counts its frames.
//
// Each rule is met the way the desktop or another program brings it about, and a frame is then
// asked for at once, in the same pass, where the rule must stop it: no frame once the run is
// ending (Escape, the desktop's close), none on a window another client destroyed, also before the
// program has read the server's notice; none while covered whole, frames on while covered in part
// and again at once when seen; full screen asked for again when the focus comes back after the
// desktop took the state away. Runs on X11 with Openbox.
#include "desktopwindow.h"
#include "process.h"
#include "x11probe.h"

#include <QtTest>

#include <QOpenGLFunctions>
#include <QScreen>

namespace {

class CountingWindow : public DesktopWindow
{
public:
    int frames = 0;
    // When set, the window stays after the desktop's close, as it does for a moment while Qt
    // closes it, and asks for a frame then: framesAfterClose says how many that drew.
    bool stayOnClose = false;
    int framesAfterClose = -1;
    // When set, the window is told of no expose, as under an X server that keeps a covered
    // window's content (backing store) and so asks for no redrawing once it is seen again.
    bool serverKeepsContent = false;

    // Asks for a frame the way Qt starts one, and returns how many frames that drew.
    int framesFromRequest()
    {
        const int before = frames;
        QEvent request(QEvent::UpdateRequest);
        QCoreApplication::sendEvent(this, &request);
        return frames - before;
    }

    using DesktopWindow::isCovered;

protected:
    void paintGL() override
    {
        context()->functions()->glClear(GL_COLOR_BUFFER_BIT);
        ++frames;
        update();
    }

    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::Expose && serverKeepsContent)
            return true;
        if (event->type() != QEvent::Close || !stayOnClose)
            return DesktopWindow::event(event);
        event->ignore();
        const bool handled = DesktopWindow::event(event);
        framesAfterClose = framesFromRequest();
        return handled;
    }
};

// Starts the window as the program does and waits for its frames; false when none came.
bool startAndWaitForFrames(CountingWindow &window, int count)
{
    if (!window.start().isEmpty() || !QTest::qWaitForWindowExposed(&window))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (window.frames < count && timer.elapsed() < 20000)
        QTest::qWait(5);
    return window.frames >= count;
}

// The frames drawn over a while in which nothing asks for one from outside.
int framesOver(CountingWindow &window, int ms)
{
    const int before = window.frames;
    QTest::qWait(ms);
    return window.frames - before;
}

int run(const QString &program, const QStringList &arguments)
{
    return QProcess::execute(program, arguments);
}

} // namespace

class TestDesktopWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void noFrameOnceEnding_data();
    void noFrameOnceEnding();
    void noFrameOnAWindowDestroyedFromOutside_data();
    void noFrameOnAWindowDestroyedFromOutside();
    void fullScreenAgainWhenTheFocusComesBack();
    void framesOnlyWhileNotCoveredWhole();

private:
    X11Probe m_x11;
};

void TestDesktopWindow::initTestCase()
{
    QVERIFY2(m_x11.isOpen(), "no X display: run this through tests/support/virtual-display.sh");
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
}

void TestDesktopWindow::noFrameOnceEnding_data()
{
    QTest::addColumn<bool>("byEscape");
    QTest::newRow("Escape") << true;
    QTest::newRow("the desktop's close") << false;
}

void TestDesktopWindow::noFrameOnceEnding()
{
    QFETCH(bool, byEscape);
    CountingWindow window;
    QVERIFY(startAndWaitForFrames(window, 3));
    int drawn = -1;
    if (byEscape) {
        QTimer::singleShot(0, &window, [&] {
            QTest::keyClick(&window, Qt::Key_Escape);
            drawn = window.framesFromRequest();
        });
        QTimer::singleShot(5000, &window, [] { QCoreApplication::exit(99); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(drawn, 0);
    } else {
        window.stayOnClose = true;
        QCOMPARE(run(QStringLiteral("wmctrl"),
                     {QStringLiteral("-i"), QStringLiteral("-c"), QString::number(window.winId())}),
                 0);
        QTRY_VERIFY_WITH_TIMEOUT(window.framesAfterClose >= 0, 10000);
        QCOMPARE(window.framesAfterClose, 0);
    }
    QCOMPARE(framesOver(window, 200), 0);
}

void TestDesktopWindow::noFrameOnAWindowDestroyedFromOutside_data()
{
    QTest::addColumn<bool>("noticeRead");
    QTest::newRow("the server's notice read") << true;
    QTest::newRow("before the server's notice is read") << false;
}

void TestDesktopWindow::noFrameOnAWindowDestroyedFromOutside()
{
    QFETCH(bool, noticeRead);
    CountingWindow window;
    QVERIFY(startAndWaitForFrames(window, 3));
    const int before = window.frames;
    m_x11.destroyWindow(window.winId());
    if (noticeRead)
        QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 10000);
    // On Mesa's software rasteriser a frame here would corrupt the heap.
    QCOMPARE(window.framesFromRequest(), 0);
    // And the window goes, as after the desktop's close, which ends the run.
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 10000);
    QCOMPARE(window.frames, before);
}

void TestDesktopWindow::fullScreenAgainWhenTheFocusComesBack()
{
    CountingWindow window;
    QVERIFY(startAndWaitForFrames(window, 1));
    QTRY_VERIFY_WITH_TIMEOUT(window.windowStates() & Qt::WindowFullScreen, 10000);
    const QString id = QString::number(window.winId());
    QCOMPARE(run(QStringLiteral("wmctrl"),
                 {QStringLiteral("-i"), QStringLiteral("-r"), id, QStringLiteral("-b"),
                  QStringLiteral("remove,fullscreen")}),
             0);
    QTRY_VERIFY_WITH_TIMEOUT(!(window.windowStates() & Qt::WindowFullScreen), 10000);
    // The focus comes back, as the desktop gives it when the user returns to the window.
    QFocusEvent focusIn(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(&window, &focusIn);
    QVERIFY(window.windowStates() & Qt::WindowFullScreen);
    const QRect screen = window.screen()->geometry();
    QTRY_COMPARE_WITH_TIMEOUT(m_x11.geometry(window.winId()), screen, 10000);
}

void TestDesktopWindow::framesOnlyWhileNotCoveredWhole()
{
    CountingWindow window;
    QVERIFY(startAndWaitForFrames(window, 3));
    const QRect screen = window.screen()->geometry();
    QTRY_COMPARE_WITH_TIMEOUT(m_x11.geometry(window.winId()), screen, 10000);

    window.serverKeepsContent = true;
    const unsigned long whole = m_x11.cover(screen);
    QTRY_VERIFY_WITH_TIMEOUT(window.isCovered(), 10000);
    QCOMPARE(window.framesFromRequest(), 0);
    QCOMPARE(framesOver(window, 300), 0);

    // A notification-sized window over a corner leaves the picture seen: frames again at once.
    const unsigned long corner = m_x11.cover(QRect(screen.topLeft(), screen.size() / 4));
    m_x11.destroyWindow(whole);
    QTRY_VERIFY_WITH_TIMEOUT(!window.isCovered(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(framesOver(window, 100) > 0, 10000);
    QVERIFY(framesOver(window, 300) > 0);
    m_x11.destroyWindow(corner);
}

int main(int argc, char **argv)
{
    prepareProcess(argc, argv);
    QGuiApplication app(argc, argv);
    TestDesktopWindow test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktopwindow.moc"
