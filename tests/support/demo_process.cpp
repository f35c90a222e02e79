// demo_process.cpp: starting, driving and ending the built program from outside.
#include "demo_process.h"

#include "picture.h"
#include "x11probe.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>

#include <unistd.h>

Demo::Demo(const QStringList &arguments, const QProcessEnvironment &environment,
           const QStringList &launcher)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    if (launcher.isEmpty()) {
        m_process.setProgram(QStringLiteral(PROGRAM));
        m_process.setArguments(arguments);
    } else {
        m_process.setProgram(launcher.first());
        m_process.setArguments(launcher.mid(1) + QStringList {QStringLiteral(PROGRAM)} + arguments);
    }
    m_process.setProcessEnvironment(environment);
    m_process.start();
    m_process.waitForStarted();
}

Demo::~Demo()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

unsigned long Demo::waitForPicture(X11Probe &x11, int timeoutMs)
{
    const unsigned long window = waitForPictureOf(x11, timeoutMs);
    // Whether the picture was late or never came: a demo that ended says how, beside the test's
    // own report.
    if (!window && !running())
        qWarning("the demo ended before its picture came: status %d (128 + signal after a crash), "
                 "printed \"%s\"",
                 waitForExit(0), output().constData());
    return window;
}

unsigned long Demo::waitForPictureOf(X11Probe &x11, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    if (desktop::isWayland()) {
        m_screen = &x11;
        if (!waitForPictureOnScreen(x11, timeoutMs))
            return 0;
        x11.countFrames(x11.rootWindow());
        return x11.waitForFrames(2) ? x11.rootWindow() : 0;
    }
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
    // The window manager may make it full-screen only after the first frames, and the frames
    // drawn while the size changes may still have the old one.
    const QRect screen = desktop::output(x11);
    while (x11.geometry(window) != screen && timer.elapsed() < timeoutMs && running())
        QTest::qWait(10);
    x11.countFrames(window);
    x11.timeFrames(window);
    if (!x11.waitForWholeFrame(screen.size(), int(qMax<qint64>(0, timeoutMs - timer.elapsed()))))
        return 0;
    return x11.waitForFrames(2) ? window : 0;
}

bool Demo::waitForPictureOnScreen(X11Probe &x11, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    const QRect output = desktop::output(x11);
    while (!picture::invariantRowFault(x11.grab(output)).isEmpty()) {
        if (timer.elapsed() >= timeoutMs || !running())
            return false;
        QTest::qWait(50);
    }
    return true;
}

int Demo::waitForExit(int timeoutMs)
{
    if (running() && !m_process.waitForFinished(timeoutMs))
        return -1;
    QElapsedTimer timer;
    timer.start();
    while (m_screen
           && picture::invariantRowFault(m_screen->grab(desktop::output(*m_screen))).isEmpty()
           && timer.elapsed() < 5000)
        QTest::qWait(20);
    m_screen = nullptr;
    // After a crash QProcess's exit code is the signal's number.
    return m_process.exitCode() + (m_process.exitStatus() == QProcess::NormalExit ? 0 : 128);
}

QByteArray Demo::output()
{
    // Without an event loop QProcess reads its pipe only when asked to wait for it.
    while (running() && m_process.waitForReadyRead(50))
        ;
    m_output += m_process.readAll();
    return m_output;
}

QString runTool(const QString &tool, const QStringList &arguments,
                const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(tool, arguments);
    if (process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0)
        return {};
    return tool + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) + QStringLiteral(": ")
        + QString::fromLocal8Bit(process.readAllStandardError());
}

QString sendKeys(const QStringList &keys)
{
    return runTool(
        QStringLiteral("xdotool"),
        QStringList {QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("20")}
            + keys);
}

QString quitFault(Demo &demo, const QString &keys)
{
    const QString sent = sendKeys({keys});
    if (!sent.isEmpty())
        return sent;
    const int status = demo.waitForExit();
    const QByteArray output = demo.output();
    if (status != 0)
        return QStringLiteral("after %1: exit status %2 (-1: still running), printed \"%3\"")
            .arg(keys)
            .arg(status)
            .arg(QString::fromLocal8Bit(output));
    if (!output.isEmpty())
        return QStringLiteral("after %1: printed \"%2\"").arg(keys, QString::fromLocal8Bit(output));
    return {};
}

namespace desktop {

QString name()
{
    return qEnvironmentVariable("DESKTOP", QStringLiteral("openbox"));
}

bool isWayland()
{
    return qEnvironmentVariable("QT_QPA_PLATFORM").startsWith(QLatin1String("wayland"));
}

bool keeps(const QString &keys)
{
    return qEnvironmentVariable("DESKTOP_KEEPS").split(QLatin1Char(' ')).contains(keys);
}

bool canClose()
{
    return !qEnvironmentVariable("DESKTOP_CLOSE").isEmpty();
}

namespace {

QRect area(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return {};
    return QRect(parts[0].toInt(), parts[1].toInt(), parts[2].toInt(), parts[3].toInt());
}

} // namespace

QRect output(const X11Probe &x11)
{
    const QRect named = area(qEnvironmentVariable("DESKTOP_OUTPUT"));
    return named.isValid() ? named : QRect(QPoint(0, 0), x11.screenSize());
}

QVector<QRect> outputs(const X11Probe &x11)
{
    QVector<QRect> all;
    const QStringList named
        = qEnvironmentVariable("DESKTOP_OUTPUTS").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &text : named)
        all << area(text);
    if (all.isEmpty())
        all << output(x11);
    return all;
}

QString close(unsigned long window)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WINDOW"), QString::number(window));
    return runTool(QStringLiteral("sh"),
                   {QStringLiteral("-c"), qEnvironmentVariable("DESKTOP_CLOSE")}, environment);
}

} // namespace desktop

QSize firstWaylandFrameSize(const QByteArray &log)
{
    // An object is its interface and number: wl_surface@20 up to libwayland 1.22, wl_surface#20
    // since 1.23, whose lines also name their queue first.
    const QString text = QString::fromLocal8Bit(log);
    const QRegularExpression toplevel(
        QStringLiteral(R"(get_xdg_surface\(new id xdg_surface[@#]\d+, (wl_surface[@#]\d+)\))"));
    const QRegularExpressionMatch surface = toplevel.match(text);
    if (!surface.hasMatch())
        return {};
    const QRegularExpression attach(QRegularExpression::escape(surface.captured(1))
                                    + QStringLiteral(R"(\.attach\((wl_buffer[@#]\d+),)"));
    const QRegularExpressionMatch attached = attach.match(text, surface.capturedEnd());
    if (!attached.hasMatch())
        return {};
    // Buffer ids are reused: the one attached is the last made under its id before.
    const QString buffer = QRegularExpression::escape(attached.captured(1));
    const QRegularExpression made(QStringLiteral(R"((?:create_buffer\(new id %1, \d+, )"
                                                 R"(|create_immed\(new id %1, )(\d+), (\d+),)")
                                      .arg(buffer));
    QSize size;
    QRegularExpressionMatchIterator it = made.globalMatch(text.left(attached.capturedStart()));
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        size = QSize(m.captured(1).toInt(), m.captured(2).toInt());
    }
    return size;
}

double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1.0;
    // After the command's closing parenthesis: state is the first field, utime the 12th.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1.0;
    return (fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

double coreShareOver(qint64 pid, int ms)
{
    QElapsedTimer timer;
    const double before = cpuSeconds(pid);
    timer.start();
    QTest::qWait(ms);
    const double after = cpuSeconds(pid);
    if (before < 0 || after < 0)
        return -1.0;
    return (after - before) / (timer.elapsed() / 1000.0);
}
