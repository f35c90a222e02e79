// demo_process.h: the built program as a child process, and the keys and tools that drive it.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>

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
    // the window, or 0 when none came in time. On a Wayland desktop the window is the
    // compositor's output, which shows the picture once the demo covers it.
    unsigned long waitForPicture(X11Probe &x11, int timeoutMs = 20000);
    // Waits until the screen shows the picture edge to edge, whatever window draws it there;
    // false when it does not in time.
    bool waitForPictureOnScreen(X11Probe &x11, int timeoutMs = 20000);
    // The exit status once it ends by itself, 128 plus the signal's number after a crash (as a
    // shell reports it), -1 while it still runs. On a Wayland desktop the end includes the
    // picture leaving the screen: a compositor may fade a closed window out, and the next demo's
    // picture must not be taken for it.
    int waitForExit(int timeoutMs = 10000);
    // Ends it at once, as kill -9 does: no clean-up of its own runs.
    void kill() { m_process.kill(); }
    // Everything it printed so far, on either stream.
    QByteArray output();

private:
    unsigned long waitForPictureOf(X11Probe &x11, int timeoutMs);

    QProcess m_process;
    QByteArray m_output;
    X11Probe *m_screen = nullptr; // where waitForPicture saw the picture
};

// The desktop the tests run on, as tests/support/desktop.sh started and described it.
namespace desktop {
QString name();
bool isWayland();
// Whether the desktop keeps these keys (in xdotool's words) for itself.
bool keeps(const QString &keys);
bool canClose();
// The area of the display the demo must cover, of the output where it must open, and those of all
// outputs; the whole display where the desktop does not say.
QRect output(const X11Probe &x11);
QVector<QRect> outputs(const X11Probe &x11);
// Closes the demo's window the desktop's own way; what went wrong, or an empty string.
QString close(unsigned long window);
} // namespace desktop

// The size of the first buffer a Wayland client attached to its window, read from the
// protocol log it writes with WAYLAND_DEBUG=client; invalid when there is none.
QSize firstWaylandFrameSize(const QByteArray &log);

// Each returns what went wrong, or an empty string.
QString runTool(const QString &tool, const QStringList &arguments,
                const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
QString sendKeys(const QStringList &keys);
// Quits the demo with keys that include Escape: a clean quit is status 0 with nothing printed.
QString quitFault(Demo &demo, const QString &keys = QStringLiteral("Escape"));

// The CPU time the process has used so far, in seconds, as the kernel counts it; negative when
// it could not be read.
double cpuSeconds(qint64 pid);
// The share of one core the process used over the next milliseconds, from its CPU time as the
// kernel counts it; negative when it could not be read.
double coreShareOver(qint64 pid, int ms);
