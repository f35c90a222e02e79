// main.cpp: hides the pointer, shows the demo window full-screen and runs until Escape.
#include "window.h"

#include <QCursor>
#include <QFontInfo>
#include <QGuiApplication>
#include <QOpenGLContext>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// The name the program was started by, for its messages.
const char *programName = "scrolldemo";

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

// The display the platform plugin will try, as the user named it, for the refusal below.
QByteArray displayToReach(int argc, char **argv)
{
    QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    QByteArray display = qgetenv("DISPLAY");
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "-platform") || !std::strcmp(argv[i], "--platform"))
            platform = argv[i + 1];
        else if (!std::strcmp(argv[i], "-display") || !std::strcmp(argv[i], "--display"))
            display = argv[i + 1];
    }
    if (platform.startsWith("wayland")) {
        const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
        return "the Wayland display \"" + (wayland.isEmpty() ? "wayland-0" : wayland) + '"';
    }
    if (display.isEmpty())
        return "an X display (DISPLAY is not set)";
    return "the X display \"" + display + '"';
}

QByteArray unreachableDisplay;
QtMessageHandler qtMessageHandler = nullptr;

// Without a display Qt ends in a fatal error: an abort, a core file and advice to reinstall.
// That is no crash, so it ends like the other refusals: one line and status 1.
void refuseWithoutPlatform(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtFatalMsg
        && text.contains(QLatin1String("no Qt platform plugin could be initialized"))) {
        std::fprintf(stderr, "%s: could not connect to %s\n", programName,
                     unreachableDisplay.constData());
        std::_Exit(1);
    }
    qtMessageHandler(type, context, text);
}

// Empty when the context can draw the picture; else why not.
QString openGLRefusal(const QOpenGLContext *context)
{
    if (Window::canDrawWith(context))
        return {};
    const QSurfaceFormat wanted = Window::surfaceFormat();
    const QString needed = QStringLiteral("OpenGL %1.%2 core profile")
                               .arg(wanted.majorVersion())
                               .arg(wanted.minorVersion());
    if (!context || !context->isValid())
        return QStringLiteral("could not create an %1 context").arg(needed);
    const QSurfaceFormat obtained = context->format();
    return QStringLiteral("needs %1, but the driver offers only OpenGL %2.%3")
        .arg(needed)
        .arg(obtained.majorVersion())
        .arg(obtained.minorVersion());
}

} // namespace

int main(int argc, char **argv)
{
    openClosedStandardStreams();
    if (argc > 0) {
        const char *slash = std::strrchr(argv[0], '/');
        programName = slash ? slash + 1 : argv[0];
    }
    keepFrameBlocksOutOfTheHeap();
    Window::cacheGreetingGlyphs();

    unreachableDisplay = displayToReach(argc, argv);
    qtMessageHandler = qInstallMessageHandler(refuseWithoutPlatform);
    QGuiApplication app(argc, argv);
    qInstallMessageHandler(qtMessageHandler);
    QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));

    // Whether the driver can draw the picture is found out before anything is shown or compiled:
    // on the window's own context where it can be created first, else on a probe.
    Window window;
    QString refusal;
    if (const QOpenGLContext *context = window.createContextBeforeShowing()) {
        refusal = openGLRefusal(context);
    } else {
        QOpenGLContext probe;
        probe.setFormat(Window::surfaceFormat());
        probe.create();
        refusal = openGLRefusal(&probe);
    }
    if (!refusal.isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", programName, qPrintable(refusal));
        return 1;
    }
    if (QFontInfo(Window::greetingFont()).family().isEmpty())
        std::fprintf(stderr, "%s: the greeting cannot be drawn: no font\n", programName);
    window.showFullScreen();
    return app.exec();
}
