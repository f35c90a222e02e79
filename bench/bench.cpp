// scrolldemo-bench: frame rate, frame times, paintGL CPU time, memory and start-up of the
// shipped window code, beside the floor of presenting one flat quad per frame.
//
//   scrolldemo-bench [--rounds N] [--seconds S] [--starts N] [--out DIR]
//       alternates demo (A) and floor (B) rounds in child processes, times start-ups of
//       the shipped program, prints a table and ends with the A/B frame-rate ratio;
//   scrolldemo-bench --measure demo|floor --seconds S [--frame-times FILE]
//       one round in this process (what the rounds above run).
#include "quad.h"
#include "window.h"
#include "x11probe.h"

#include <QCommandLineParser>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QOpenGLBuffer>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLVertexArrayObject>
#include <QOpenGLWindow>
#include <QProcess>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <vector>

namespace {

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[index];
}

// The shipped window, with the CPU time of each paintGL call recorded.
class MeasuredDemo : public Window
{
public:
    std::vector<double> paintCpuMs;

protected:
    void paintGL() override
    {
        const double before = threadCpuMs();
        Window::paintGL();
        paintCpuMs.push_back(threadCpuMs() - before);
    }
};

// The floor: the same surface format and size, presenting one flat full-screen quad.
class Floor : public QOpenGLWindow
{
public:
    std::vector<double> paintCpuMs;

    explicit Floor(const QSurfaceFormat &format)
        : QOpenGLWindow(QOpenGLWindow::NoPartialUpdate)
    {
        setFormat(format);
    }

    ~Floor() override { makeCurrent(); }

protected:
    void initializeGL() override
    {
        m_vao.create();
        m_vao.bind();
        m_vbo.create();
        m_vbo.bind();
        m_vbo.allocate(fullScreenQuad, int(sizeof fullScreenQuad));
        m_program.addShaderFromSourceCode(QOpenGLShader::Vertex,
                                          "#version 330 core\n"
                                          "in vec2 vertex;\n"
                                          "void main() { gl_Position = vec4(vertex, 0.0, 1.0); }\n");
        m_program.addShaderFromSourceCode(QOpenGLShader::Fragment,
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
        const double before = threadCpuMs();
        m_program.bind();
        m_vao.bind();
        context()->functions()->glDrawArrays(GL_TRIANGLES, 0, 6);
        m_vao.release();
        m_program.release();
        update();
        paintCpuMs.push_back(threadCpuMs() - before);
    }

private:
    QOpenGLShaderProgram m_program;
    QOpenGLVertexArrayObject m_vao;
    QOpenGLBuffer m_vbo;
};

// One round: full screen, one second to settle, then frames timed by their
// presentation for the given time. Prints one result line.
template <typename W>
int measure(W &window, double seconds, const QString &frameTimesPath)
{
    QElapsedTimer clock;
    std::vector<double> frameMs;
    qint64 previous = -1;
    qint64 measureFrom = -1;
    size_t cpuFrom = 0;
    QString renderer;
    QObject::connect(&window, &QOpenGLWindow::frameSwapped, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (measureFrom < 0) {
            if (now < 1000000000LL)
                return;
            measureFrom = now;
            previous = now;
            cpuFrom = window.paintCpuMs.size();
            renderer = QString::fromLatin1(
                reinterpret_cast<const char *>(window.context()->functions()->glGetString(GL_RENDERER)));
            return;
        }
        frameMs.push_back((now - previous) / 1e6);
        previous = now;
        if (now - measureFrom >= qint64(seconds * 1e9))
            QCoreApplication::quit();
    });
    clock.start();
    window.showFullScreen();
    QGuiApplication::exec();

    std::vector<double> cpu(window.paintCpuMs.begin() + qMin(cpuFrom, window.paintCpuMs.size()),
                            window.paintCpuMs.end());
    double totalMs = 0;
    for (double ms : frameMs)
        totalMs += ms;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("result fps=%.3f median=%.3f p99=%.3f cpu=%.4f rss=%ld frames=%zu size=%dx%d renderer=%s\n",
                frameMs.size() * 1000.0 / totalMs, percentile(frameMs, 0.5), percentile(frameMs, 0.99),
                percentile(cpu, 0.5), usage.ru_maxrss, frameMs.size(),
                int(window.width() * window.devicePixelRatio()), int(window.height() * window.devicePixelRatio()),
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

using Result = std::map<QString, QString>;

Result parseResult(const QByteArray &output)
{
    Result result;
    for (const QByteArray &line : output.split('\n')) {
        if (!line.startsWith("result "))
            continue;
        for (const QByteArray &field : line.mid(7).split(' ')) {
            const int eq = field.indexOf('=');
            if (eq > 0)
                result[QString::fromLatin1(field.left(eq))] = QString::fromLatin1(field.mid(eq + 1));
        }
    }
    return result;
}

struct Summary
{
    std::vector<double> values;
    QString line(const char *name, const char *unit, int decimals = 1) const
    {
        if (values.empty())
            return QStringLiteral("%1  no data").arg(QLatin1String(name), -34);
        return QStringLiteral("%1 %2 %3   (%4 - %5)")
            .arg(QLatin1String(name), -34)
            .arg(percentile(values, 0.5), 9, 'f', decimals)
            .arg(QLatin1String(unit), -6)
            .arg(*std::min_element(values.begin(), values.end()), 0, 'f', decimals)
            .arg(*std::max_element(values.begin(), values.end()), 0, 'f', decimals);
    }
};

// Launches the shipped program as a user would and times the first frame it presents,
// as the X server sees it.
int startupMs(X11Probe &x11, double &ms)
{
    QProcess demo;
    demo.setProgram(QStringLiteral(PROGRAM));
    x11.watchNewWindows();
    QElapsedTimer clock;
    clock.start();
    demo.start();
    const bool presented = demo.waitForStarted() && x11.waitForFirstFrameOf(demo.processId(), 20000);
    ms = clock.nsecsElapsed() / 1e6;
    demo.terminate();
    demo.waitForFinished();
    return presented ? 0 : 1;
}

int orchestrate(int rounds, double seconds, int starts, const QString &outDir)
{
    QDir().mkpath(outDir);
    std::map<QString, std::map<QString, Summary>> stats;
    QString size, renderer;
    for (int round = 1; round <= rounds; ++round) {
        for (const QString &variant : {QStringLiteral("demo"), QStringLiteral("floor")}) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--measure"), variant, QStringLiteral("--seconds"), QString::number(seconds),
                         QStringLiteral("--frame-times"),
                         QStringLiteral("%1/frame-times-%2-%3.txt").arg(outDir, variant).arg(round)});
            child.waitForFinished(int(seconds * 1000) + 60000);
            const Result result = parseResult(child.readAllStandardOutput());
            if (result.empty()) {
                std::fprintf(stderr, "%s round %d failed: %s\n", qPrintable(variant), round,
                             child.readAllStandardError().constData());
                return 1;
            }
            for (const char *key : {"fps", "median", "p99", "cpu", "rss"})
                stats[variant][QLatin1String(key)].values.push_back(result.at(QLatin1String(key)).toDouble());
            size = result.at(QStringLiteral("size"));
            renderer = result.at(QStringLiteral("renderer"));
            std::fprintf(stderr, "round %d %-5s %6.2f fps\n", round, qPrintable(variant),
                         result.at(QStringLiteral("fps")).toDouble());
        }
    }

    X11Probe x11;
    Summary startup;
    for (int i = 0; i < starts; ++i) {
        double ms = 0;
        if (startupMs(x11, ms) != 0) {
            std::fprintf(stderr, "start %d presented no frame\n", i + 1);
            return 1;
        }
        startup.values.push_back(ms);
    }

    QTextStream out(stdout);
    out << "scrolldemo benchmark: " << size << ", " << renderer.replace(QLatin1Char('_'), QLatin1Char(' ')) << ", "
        << rounds << " rounds of " << seconds << " s each, alternating A and B\n";
    out << QStringLiteral("%1 %2          (min - max)\n").arg(QString(), -34).arg(QStringLiteral("median"), 9);
    const auto block = [&out](const char *label, std::map<QString, Summary> &s) {
        out << label << '\n';
        out << s[QStringLiteral("fps")].line("  frames per second", "fps", 2) << '\n';
        out << s[QStringLiteral("median")].line("  frame time, median", "ms", 2) << '\n';
        out << s[QStringLiteral("p99")].line("  frame time, 99th percentile", "ms", 2) << '\n';
        out << s[QStringLiteral("cpu")].line("  paintGL thread CPU per frame", "ms", 3) << '\n';
        Summary rss;
        for (double kib : s[QStringLiteral("rss")].values)
            rss.values.push_back(kib / 1024.0);
        out << rss.line("  peak resident memory", "MiB", 1) << '\n';
    };
    block("A  demo", stats[QStringLiteral("demo")]);
    block("B  floor: one flat quad per frame", stats[QStringLiteral("floor")]);
    out << startup.line(qPrintable(QStringLiteral("start to first frame (%1 starts)").arg(starts)), "ms", 0) << '\n';
    const double a = percentile(stats[QStringLiteral("demo")][QStringLiteral("fps")].values, 0.5);
    const double b = percentile(stats[QStringLiteral("floor")][QStringLiteral("fps")].values, 0.5);
    out << QStringLiteral("A/B frame-rate ratio: %1\n").arg(a / b, 0, 'f', 3);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QStringLiteral("A and B rounds"), QStringLiteral("N"), QStringLiteral("5"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("measured seconds per round"), QStringLiteral("S"), QStringLiteral("5"));
    const QCommandLineOption startsOption(QStringLiteral("starts"), QStringLiteral("timed start-ups"), QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption outOption(QStringLiteral("out"), QStringLiteral("folder for frame times"), QStringLiteral("DIR"), QStringLiteral("bench-results"));
    const QCommandLineOption measureOption(QStringLiteral("measure"), QStringLiteral("run one round: demo or floor"), QStringLiteral("VARIANT"));
    const QCommandLineOption frameTimesOption(QStringLiteral("frame-times"), QStringLiteral("write frame times here"), QStringLiteral("FILE"));
    parser.addOptions({roundsOption, secondsOption, startsOption, outOption, measureOption, frameTimesOption});
    parser.process(app);
    const double seconds = parser.value(secondsOption).toDouble();

    if (parser.isSet(measureOption)) {
        QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
        if (parser.value(measureOption) == QLatin1String("demo")) {
            MeasuredDemo window;
            return measure(window, seconds, parser.value(frameTimesOption));
        }
        Floor window(Window::surfaceFormat());
        return measure(window, seconds, parser.value(frameTimesOption));
    }

    return orchestrate(parser.value(roundsOption).toInt(), seconds, parser.value(startsOption).toInt(),
                       parser.value(outOption));
}
