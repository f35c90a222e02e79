// process.cpp: what every program that runs the demo's window sets up before Qt starts.
#include "process.h"

#include "awake.h"
#include "greeting.h"
#include "words.h"
#include "x11.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <QThread>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <glob.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// Some launchers start programs with a standard stream closed. The next file opened, the display
// connection, would take its number, and every diagnostic would be written into it.
void openClosedStandardStreams()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1)
            open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY); // takes the lowest free number: fd
    }
}

// The driver allocates and frees blocks of up to 200 KiB every frame. Once the logo's 8 MB image
// is freed, glibc raises its mapping threshold to that size and carves those blocks from the heap,
// which they fragment (a megabyte more every few minutes); at glibc's initial threshold the
// largest are mapped and returned whole. Unless the user tunes the allocator already.
void keepFrameBlocksOutOfTheHeap()
{
#ifdef __GLIBC__
    if (!qEnvironmentVariableIsSet("MALLOC_MMAP_THRESHOLD_")
        && !qgetenv("GLIBC_TUNABLES").contains("mmap_threshold"))
        mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

// Qt draws glyphs larger than its cache limit as filled paths, milliseconds of CPU per frame for
// the greeting; with the limit above its size at device-pixel ratios up to 4 they come from
// cached bitmaps. Qt reads the limit once, before any text is drawn; a value the user set wins.
void cacheGreetingGlyphs()
{
    if (!qEnvironmentVariableIsSet("QT_MAX_CACHED_GLYPH_SIZE"))
        qputenv("QT_MAX_CACHED_GLYPH_SIZE", QByteArray::number(4 * greeting::pixelSize));
}

// Driver quirk (Mesa 26 on a machine without a DRM device, as a virtual machine without a GPU):
// on Wayland its EGL looked for a GPU the machine cannot have, and printed five lines of failures
// at every start, then drew in software. Without a render node software is all Mesa can do, so it
// is asked for at once, unless the user chooses Mesa's driver. Pinned by the Wayland desktops'
// silent runs on Debian testing.
void drawInSoftwareWithoutAGpu()
{
    for (const char *choice :
         {"LIBGL_ALWAYS_SOFTWARE", "GALLIUM_DRIVER", "MESA_LOADER_DRIVER_OVERRIDE"}) {
        if (qEnvironmentVariableIsSet(choice))
            return;
    }
    glob_t nodes {};
    const bool anyNode = glob("/dev/dri/renderD*", 0, nullptr, &nodes) == 0;
    globfree(&nodes);
    if (!anyNode)
        qputenv("LIBGL_ALWAYS_SOFTWARE", "1");
}

// A compositor that guards its focus gives it to a new window that brings the token its launcher
// was given (xdg-activation). Launchers pass it as XDG_ACTIVATION_TOKEN, which Qt 6 presents, and
// some only as DESKTOP_STARTUP_ID, the name X11's startup notification gave it.
void takeLauncherActivationToken()
{
    if (!qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN")
        && qEnvironmentVariableIsSet("DESKTOP_STARTUP_ID"))
        qputenv("XDG_ACTIVATION_TOKEN", qgetenv("DESKTOP_STARTUP_ID"));
}

// Where the session has no bus, libdbus starts one for whoever asks for it (autolaunch, through
// dbus-launch), and it outlives the program; Qt's accessibility bridge asks as the event loop
// starts. An address where no bus can be tells every library in the process that there is none.
void startNoSessionBus()
{
    if (!sessionHasBus())
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/dev/null/no-session-bus");
}

// What Qt was asked to start on, as the user named it, for the refusals below.
struct Requested
{
    QByteArray platform; // empty: Qt's default
    QByteArray display;  // X11
};
Requested requested;

Requested readRequest(int argc, char **argv)
{
    Requested result {qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY")};
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "-platform") || !std::strcmp(argv[i], "--platform"))
            result.platform = argv[i + 1];
        else if (!std::strcmp(argv[i], "-display") || !std::strcmp(argv[i], "--display"))
            result.display = argv[i + 1];
    }
    return result;
}

// The platform plugin Qt tried last, as its loader reports it, and whether it was there at all.
struct Tried
{
    QString plugin;
    bool missing = false;
};
Tried tried;

void noteTriedPlugin(const QString &message)
{
    const int open = message.indexOf(QLatin1Char('"'));
    const int close = message.indexOf(QLatin1Char('"'), open + 1);
    if (open < 0 || close < 0)
        return;
    tried.plugin = message.mid(open + 1, close - open - 1);
    tried.missing = message.startsWith(QLatin1String("Could not find"));
}

// Why Qt could not start, in the user's words: the plugin that is missing, the display that
// could not be reached, or the platform that failed and Qt's reason.
QString platformRefusal(const QString &fatal)
{
    const QLatin1String availableLead("Available platform plugins are: ");
    if (!fatal.contains(QLatin1String("no Qt platform plugin could be initialized"))) {
        const QString platform = qGuiApp ? QGuiApplication::platformName()
            : !tried.plugin.isEmpty()    ? tried.plugin
                                         : QString::fromLocal8Bit(requested.platform);
        return QStringLiteral("the Qt platform \"%1\" failed: %2")
            .arg(platform, fatal.section(QLatin1Char('\n'), 0, 0));
    }
    if (tried.missing) {
        const int lead = fatal.indexOf(availableLead);
        QString available = lead < 0
            ? QStringLiteral("none")
            : fatal.mid(lead + availableLead.size()).section(QLatin1Char('\n'), 0, 0).trimmed();
        if (available.endsWith(QLatin1Char('.')))
            available.chop(1);
        return QStringLiteral("there is no Qt platform plugin \"%1\" (available: %2)")
            .arg(tried.plugin, available);
    }
    // The loader's report may be filtered out by the user's logging rules.
    const QString plugin = !tried.plugin.isEmpty()
        ? tried.plugin
        : QString::fromLocal8Bit(requested.platform).section(QLatin1Char(';'), 0, 0);
    if (plugin.startsWith(QLatin1String("wayland"))) {
        const QByteArray socket = qgetenv("WAYLAND_DISPLAY");
        return QStringLiteral("could not connect to the Wayland display \"%1\"")
            .arg(QString::fromLocal8Bit(socket.isEmpty() ? "wayland-0" : socket));
    }
    if (plugin == QLatin1String("xcb") || plugin.isEmpty()) {
        if (requested.display.isEmpty())
            return QStringLiteral("could not connect to an X display (DISPLAY is not set)");
        return QStringLiteral("could not connect to the X display \"%1\"")
            .arg(QString::fromLocal8Bit(requested.display));
    }
    return QStringLiteral("the Qt platform plugin \"%1\" could not be started").arg(plugin);
}

// Until a window is on screen; a fatal error after that is Qt's own, with its core file.
bool startingUp()
{
    if (!qGuiApp)
        return true;
    if (QThread::currentThread() != qGuiApp->thread())
        return false;
    const QWindowList windows = QGuiApplication::topLevelWindows();
    return std::none_of(windows.begin(), windows.end(),
                        [](const QWindow *window) { return window->isExposed(); });
}

// Another program may destroy the window at any moment (X11), and requests of Qt's that were on
// their way to the server then fail. Qt reports each failure; a report about a window that no
// longer exists tells nothing the ending did not.
bool aboutAGoneWindow(const QMessageLogContext &context, const QString &text)
{
    if (!context.category || std::strcmp(context.category, "qt.qpa.xcb"))
        return false;
    static const QRegularExpression badWindow(
        QStringLiteral(R"(XCB error: 3 \(BadWindow\).* resource id: (\d+),)"));
    const QRegularExpressionMatch match = badWindow.match(text);
    return match.hasMatch() && !x11::windowExists(WId(match.captured(1).toULongLong()));
}

// Quirk (Qt 6.8 on Wayland at a fractional scale): the compositor's scale for the window comes
// after its first frames, and Qt's Wayland plugin does not always announce the new device-pixel
// ratio. Qt finds the stale value itself before the next frame, corrects it, and asks the user to
// report a bug in Qt; the frames are right. Pinned by e2e_picture_sway_scale1.5 and 1.25.
bool aboutAStaleRatioQtCorrected(const QString &text)
{
    return text.startsWith(
        QLatin1String("The cached device pixel ratio value was stale on window"));
}

QtMessageHandler qtMessageHandler = nullptr;

// Qt's messages pass here first. Without a display, a platform plugin or a screen, Qt ends in a
// fatal error: an abort, a core file and advice to reinstall. That is no crash, so it ends like
// the other refusals: one line and status 1.
void handleQtMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (context.category && !std::strcmp(context.category, "qt.qpa.plugin"))
        noteTriedPlugin(text);
    if (type == QtFatalMsg && startingUp())
        std::_Exit(refuse(platformRefusal(text)));
    if (aboutAGoneWindow(context, text) || aboutAStaleRatioQtCorrected(text))
        return;
    qtMessageHandler(type, context, text);
}

} // namespace

void prepareProcess(int argc, char **argv)
{
    openClosedStandardStreams();
    if (argc > 0)
        takeProgramName(argv[0]);
    keepFrameBlocksOutOfTheHeap();
    drawInSoftwareWithoutAGpu();
    takeLauncherActivationToken();
    cacheGreetingGlyphs();
    startNoSessionBus();
    requested = readRequest(argc, argv);
    qtMessageHandler = qInstallMessageHandler(handleQtMessage);
}
