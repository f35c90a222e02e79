// tst_refusals: where the built program cannot run right, it refuses in one line or says so.
#include "demo_process.h"
#include "picture.h"
#include "x11probe.h"

#include <QtTest>

namespace {

struct Ended
{
    int status; // -1: still running after the timeout, 128 + n: killed by signal n
    QByteArray output;
};

// Runs the program to its end with changes to its environment, and arguments.
Ended runToEnd(const QStringList &environment, const QStringList &launcher = {},
               const QStringList &arguments = {})
{
    QProcessEnvironment changed = QProcessEnvironment::systemEnvironment();
    for (const QString &assignment : environment) {
        const int eq = assignment.indexOf(QLatin1Char('='));
        changed.insert(assignment.left(eq), assignment.mid(eq + 1));
    }
    Demo demo(arguments, changed, launcher);
    const int status = demo.waitForExit(20000);
    return {status, demo.output()};
}

// Starts with standard error closed, as some launchers do.
const QStringList withoutStandardError
    = {QStringLiteral("sh"), QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$@\" 2>&-")};

} // namespace

class TestRefusals : public QObject
{
    Q_OBJECT

private slots:
    void oldOpenGLIsRefusedByName_data();
    void oldOpenGLIsRefusedByName();
    void noOpenGLIsRefused();
    void shadersThatDoNotCompileLeaveTheGreetingOnBlack();
    void closedStandardErrorNeitherHangsNorHides();
    void platformThatCannotStartIsRefusedByName_data();
    void platformThatCannotStartIsRefusedByName();
    void missingFontIsReportedOnce();
};

void TestRefusals::oldOpenGLIsRefusedByName_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("version");
    const auto capped = [](const char *gl, const char *glsl) {
        return QStringList {QStringLiteral("MESA_GL_VERSION_OVERRIDE=") + QLatin1String(gl),
                            QStringLiteral("MESA_GLSL_VERSION_OVERRIDE=") + QLatin1String(glsl)};
    };
    QTest::newRow("2.1") << capped("2.1", "120") << QStringLiteral("2.1");
    QTest::newRow("3.3") << capped("3.3", "330") << QStringLiteral("3.3");
    QTest::newRow("4.0") << capped("4.0", "400") << QStringLiteral("4.0");
    // Mesa's softpipe offers 3.3 and crashes when a multisampled context is torn down; the
    // refusal must end cleanly all the same.
    QTest::newRow("softpipe") << QStringList {QStringLiteral("GALLIUM_DRIVER=softpipe")}
                              << QStringLiteral("3.3");
}

// Before anything is shown or compiled: one line, naming what the driver offers, and status 1.
void TestRefusals::oldOpenGLIsRefusedByName()
{
    QFETCH(QStringList, environment);
    QFETCH(QString, version);
    const Ended ended = runToEnd(environment);
    QCOMPARE(ended.status, 1);
    const QByteArray expected
        = "scrolldemo: needs OpenGL 4.1 core profile, but the driver offers only OpenGL "
        + version.toLatin1() + '\n';
    QCOMPARE(ended.output, expected);
}

void TestRefusals::noOpenGLIsRefused()
{
    const Ended ended = runToEnd({QStringLiteral("QT_XCB_GL_INTEGRATION=none")});
    QCOMPARE(ended.status, 1);
    QVERIFY2(
        ended.output.endsWith("scrolldemo: could not create an OpenGL 4.1 core profile context\n"),
        ended.output.constData());
}

namespace {

// Mesa reads a replacement for each shader source it is handed from MESA_SHADER_READ_PATH, under
// the name it dumps that source with to MESA_SHADER_DUMP_PATH: this puts a fragment stage that
// cannot compile in place of the demo's, for a demo started with the environment and the
// replacements' folder. Empty when done; else what went wrong.
QString replaceFragmentStage(QProcessEnvironment environment, const QString &replacements)
{
    QTemporaryDir dumped;
    environment.insert(QStringLiteral("MESA_SHADER_DUMP_PATH"), dumped.path());
    {
        X11Probe x11;
        Demo demo({}, environment);
        if (!demo.waitForPicture(x11))
            return QStringLiteral("no picture: ") + QString::fromLocal8Bit(demo.output());
        const QString quit = quitFault(demo);
        if (!quit.isEmpty())
            return quit;
    }
    const QDir dumps(dumped.path());
    for (const QString &name : dumps.entryList({QStringLiteral("FS_*.glsl")})) {
        QFile source(dumps.filePath(name));
        if (!source.open(QIODevice::ReadOnly) || !source.readAll().contains("fGlobalTime"))
            continue;
        QFile broken(TEST_DATA "/broken.frag");
        QFile replacement(QDir(replacements).filePath(name));
        if (!broken.open(QIODevice::ReadOnly) || !replacement.open(QIODevice::WriteOnly)
            || replacement.write(broken.readAll()) <= 0)
            return QStringLiteral("cannot write ") + replacement.fileName();
        return {};
    }
    return QStringLiteral("the driver dumped no fragment stage of the demo's: ")
        + dumps.entryList(QDir::Files).join(QLatin1Char(' '));
}

} // namespace

// A driver at 4.1 that cannot compile the shaders: Qt's own report once, the greeting on black.
void TestRefusals::shadersThatDoNotCompileLeaveTheGreetingOnBlack()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MESA_GL_VERSION_OVERRIDE"), QStringLiteral("4.1"));
    const QTemporaryDir replacements;
    const QString replaced = replaceFragmentStage(environment, replacements.path());
    QVERIFY2(replaced.isEmpty(), qPrintable(replaced));
    environment.insert(QStringLiteral("MESA_SHADER_READ_PATH"), replacements.path());

    X11Probe x11;
    Demo demo({}, environment);
    QVERIFY2(demo.waitForPicture(x11), demo.output().constData());
    const QByteArray atStart = demo.output();
    QVERIFY2(atStart.contains("QOpenGLShader::compile(Fragment)"), atStart.constData());
    QVERIFY2(!atStart.contains("link"), atStart.constData());
    QVERIFY(x11.waitForFrames(10));
    QCOMPARE(demo.output(), atStart);
    QTRY_VERIFY_WITH_TIMEOUT(picture::greetingLeft(x11.grab()) >= 0, 10000);
    const QImage screen = x11.grab();
    for (int y : {0, screen.height() / 2, screen.height() - 1})
        for (int x = 0; x < screen.width(); ++x)
            QVERIFY2(screen.pixel(x, y) == qRgb(0, 0, 0),
                     qPrintable(QStringLiteral("(%1, %2) is %3")
                                    .arg(x)
                                    .arg(y)
                                    .arg(picture::describeColour(screen.pixel(x, y)))));
    const QString sent = sendKeys({QStringLiteral("Escape")});
    QVERIFY2(sent.isEmpty(), qPrintable(sent));
    QCOMPARE(demo.waitForExit(), 0);
}

// With descriptor 2 closed the display connection would take its number and receive every
// warning; the process then hung in its teardown.
void TestRefusals::closedStandardErrorNeitherHangsNorHides()
{
    X11Probe x11;
    QProcessEnvironment noRuntime = QProcessEnvironment::systemEnvironment();
    noRuntime.remove(QStringLiteral("XDG_RUNTIME_DIR")); // Qt warns about it
    Demo demo({}, noRuntime, withoutStandardError);
    QVERIFY2(demo.waitForPicture(x11), "no picture with standard error closed");
    const QString quit = quitFault(demo);
    QVERIFY2(quit.isEmpty(), qPrintable(quit));

    const Ended refused
        = runToEnd({QStringLiteral("QT_XCB_GL_INTEGRATION=none")}, withoutStandardError);
    QCOMPARE(refused.status, 1);
}

void TestRefusals::platformThatCannotStartIsRefusedByName_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("line");
    const auto display = [](const char *value) {
        return QStringList {QStringLiteral("DISPLAY=") + QLatin1String(value)};
    };
    QTest::newRow("no X server") << display(":97") << QStringList()
                                 << QByteArray("could not connect to the X display \":97\"");
    // Qt's option wins over the environment, which names a display that works.
    QTest::newRow("no X server named by -display")
        << QStringList() << QStringList {QStringLiteral("-display"), QStringLiteral(":97")}
        << QByteArray("could not connect to the X display \":97\"");
    QTest::newRow("garbage display")
        << display("garbage") << QStringList()
        << QByteArray("could not connect to the X display \"garbage\"");
    QTest::newRow("no display") << display("") << QStringList()
                                << QByteArray(
                                       "could not connect to an X display (DISPLAY is not set)");
    QTest::newRow("no Wayland compositor")
        << QStringList {QStringLiteral("QT_QPA_PLATFORM=wayland"),
                        QStringLiteral("WAYLAND_DISPLAY=scrolldemo-nobody-here")}
        << QStringList()
        << QByteArray("could not connect to the Wayland display \"scrolldemo-nobody-here\"");
    // The display works; the plugin does not exist.
    QTest::newRow("no such plugin")
        << QStringList {QStringLiteral("QT_QPA_PLATFORM=bogus")} << QStringList()
        << QByteArray("there is no Qt platform plugin \"bogus\" (available: ");
    // The plugin starts, but without a screen the window cannot be made.
    QTest::newRow("framebuffer without a device")
        << QStringList {QStringLiteral("QT_QPA_PLATFORM=linuxfb:fb=/dev/scrolldemo-no-such-fb")}
        << QStringList() << QByteArray("the Qt platform \"linuxfb\" failed: ");
}

// Qt's own fatal error would abort, dump core and advise reinstalling; a plugin that is missing
// used to be blamed on the display.
void TestRefusals::platformThatCannotStartIsRefusedByName()
{
    QFETCH(QStringList, environment);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, line);
    const Ended ended = runToEnd(environment, {}, arguments);
    QCOMPARE(ended.status, 1);
    const QList<QByteArray> lines = ended.output.trimmed().split('\n');
    QVERIFY2(lines.last().startsWith("scrolldemo: " + line), ended.output.constData());
    QVERIFY2(!ended.output.contains("einstall"), ended.output.constData());
}

void TestRefusals::missingFontIsReportedOnce()
{
    X11Probe x11;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("FONTCONFIG_FILE"),
                       QStringLiteral(TEST_DATA "/no-fonts.conf"));
    Demo demo({}, environment);
    QVERIFY2(demo.waitForPicture(x11), demo.output().constData());
    QVERIFY(x11.waitForFrames(10));
    QCOMPARE(demo.output(), QByteArray("scrolldemo: the greeting cannot be drawn: no font\n"));
    const QString fault = picture::invariantRowFault(x11.grab());
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    const QString sent = sendKeys({QStringLiteral("Escape")});
    QVERIFY2(sent.isEmpty(), qPrintable(sent));
    QCOMPARE(demo.waitForExit(), 0);
}

QTEST_GUILESS_MAIN(TestRefusals)
#include "tst_refusals.moc"
