// main.cpp: hides the pointer, shows the demo window full-screen and runs until Escape.
#include "window.h"

#include <QCursor>
#include <QGuiApplication>
#include <QOpenGLContext>

#include <cstdio>

namespace {

// Without any OpenGL context the window would still run its GL set-up and crash, so
// find out before anything is shown.
bool canCreateContext(const QSurfaceFormat &format)
{
    QOpenGLContext probe;
    probe.setFormat(format);
    return probe.create();
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));

    Window window;
    const QSurfaceFormat format = Window::surfaceFormat();
    if (!canCreateContext(format)) {
        std::fprintf(stderr, "%s: could not create an OpenGL %d.%d core-profile context\n",
                     qPrintable(QCoreApplication::applicationName()), format.majorVersion(),
                     format.minorVersion());
        return 1;
    }
    window.showFullScreen();
    return app.exec();
}
