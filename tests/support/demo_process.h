// demo_process.h: the built program as a child process, and the keys and tools that drive it.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class X11Probe;

class Demo
{
public:
    // A launcher, when given, runs the program: its first word is started with the rest, the
    // program and the arguments as its arguments (as in sh -c 'exec "$0" "$@" 2>&-').
    explicit Demo(const QStringList &arguments = {},
                  const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                  const QStringList &launcher = {});
    ~Demo();
    Demo(const Demo &) = delete;
    Demo &operator=(const Demo &) = delete;

    qint64 pid() const { return m_process.processId(); }
    bool running() const { return m_process.state() == QProcess::Running; }

    // Waits until the window covers the screen and has presented a few frames there; returns
    // the window, or 0 when none came in time.
    unsigned long waitForPicture(X11Probe &x11, int timeoutMs = 20000);
    // The exit status once it ends by itself, 128 after a crash, -1 while it still runs.
    int waitForExit(int timeoutMs = 10000);
    // Everything it printed so far, on either stream.
    QByteArray output();

private:
    QProcess m_process;
    QByteArray m_output;
};

// Each returns what went wrong, or an empty string.
QString runTool(const QString &tool, const QStringList &arguments);
QString sendKeys(const QStringList &keys);
// Quits the demo with keys that include Escape: a clean quit is status 0 with nothing printed.
QString quitFault(Demo &demo, const QString &keys = QStringLiteral("Escape"));
