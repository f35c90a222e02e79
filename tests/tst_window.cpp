// tst_window: the shipped window drawing frames at chosen times, and its keys, teardown, faults.
//
// Whole frames are compared with the picture's model and the greeting's reference rendering, at
// device-pixel ratios 1 and 2; the window's surface format, keys and teardown are checked, and its
// frames when the logo or the shader program is missing.
#include "picture.h"
#include "process.h"
#include "window.h"

#include <QtTest>

#include <QOpenGLContext>
#include <QOpenGLDebugLogger>
#include <QResource>
#include <QScreen>

#include <cmath>

namespace {

QStringList messages;

void recordMessage(QtMsgType, const QMessageLogContext &, const QString &text)
{
    messages << text;
}

// The shipped window with its clock in the test's hands; keeps the frames it is asked for,
// read back after drawing and before presenting.
class TimedWindow : public Window
{
public:
    qint64 now = 0;
    int frames = 0;
    bool keepNextFrame = false;
    QImage keptFrame;

    // Draws one frame at the given time and returns it, or a null image after 20 s without one.
    QImage frameAt(qint64 ms)
    {
        now = ms;
        keepNextFrame = true;
        keptFrame = QImage();
        QElapsedTimer timer;
        timer.start();
        while (keepNextFrame && timer.elapsed() < 20000)
            QTest::qWait(5);
        return keptFrame;
    }

protected:
    qint64 elapsedMs() const override { return now; }

    void paintOverGL() override
    {
        ++frames;
        if (keepNextFrame) {
            keptFrame = grabFramebuffer();
            keepNextFrame = false;
        }
    }
};

// Shows the window full-screen, or as a window of the given size in device pixels, and waits
// for it to be at that size and to have drawn a few frames.
bool showAndWaitForFrames(TimedWindow &window, int count, QSize pixels = QSize())
{
    if (pixels.isEmpty()) {
        pixels = window.screen()->size() * window.screen()->devicePixelRatio();
        if (!window.start().isEmpty())
            return false;
    } else {
        window.resize(pixels / window.screen()->devicePixelRatio());
        window.show();
    }
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    QElapsedTimer timer;
    timer.start();
    while ((window.frames < count || window.size() * window.devicePixelRatio() != pixels)
           && timer.elapsed() < 20000)
        QTest::qWait(5);
    return window.frames >= count && window.size() * window.devicePixelRatio() == pixels;
}

// Where the greeting's left end is at a time: 100 pixels per second leftwards from x = 2000,
// starting again every 100 seconds. Times here are whole multiples of 10 ms.
int greetingX(qint64 ms)
{
    return 2000 - int(ms % 100000 / 10);
}

// The time the shaders must show, in seconds, exactly.
double seconds(qint64 ms)
{
    return double(ms) / 1000.0;
}

QImage greetingFor(const QImage &frame, qint64 ms)
{
    return picture::greeting(frame.size(), frame.devicePixelRatio(), greetingX(ms));
}

// Tests of behaviour rather than of the whole screen use a small window: its frames are quick.
const QSize smallWindow(640, 360);
// A time at which the greeting is in view in the small window.
const qint64 greetingInView = 17000;

QString joined(const QStringList &lines)
{
    return lines.join(QLatin1Char('\n'));
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void requestsItsSurfaceFormat();
    void framesMatchThePictureAndTheGreeting_data();
    void framesMatchThePictureAndTheGreeting();
    void everyCharacterOfTheGreetingAtItsPlace();
    void escapeQuits_data();
    void escapeQuits();
    void otherKeysChangeNothing();
    void destructionFreesGpuObjectsQuietly();
    void noOpenGLErrorsOverManyFrames();
    void missingLogoLeavesTheRestOfThePicture();
    void unlinkedProgramDrawsBlackWithoutRepeatingWarnings();

private:
    QString replaceCollection(const QString &rccFile);

    picture::Model m_model {QImage(QStringLiteral(":/Lurvo.png"))};
    QString m_replacement;
};

void TestWindow::initTestCase()
{
    QVERIFY2(!QGuiApplication::primaryScreen()->size().isEmpty(), "no screen");
}

void TestWindow::init()
{
    messages.clear();
    qInstallMessageHandler(recordMessage);
}

void TestWindow::cleanup()
{
    qInstallMessageHandler(nullptr);
    if (!m_replacement.isEmpty()) {
        QResource::unregisterResource(m_replacement);
        m_replacement.clear();
        Q_INIT_RESOURCE(resources);
    }
}

// Swaps the embedded collection for a stand-in with the same paths, so the window meets a
// fault without a faulty build. Empty on success.
QString TestWindow::replaceCollection(const QString &rccFile)
{
    Q_CLEANUP_RESOURCE(resources);
    m_replacement = QStringLiteral(FAULT_COLLECTIONS "/") + rccFile;
    if (!QResource::registerResource(m_replacement))
        return QStringLiteral("cannot register ") + m_replacement;
    return {};
}

void TestWindow::requestsItsSurfaceFormat()
{
    TimedWindow window;
    const QSurfaceFormat requested = window.requestedFormat();
    QCOMPARE(requested.samples(), 4);
    QCOMPARE(requested.version(), qMakePair(4, 1));
    QCOMPARE(requested.profile(), QSurfaceFormat::CoreProfile);

    QVERIFY(showAndWaitForFrames(window, 1));
    const QSurfaceFormat obtained = window.context()->format();
    QVERIFY2(
        obtained.version() >= qMakePair(4, 1),
        qPrintable(
            QStringLiteral("%1.%2").arg(obtained.majorVersion()).arg(obtained.minorVersion())));
    QCOMPARE(obtained.samples(), 4);
}

void TestWindow::framesMatchThePictureAndTheGreeting_data()
{
    // The frame's size in device pixels (empty: full screen, larger than the logo), and times.
    QTest::addColumn<QSize>("pixels");
    QTest::addColumn<QList<qint64>>("times");
    // Frames at a few times in one window: the greeting's position between them is its speed,
    // the logo's its sway, the bands' their drift.
    QTest::newRow("full screen, logo magnified")
        << QSize() << QList<qint64> {0, 12000, 12500, 61370};
    // The clock wraps the greeting every 100 s and must keep the shaders' precision for ever.
    const qint64 month = 30LL * 24 * 3600 * 1000;
    QTest::newRow("full screen, a month later")
        << QSize() << QList<qint64> {month + 3210, month + 3250};
    QTest::newRow("1920x1080, one texel a pixel") << QSize(1920, 1080) << QList<qint64> {12000};
    QTest::newRow("1280x720, logo minified") << QSize(1280, 720) << QList<qint64> {12000, 61370};
}

void TestWindow::framesMatchThePictureAndTheGreeting()
{
    QFETCH(QSize, pixels);
    QFETCH(QList<qint64>, times);
    TimedWindow window;
    QVERIFY(showAndWaitForFrames(window, 1, pixels));
    for (qint64 ms : times) {
        const QImage frame = window.frameAt(ms);
        QVERIFY2(!frame.isNull(), "no frame drawn");
        const QString fault
            = picture::frameFault(frame, m_model, seconds(ms), greetingFor(frame, ms));
        QVERIFY2(fault.isEmpty(), qPrintable(QStringLiteral("at %1 ms: %2").arg(ms).arg(fault)));
    }
    QVERIFY2(messages.isEmpty(), qPrintable(joined(messages)));
}

// The greeting's rows in frames whose visible stretches of the text overlap by more than any
// glyph's width and together cover the whole line, then the frames either side of the wrap at
// 100 s, where the tail is as far left as it goes and x jumps back to 2000.
void TestWindow::everyCharacterOfTheGreetingAtItsPlace()
{
    TimedWindow window;
    QVERIFY(showAndWaitForFrames(window, 1));
    const QRectF text = picture::greetingBounds();
    const int screen = window.width();
    const int overlap = 2 * 70; // twice the font's pixel size: wider than any glyph
    const int lastX = greetingX(99990);
    QList<qint64> times;
    for (int x = 0;; x -= screen - overlap) {
        x = std::max(x, lastX);
        times << qint64(2000 - x) * 10;
        if (x + text.right() <= screen || x == lastX)
            break;
    }
    QVERIFY2(greetingX(times.last()) + text.right() <= screen,
             "the greeting is too wide to be seen whole within one period");
    times << 99990 << 100000;

    const qreal ratio = window.devicePixelRatio();
    const QRect rows(0, qFloor(text.top() * ratio) - 2, qRound(screen * ratio),
                     qCeil(text.height() * ratio) + 4);
    for (qint64 ms : times) {
        const QImage frame = window.frameAt(ms);
        QVERIFY2(!frame.isNull(), "no frame drawn");
        const QString fault
            = picture::frameFault(frame, m_model, seconds(ms), greetingFor(frame, ms), rows);
        QVERIFY2(
            fault.isEmpty(),
            qPrintable(
                QStringLiteral("at %1 ms (x = %2): %3").arg(ms).arg(greetingX(ms)).arg(fault)));
    }
    QVERIFY2(messages.isEmpty(), qPrintable(joined(messages)));
}

void TestWindow::escapeQuits_data()
{
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::newRow("alone") << Qt::KeyboardModifiers(Qt::NoModifier);
    QTest::newRow("with Shift") << Qt::KeyboardModifiers(Qt::ShiftModifier);
    QTest::newRow("with Control") << Qt::KeyboardModifiers(Qt::ControlModifier);
    QTest::newRow("with Alt") << Qt::KeyboardModifiers(Qt::AltModifier);
}

// Once the run is ending no frame is drawn: Qt 6 closes the window as the application quits, and
// a frame after that would draw on a surface that is gone.
void TestWindow::escapeQuits()
{
    QFETCH(Qt::KeyboardModifiers, modifiers);
    TimedWindow window;
    QVERIFY(showAndWaitForFrames(window, 2, smallWindow));
    int framesAtEscape = -1;
    QTimer::singleShot(0, &window, [&window, modifiers, &framesAtEscape] {
        QTest::keyClick(&window, Qt::Key_Escape, modifiers);
        framesAtEscape = window.frames;
    });
    QTimer::singleShot(5000, &window, [] { QCoreApplication::exit(99); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QTest::qWait(200);
    QCOMPARE(window.frames, framesAtEscape);
}

void TestWindow::otherKeysChangeNothing()
{
    TimedWindow window;
    QVERIFY(showAndWaitForFrames(window, 2, smallWindow));
    const QList<Qt::Key> keys
        = {Qt::Key_A,      Qt::Key_Z,     Qt::Key_0,   Qt::Key_9,    Qt::Key_Space,
           Qt::Key_Return, Qt::Key_Enter, Qt::Key_Tab, Qt::Key_Left, Qt::Key_Right,
           Qt::Key_Up,     Qt::Key_Down,  Qt::Key_Q};
    QTimer::singleShot(0, &window, [&window, keys] {
        for (Qt::Key key : keys) {
            QTest::keyClick(&window, key);
            QTest::keyClick(&window, key, Qt::ControlModifier);
        }
    });
    QTimer::singleShot(1000, &window, [] { QCoreApplication::exit(42); });
    QCOMPARE(QCoreApplication::exec(), 42);
    QVERIFY(window.isVisible());
    const qint64 ms = greetingInView;
    const QImage frame = window.frameAt(ms);
    const QString fault = picture::frameFault(frame, m_model, seconds(ms), greetingFor(frame, ms));
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
}

void TestWindow::destructionFreesGpuObjectsQuietly()
{
    {
        TimedWindow window;
        QVERIFY(showAndWaitForFrames(window, 3, smallWindow));
        // As after the window manager closes it: no native window, no current context.
        window.close();
        window.doneCurrent();
    }
    QVERIFY(!QOpenGLContext::currentContext());
    QVERIFY2(messages.isEmpty(), qPrintable(joined(messages)));
}

// Runs on a debug context and keeps every error the driver reports.
class DebugWindow : public TimedWindow
{
public:
    bool logging = false;
    QStringList errors;

    DebugWindow()
    {
        QSurfaceFormat format = requestedFormat();
        format.setOption(QSurfaceFormat::DebugContext);
        setFormat(format);
    }

    // The logger must be torn down while its context is current.
    ~DebugWindow() override { makeCurrent(); }

protected:
    void initializeGL() override
    {
        logging = m_logger.initialize();
        QObject::connect(&m_logger, &QOpenGLDebugLogger::messageLogged,
                         [this](const QOpenGLDebugMessage &message) {
                             if (message.type() == QOpenGLDebugMessage::ErrorType)
                                 errors << message.message();
                         });
        m_logger.startLogging(QOpenGLDebugLogger::SynchronousLogging);
        Window::initializeGL();
    }

private:
    QOpenGLDebugLogger m_logger;
};

void TestWindow::noOpenGLErrorsOverManyFrames()
{
    DebugWindow window;
    QVERIFY(showAndWaitForFrames(window, 1, smallWindow));
    // Frames across a wrap of the greeting and of the shaders' clock.
    for (qint64 ms = 99000; window.frames < 300; ms += 20) {
        window.now = ms;
        QTest::qWait(1);
    }
    QVERIFY2(window.logging, "the driver offers no debug output");
    QVERIFY2(window.errors.isEmpty(), qPrintable(joined(window.errors)));
    QVERIFY2(messages.isEmpty(), qPrintable(joined(messages)));
}

void TestWindow::missingLogoLeavesTheRestOfThePicture()
{
    const QString replaced = replaceCollection(QStringLiteral("no-logo.rcc"));
    QVERIFY2(replaced.isEmpty(), qPrintable(replaced));
    TimedWindow window;
    QVERIFY(showAndWaitForFrames(window, 1, smallWindow));
    const qint64 ms = greetingInView;
    const QImage frame = window.frameAt(ms);
    const picture::Model withoutLogo {QImage()};
    const QString fault
        = picture::frameFault(frame, withoutLogo, seconds(ms), greetingFor(frame, ms));
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QVERIFY2(messages.isEmpty(), qPrintable(joined(messages)));
}

void TestWindow::unlinkedProgramDrawsBlackWithoutRepeatingWarnings()
{
    const QString replaced = replaceCollection(QStringLiteral("broken-shader.rcc"));
    QVERIFY2(replaced.isEmpty(), qPrintable(replaced));
    TimedWindow window;
    QVERIFY(showAndWaitForFrames(window, 1, smallWindow));
    // The toolkit reports the failed compile once, at set-up: its error, then the stage's source.
    const int atSetUp = messages.size();
    QVERIFY(atSetUp <= 2);
    QTRY_VERIFY_WITH_TIMEOUT(window.frames >= 10, 20000);
    QVERIFY2(messages.size() == atSetUp, qPrintable(joined(messages.mid(atSetUp))));

    const qint64 ms = greetingInView;
    const QImage frame = window.frameAt(ms);
    const QString fault = picture::blackFrameFault(frame, greetingFor(frame, ms));
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
}

int main(int argc, char **argv)
{
    // Set up as the program's process is: the window draws the greeting from the same glyph
    // cache as the program. The reference fills the text's outline instead.
    prepareProcess(argc, argv);
    QGuiApplication app(argc, argv);
    TestWindow test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
