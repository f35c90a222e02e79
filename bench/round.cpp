// bench-round: one measured round of the shipped window, or of the floor window, in this process.
//
//   bench-round demo|floor [--seconds S] [--frame-times FILE]
// Shows the window full-screen, lets it settle for a second, then times S seconds of frames by
// their presentation and prints one "result" line. Without --seconds it only shows the window
// until it is terminated, so that its start-up can be timed from outside.
#include "process.h"
#include "quad.h"
#include "stats.h"
#include "window.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QOpenGLBuffer>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLVertexArrayObject>
#include <QTextStream>

#include <sys/resource.h>

#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double cpuMs(clockid_t clock)
{
    timespec now {};
    clock_gettime(clock, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// The shipped window, with the CPU time of each paintGL call recorded.
class MeasuredDemo : public Window
{
public:
    std::vector<double> paintCpuMs;

protected:
    void paintGL() override
    {
        const double before = cpuMs(CLOCK_THREAD_CPUTIME_ID);
        Window::paintGL();
        paintCpuMs.push_back(cpuMs(CLOCK_THREAD_CPUTIME_ID) - before);
    }
};

// The floor: the demo's surface format and size, presenting one flat full-screen quad.
class Floor : public QOpenGLWindow
{
public:
    std::vector<double> paintCpuMs;

    Floor()
        : QOpenGLWindow(QOpenGLWindow::NoPartialUpdate)
    {
        setFormat(Window::surfaceFormat());
    }

    ~Floor() override { makeCurrent(); }

    // The plain way to show an OpenGL window full screen, with the demo's pointer.
    QString start()
    {
        QGuiApplication::setOverrideCursor(Window::blankCursor());
        showFullScreen();
        return {};
    }

protected:
    void initializeGL() override
    {
        m_vao.create();
        m_vao.bind();
        m_vbo.create();
        m_vbo.bind();
        m_vbo.allocate(fullScreenQuad, int(sizeof fullScreenQuad));
        m_program.addShaderFromSourceCode(
            QOpenGLShader::Vertex,
            "#version 330 core\n"
            "in vec2 vertex;\n"
            "void main() { gl_Position = vec4(vertex, 0.0, 1.0); }\n");
        m_program.addShaderFromSourceCode(
            QOpenGLShader::Fragment,
            "#version 410 core\n"
            "layout(location = 0) out vec4 out_color;\n"
            "void main() { out_color = vec4(0.1, 0.1, 0.215, 1.0); }\n");
        m_program.link();
        m_program.bind();
        m_program.setAttributeBuffer("vertex", GL_FLOAT, 0, 2, 0);
        m_program.enableAttributeArray("vertex");
        m_vao.release();
    }

    void paintGL() override
    {
        const double before = cpuMs(CLOCK_THREAD_CPUTIME_ID);
        m_program.bind();
        m_vao.bind();
        context()->functions()->glDrawArrays(GL_TRIANGLES, 0, 6);
        m_vao.release();
        m_program.release();
        update();
        paintCpuMs.push_back(cpuMs(CLOCK_THREAD_CPUTIME_ID) - before);
    }

private:
    QOpenGLShaderProgram m_program;
    QOpenGLVertexArrayObject m_vao;
    QOpenGLBuffer m_vbo;
};

// Frames are timed by their frameSwapped signal, which the GUI thread handles, so the CPU time
// read there is the GUI thread's.
template <typename W> int measure(W &window, double seconds, const QString &frameTimesPath)
{
    QElapsedTimer clock;
    std::vector<double> frameMs;
    qint64 previous = -1;
    qint64 measureFrom = -1;
    size_t cpuFrom = 0;
    double guiCpuFrom = 0, processCpuFrom = 0, guiShare = 0;
    QString renderer;
    QObject::connect(&window, &QOpenGLWindow::frameSwapped, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (measureFrom < 0) {
            if (now < 1000000000LL)
                return;
            measureFrom = now;
            previous = now;
            cpuFrom = window.paintCpuMs.size();
            guiCpuFrom = cpuMs(CLOCK_THREAD_CPUTIME_ID);
            processCpuFrom = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
            const GLubyte *name = window.context()->functions()->glGetString(GL_RENDERER);
            renderer = QString::fromLatin1(reinterpret_cast<const char *>(name));
            return;
        }
        frameMs.push_back((now - previous) / 1e6);
        previous = now;
        if (now - measureFrom >= qint64(seconds * 1e9)) {
            guiShare = (cpuMs(CLOCK_THREAD_CPUTIME_ID) - guiCpuFrom)
                / (cpuMs(CLOCK_PROCESS_CPUTIME_ID) - processCpuFrom);
            QCoreApplication::quit();
        }
    });
    clock.start();
    const QString refusal = window.start();
    if (!refusal.isEmpty()) {
        std::fprintf(stderr, "bench-round: %s\n", qPrintable(refusal));
        return 1;
    }
    QGuiApplication::exec();

    const std::vector<double> cpu(window.paintCpuMs.begin()
                                      + qMin(cpuFrom, window.paintCpuMs.size()),
                                  window.paintCpuMs.end());
    double totalMs = 0;
    for (double ms : frameMs)
        totalMs += ms;
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const QSize pixels = window.size() * window.devicePixelRatio();
    std::printf("result fps=%.3f median=%.3f p99=%.3f cpu=%.4f gui=%.4f rss=%ld frames=%zu "
                "size=%dx%d renderer=%s\n",
                frameMs.size() * 1000.0 / totalMs, percentile(frameMs, 0.5),
                percentile(frameMs, 0.99), percentile(cpu, 0.5), guiShare, usage.ru_maxrss,
                frameMs.size(), pixels.width(), pixels.height(),
                qPrintable(renderer.replace(QLatin1Char(' '), QLatin1Char('_'))));
    if (!frameTimesPath.isEmpty()) {
        QFile file(frameTimesPath);
        if (file.open(QIODevice::WriteOnly | QIODevice::Text)) {
            QTextStream out(&file);
            for (double ms : frameMs)
                out << ms << '\n';
        }
    }
    return frameMs.empty() ? 1 : 0;
}

template <typename W> int run(double seconds, const QString &frameTimesPath)
{
    W window;
    if (seconds > 0)
        return measure(window, seconds, frameTimesPath);
    const QString refusal = window.start();
    if (!refusal.isEmpty()) {
        std::fprintf(stderr, "bench-round: %s\n", qPrintable(refusal));
        return 1;
    }
    return QGuiApplication::exec();
}

} // namespace

int main(int argc, char **argv)
{
    prepareProcess(argc, argv);
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("window"), QStringLiteral("demo or floor"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("measured seconds (none: just show it)"),
                                           QStringLiteral("S"), QStringLiteral("0"));
    const QCommandLineOption frameTimesOption(QStringLiteral("frame-times"),
                                              QStringLiteral("write frame times here"),
                                              QStringLiteral("FILE"));
    parser.addOptions({secondsOption, frameTimesOption});
    parser.process(app);
    const double seconds = parser.value(secondsOption).toDouble();
    const QString frameTimes = parser.value(frameTimesOption);
    if (parser.positionalArguments() == QStringList {QStringLiteral("demo")})
        return run<MeasuredDemo>(seconds, frameTimes);
    if (parser.positionalArguments() == QStringList {QStringLiteral("floor")})
        return run<Floor>(seconds, frameTimes);
    parser.showHelp(2);
}
