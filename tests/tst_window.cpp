// tst_window: the shipped window on a real display: its frames, its keys, its teardown and
// its behaviour when the logo or the shader program is missing.
#include "picture.h"
#include "window.h"

#include <QtTest>

#include <QOpenGLContext>
#include <QOpenGLDebugLogger>
#include <QResource>
#include <QScreen>

#include <memory>

namespace {

QStringList messages;

void recordMessage(QtMsgType, const QMessageLogContext &, const QString &text)
{
    messages << text;
}

// Keeps a copy of chosen frames, read back after the frame is drawn and before it is shown.
class RecordingWindow : public Window
{
public:
    int frames = 0;
    QImage lastFrame;

protected:
    void paintOverGL() override
    {
        ++frames;
        lastFrame = grabFramebuffer();
    }
};

// Runs on a debug context and keeps every error the driver reports.
class DebugWindow : public Window
{
public:
    int frames = 0;
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
        QObject::connect(&m_logger, &QOpenGLDebugLogger::messageLogged, [this](const QOpenGLDebugMessage &message) {
            if (message.type() == QOpenGLDebugMessage::ErrorType)
                errors << message.message();
        });
        m_logger.startLogging(QOpenGLDebugLogger::SynchronousLogging);
        Window::initializeGL();
    }

    void paintOverGL() override { ++frames; }

private:
    QOpenGLDebugLogger m_logger;
};

// Counts near-white pixels where the logo's drawing lands on screen: its rows, and the
// columns it can reach while swaying.
int whitePixelsInLogoArea(const QImage &frame)
{
    const int top = frame.height() * 340 / 1080;
    const int bottom = frame.height() * 588 / 1080;
    const int left = frame.width() * 131 / 1000;
    const int right = frame.width() * 826 / 1000;
    int white = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            white += near(frame.pixel(x, y), 255, 255, 255, 3);
    return white;
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void framesCoverTheScreenWithThePicture();
    void escapeQuits_data();
    void escapeQuits();
    void otherKeysChangeNothing();
    void destructionFreesGpuObjectsQuietly();
    void noOpenGLErrorsOverManyFrames();
    void missingLogoDrawsWithoutWarnings();
    void unlinkedProgramDrawsBlackWithoutRepeatingWarnings();

private:
    void showAndWaitForFrames(RecordingWindow &window, int count);
    void replaceCollection(const QString &rccFile);

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

void TestWindow::showAndWaitForFrames(RecordingWindow &window, int count)
{
    window.showFullScreen();
    QTRY_VERIFY_WITH_TIMEOUT(window.frames >= count, 20000);
}

// Swaps the embedded collection for a stand-in with the same paths, so the window
// meets a fault without a faulty build.
void TestWindow::replaceCollection(const QString &rccFile)
{
    Q_CLEANUP_RESOURCE(resources);
    m_replacement = QStringLiteral(FAULT_COLLECTIONS "/") + rccFile;
    QVERIFY(QResource::registerResource(m_replacement));
}

void TestWindow::framesCoverTheScreenWithThePicture()
{
    RecordingWindow window;
    showAndWaitForFrames(window, 1);
    const QSize screenPixels = window.screen()->size() * window.screen()->devicePixelRatio();
    QTRY_COMPARE_WITH_TIMEOUT(window.lastFrame.size(), screenPixels, 10000);

    // Several frames over more than a second of animation: the rows must hold in each.
    int logoSeen = 0;
    for (int sample = 0; sample < 4; ++sample) {
        const int next = window.frames + 1;
        QTest::qWait(350);
        QTRY_VERIFY_WITH_TIMEOUT(window.frames >= next, 10000);
        const QImage frame = window.lastFrame;
        QCOMPARE(frame.size(), screenPixels);
        const QString fault = invariantRowFault(frame);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        logoSeen += whitePixelsInLogoArea(frame) > 500;
    }
    QCOMPARE(logoSeen, 4);
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join(QLatin1Char('\n'))));
}

void TestWindow::escapeQuits_data()
{
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::newRow("alone") << Qt::KeyboardModifiers(Qt::NoModifier);
    QTest::newRow("with Shift") << Qt::KeyboardModifiers(Qt::ShiftModifier);
    QTest::newRow("with Control") << Qt::KeyboardModifiers(Qt::ControlModifier);
    QTest::newRow("with Alt") << Qt::KeyboardModifiers(Qt::AltModifier);
}

void TestWindow::escapeQuits()
{
    QFETCH(Qt::KeyboardModifiers, modifiers);
    RecordingWindow window;
    showAndWaitForFrames(window, 2);
    QTimer::singleShot(0, &window, [&window, modifiers] { QTest::keyClick(&window, Qt::Key_Escape, modifiers); });
    QTimer::singleShot(5000, &window, [] { QCoreApplication::exit(99); });
    QCOMPARE(QCoreApplication::exec(), 0);
}

void TestWindow::otherKeysChangeNothing()
{
    RecordingWindow window;
    showAndWaitForFrames(window, 2);
    const QList<Qt::Key> keys = {Qt::Key_A, Qt::Key_Z, Qt::Key_0, Qt::Key_9, Qt::Key_Space,
                                 Qt::Key_Return, Qt::Key_Enter, Qt::Key_Tab, Qt::Key_Left,
                                 Qt::Key_Right, Qt::Key_Up, Qt::Key_Down, Qt::Key_Q};
    QTimer::singleShot(0, &window, [&window, keys] {
        for (Qt::Key key : keys) {
            QTest::keyClick(&window, key);
            QTest::keyClick(&window, key, Qt::ControlModifier);
        }
    });
    QTimer::singleShot(1000, &window, [] { QCoreApplication::exit(42); });
    const int framesBefore = window.frames;
    QCOMPARE(QCoreApplication::exec(), 42);
    QVERIFY(window.isVisible());
    QVERIFY(window.frames > framesBefore);
}

void TestWindow::destructionFreesGpuObjectsQuietly()
{
    {
        RecordingWindow window;
        showAndWaitForFrames(window, 3);
        // As after the window manager closes it: no native window, no current context.
        window.close();
        window.doneCurrent();
    }
    QVERIFY(!QOpenGLContext::currentContext());
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join(QLatin1Char('\n'))));
}

void TestWindow::noOpenGLErrorsOverManyFrames()
{
    DebugWindow window;
    window.showFullScreen();
    QTRY_VERIFY_WITH_TIMEOUT(window.frames >= 300, 60000);
    QVERIFY2(window.logging, "the driver offers no debug output");
    QVERIFY2(window.errors.isEmpty(), qPrintable(window.errors.join(QLatin1Char('\n'))));
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join(QLatin1Char('\n'))));
}

void TestWindow::missingLogoDrawsWithoutWarnings()
{
    replaceCollection(QStringLiteral("no-logo.rcc"));
    RecordingWindow window;
    showAndWaitForFrames(window, 5);
    const QImage frame = window.lastFrame;
    const QString fault = invariantRowFault(frame);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QCOMPARE(whitePixelsInLogoArea(frame), 0);
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join(QLatin1Char('\n'))));
}

void TestWindow::unlinkedProgramDrawsBlackWithoutRepeatingWarnings()
{
    replaceCollection(QStringLiteral("broken-shader.rcc"));
    RecordingWindow window;
    showAndWaitForFrames(window, 1);
    // The toolkit reports the failed compile and link once, at set-up.
    const int atSetUp = messages.size();
    QVERIFY(atSetUp <= 2);
    QTRY_VERIFY_WITH_TIMEOUT(window.frames >= 10, 20000);
    QVERIFY2(messages.size() == atSetUp, qPrintable(messages.mid(atSetUp).join(QLatin1Char('\n'))));

    const QImage frame = window.lastFrame;
    for (int x = 0; x < frame.width(); ++x) {
        for (int y : {0, frame.height() / 2, frame.height() - 1}) {
            const QRgb p = frame.pixel(x, y);
            QVERIFY2(near(p, 0, 0, 0, 0), qPrintable(QStringLiteral("unlinked frame: pixel (%1, %2) is %3")
                                                         .arg(x).arg(y).arg(describeColour(p))));
        }
    }
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
