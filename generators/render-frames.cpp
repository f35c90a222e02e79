// render-frames: writes frames of the real demo window at exact times as PNG files.
//
//   render-frames DIR START_MS STEP_MS COUNT
// Shows the window full-screen on the current display and writes DIR/frame-0000.png and on,
// the frames at START_MS, START_MS + STEP_MS, ... of the animation clock.
#include "process.h"
#include "window.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>

#include <cstdio>
#include <cstdlib>

namespace {

class FrameWriter : public Window
{
public:
    FrameWriter(const QString &dir, qint64 start, qint64 step, int count)
        : m_dir(dir)
        , m_start(start)
        , m_step(step)
        , m_count(count)
    { }

    int written = 0;

protected:
    qint64 elapsedMs() const override { return m_start + m_step * written; }

    void paintOverGL() override
    {
        // The first frames may come before the window covers the screen.
        const QSize screenPixels = screen()->size() * screen()->devicePixelRatio();
        if (++m_drawn < 3 || size() * devicePixelRatio() != screenPixels)
            return;
        const QString path
            = m_dir.filePath(QStringLiteral("frame-%1.png").arg(written, 4, 10, QLatin1Char('0')));
        if (!grabFramebuffer().save(path)) {
            std::fprintf(stderr, "render-frames: cannot write %s\n", qPrintable(path));
            QCoreApplication::exit(1);
            return;
        }
        if (++written == m_count)
            QCoreApplication::quit();
    }

private:
    QDir m_dir;
    qint64 m_start;
    qint64 m_step;
    int m_count;
    int m_drawn = 0;
};

} // namespace

int main(int argc, char **argv)
{
    prepareProcess(argc, argv);
    QGuiApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s DIR START_MS STEP_MS COUNT\n", argv[0]);
        return 2;
    }
    FrameWriter window(QString::fromLocal8Bit(argv[1]), std::atoll(argv[2]), std::atoll(argv[3]),
                       std::atoi(argv[4]));
    const QString refusal = window.start();
    if (!refusal.isEmpty()) {
        std::fprintf(stderr, "render-frames: %s\n", qPrintable(refusal));
        return 1;
    }
    return app.exec();
}
