// demo_process.cpp: starting, driving and ending the built program from outside.
#include "demo_process.h"

#include "x11probe.h"

#include <QElapsedTimer>
#include <QtTest>

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
    // The window manager may make it full-screen only after the first frames, and the frames
    // drawn while the size changes may still have the old one.
    const QRect screen(QPoint(0, 0), x11.screenSize());
    while (x11.geometry(window) != screen && timer.elapsed() < timeoutMs && running())
        QTest::qWait(10);
    x11.countFrames(window);
    x11.timeFrames(window);
    if (!x11.waitForWholeFrame(screen.size(), int(qMax<qint64>(0, timeoutMs - timer.elapsed()))))
        return 0;
    return x11.waitForFrames(2) ? window : 0;
}

int Demo::waitForExit(int timeoutMs)
{
    if (running() && !m_process.waitForFinished(timeoutMs))
        return -1;
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : 128;
}

QByteArray Demo::output()
{
    // Without an event loop QProcess reads its pipe only when asked to wait for it.
    while (running() && m_process.waitForReadyRead(50))
        ;
    m_output += m_process.readAll();
    return m_output;
}

QString runTool(const QString &tool, const QStringList &arguments)
{
    QProcess process;
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
    if (status != 0)
        return QStringLiteral("after %1: exit status %2 (-1: still running)").arg(keys).arg(status);
    const QByteArray output = demo.output();
    if (!output.isEmpty())
        return QStringLiteral("after %1: printed \"%2\"").arg(keys, QString::fromLocal8Bit(output));
    return {};
}
