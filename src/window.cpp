// window.cpp: builds the GPU objects once, then draws the picture and the greeting every frame.
#include "window.h"

#include "animation.h"
#include "greeting.h"
#include "mipmaps.h"
#include "quad.h"
#include "wayland.h"
#include "words.h"
#include "x11.h"

#include <QColor>
#include <QCoreApplication>
#include <QFont>
#include <QFontInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QPixmap>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>

Window::Window()
    : QOpenGLWindow(QOpenGLWindow::NoPartialUpdate)
    , m_fontFound(m_fontLookedUp.get_future())
    , m_logoLevels(std::async(std::launch::async, &Window::prepareOffTheGuiThread, this))
    , m_logoTexture(QOpenGLTexture::Target2D)
    , m_shader()
    , m_vao()
    , m_vbo()
    , m_timer()
    , m_coverWatch([this](bool covered) { setCovered(covered); })
{
    setFormat(surfaceFormat());
    setCursor(blankCursor());
    // A kiosk compositor (cage) maximises instead of going full screen, and Qt's Wayland plugin
    // then drew a title bar and border of its own over the picture.
    setFlags(flags() | Qt::FramelessWindowHint);
}

// Decoding the logo and computing its mipmaps take some 60 ms, and the first look-up of a font
// reads the system's font list, some 10 ms more: on a thread of their own they are done while the
// GL context is made, which takes longer. One thread: a second would take the core the context is
// made on, on a machine with two. Qt's font database may be used from any thread.
std::vector<QImage> Window::prepareOffTheGuiThread()
{
    std::vector<QImage> levels = mipmapChain(QImage(QStringLiteral(":/Lurvo.png")));
    m_fontLookedUp.set_value(!QFontInfo(greetingFont()).family().isEmpty());
    return levels;
}

QSurfaceFormat Window::surfaceFormat()
{
    QSurfaceFormat format;
    format.setSamples(4);
    format.setVersion(4, 1);
    format.setProfile(QSurfaceFormat::CoreProfile);
    return format;
}

QFont Window::greetingFont()
{
    QFont font;
    font.setPixelSize(greeting::pixelSize);
    return font;
}

// Qt draws glyphs larger than its cache limit as filled paths, milliseconds of CPU per frame for
// the greeting; with the limit above its size at device-pixel ratios up to 4 they come from
// cached bitmaps.
void Window::cacheGreetingGlyphs()
{
    if (!qEnvironmentVariableIsSet("QT_MAX_CACHED_GLYPH_SIZE"))
        qputenv("QT_MAX_CACHED_GLYPH_SIZE", QByteArray::number(4 * greeting::pixelSize));
}

namespace {

bool canDrawWith(const QOpenGLContext *context)
{
    return context && context->isValid()
        && context->format().version() >= Window::surfaceFormat().version();
}

// Empty when the context can draw the picture; else why not.
QString openGLRefusal(const QOpenGLContext *context)
{
    if (canDrawWith(context))
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

QString Window::start()
{
    if (QGuiApplication::overrideCursor())
        QGuiApplication::changeOverrideCursor(blankCursor());
    else
        QGuiApplication::setOverrideCursor(blankCursor());
    const QString refusal = checkBeforeShowing();
    if (refusal.isEmpty())
        showOnWholeScreen();
    return refusal;
}

QString Window::checkBeforeShowing()
{
    QString refusal;
    if (const QOpenGLContext *own = createContextBeforeShowing()) {
        refusal = openGLRefusal(own);
    } else {
        QOpenGLContext probe;
        probe.setFormat(surfaceFormat());
        probe.create();
        refusal = openGLRefusal(&probe);
    }
    if (refusal.isEmpty() && !m_fontFound.get())
        say(QStringLiteral("the greeting cannot be drawn: no font"));
    return refusal;
}

QCursor Window::blankCursor()
{
    QPixmap transparent(16, 16);
    transparent.fill(Qt::transparent);
    return QCursor(transparent);
}

void Window::showOnWholeScreen()
{
    takePlace();
    // A Wayland compositor puts a new window on the output in use; Qt's request would name
    // another.
    const bool compositorChooses = wayland::isClient();
    if (!compositorChooses)
        setWindowStates(Qt::WindowFullScreen);
    setVisible(true);
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        m_coverWatch.watch(winId());
    if (compositorChooses && !wayland::requestFullScreenOnChosenOutput(this)) {
        // Qt 5 hands out no toplevel to ask with, and its request names the window's screen.
        // With one output that is the right one; with several, the window opens as a plain one
        // and asks once the compositor has told Qt where it put it. On another output than Qt's
        // first, Qt reports the change; on that one nothing comes, and the window asks once it
        // has been shown a while: sway told of the output only with the fourth frame, 0.4 s
        // after the first on a loaded machine.
        if (QGuiApplication::screens().size() > 1) {
            m_fullScreenOnceShown = true;
            connect(this, &QWindow::screenChanged, this, &Window::requestFullScreenOnceShown);
            connect(this, &QOpenGLWindow::frameSwapped, this, &Window::countFrameShown);
        } else {
            setWindowStates(Qt::WindowFullScreen);
        }
    }
    requestActivation();
}

// The size, and on X11 the place, the window opens at: the primary monitor where the user has set
// one, else wherever the desktop puts a new window, at the size of the monitor it most likely
// chooses (the pointer's), or of the window's screen.
void Window::takePlace()
{
    const x11::Placement place = x11::placement();
    // A screen's top-left corner keeps its coordinates at any device-pixel ratio.
    QScreen *target
        = place.monitor.isEmpty() ? nullptr : QGuiApplication::screenAt(place.monitor.topLeft());
    if (!target) {
        resize(screen()->size());
        return;
    }
    const QSize size = place.monitor.size() / target->devicePixelRatio();
    if (place.primary) {
        setScreen(target);
        setGeometry(QRect(place.monitor.topLeft(), size));
    } else {
        resize(size);
    }
}

void Window::requestFullScreen()
{
    if (!wayland::requestFullScreenOnChosenOutput(this))
        setWindowStates(windowStates() | Qt::WindowFullScreen);
}

void Window::countFrameShown()
{
    if (!m_shownFor.isValid())
        m_shownFor.start();
    if (++m_framesShown >= 10 && m_shownFor.elapsed() >= 1500)
        requestFullScreenOnceShown();
}

void Window::requestFullScreenOnceShown()
{
    if (!m_fullScreenOnceShown || m_ending)
        return;
    m_fullScreenOnceShown = false;
    disconnect(this, &QOpenGLWindow::frameSwapped, this, &Window::countFrameShown);
    setWindowStates(windowStates() | Qt::WindowFullScreen);
}

void Window::requestActivation()
{
    if (m_ending)
        return;
    // Qt 5's Wayland plugin cannot activate windows and says so on every request; there the
    // compositor activates a new window by itself.
    if (QT_VERSION_MAJOR == 5
        && QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return;
    requestActivate();
}

void Window::setCovered(bool covered)
{
    const bool seenAgain = m_covered && !covered;
    m_covered = covered;
    // The picture is a function of the clock: the next frame shows the present moment.
    if (seenAgain)
        update();
}

// Where the platform can make a context current on a window not yet shown (X11), creates the
// window's GL context, and through initializeGL its GPU objects, and returns it; it may be
// invalid. Elsewhere returns null.
QOpenGLContext *Window::createContextBeforeShowing()
{
    // Wayland, for one, has no surface to make a context current on before the window is shown.
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    // At the size it will be shown at: the driver sizes the window's buffers when the context is
    // first made current, and after a resize it can draw a few frames at the old size.
    takePlace();
    create();
    // The base class creates its context, makes it current and calls initializeGL on the first
    // resize; this one comes before the window is shown.
    QResizeEvent resize(size(), size());
    QOpenGLWindow::resizeEvent(&resize);
    return context();
}

// The members' GL objects must go while their context is current; the base class
// releases the context again once they are gone.
Window::~Window()
{
    makeCurrent();
}

bool Window::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::Close:
        m_ending = true;
        break;
    // A desktop may take the full-screen state away, as sway does when another window goes full
    // screen; the demo covers its output again once it is the active window.
    case QEvent::WindowStateChange:
        if (!(windowStates() & Qt::WindowFullScreen)
            && (static_cast<QWindowStateChangeEvent *>(event)->oldState() & Qt::WindowFullScreen))
            m_fullScreenTaken = true;
        break;
    case QEvent::FocusIn:
        if (m_fullScreenTaken && !m_ending) {
            m_fullScreenTaken = false;
            requestFullScreen();
        }
        break;
    // Every frame starts from one of these. Qt 6 closes the window as the application quits, and
    // an expose in the same pass would then draw with a context whose surface is gone.
    case QEvent::UpdateRequest:
        // Qt keeps a covered window exposed, and it would draw frames nobody sees; without a
        // compositing manager X says when it is covered. Elsewhere the compositor stops sending
        // frame callbacks, and Qt stops drawing.
        if (m_covered)
            return true;
        Q_FALLTHROUGH();
    case QEvent::Paint:
    case QEvent::Expose:
        if (!canDrawFrame())
            return true;
        break;
    default:
        break;
    }
    return QOpenGLWindow::event(event);
}

// Whether the next frame may be drawn: not once the run is ending, and not on a native window that
// another program has destroyed. Mesa's software rasteriser asks the X server for the window's
// size at the first draw of every frame and ignores the error when the window is gone, so it goes
// on with a size it never set, and corrupts the heap. Another program may destroy the window at any
// moment, with its DestroyNotify still on its way, so each frame asks the server first: one more
// round trip a frame, beside the rasteriser's own.
bool Window::canDrawFrame()
{
    // Without a native window, winId() would make a new one.
    if (m_ending || !handle())
        return false;
    if (!x11::windowExists(winId())) {
        endOnDestroyedWindow();
        return false;
    }
    return true;
}

// As after the desktop's close: the window, of which only Qt's side is left, goes, and with it the
// last window, which ends the run. Closing from inside the delivery of the event that told of the
// loss would close it under Qt 6's feet (it crashed), so that comes next.
void Window::endOnDestroyedWindow()
{
    if (m_ending)
        return;
    m_ending = true;
    QMetaObject::invokeMethod(this, &QWindow::close, Qt::QueuedConnection);
}

void Window::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        m_ending = true;
        QCoreApplication::quit();
    }
}

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
bool Window::nativeEvent(const QByteArray &eventType, void *message, qintptr *result)
#else
bool Window::nativeEvent(const QByteArray &eventType, void *message, long *result)
#endif
{
    switch (x11::windowEvent(eventType, message, winId())) {
    case x11::WindowEvent::Destroyed:
        endOnDestroyedWindow();
        return true;
    case x11::WindowEvent::Managed:
        // A window manager that starts after the window moves the focus to a window of its own
        // just after taking this one in, and a request for the focus stamped with an older time
        // loses to it (seen with Mutter). So the window asks with the server's present time,
        // and again once the window manager's start-up is over (Mutter's took 20 ms here).
        x11::askForServerTime(winId());
        QTimer::singleShot(500, this, [this] {
            if (!m_ending)
                x11::askForServerTime(winId());
        });
        break;
    case x11::WindowEvent::ServerTime:
        if (!m_ending)
            x11::activate(winId(), x11::eventTime(message));
        break;
    case x11::WindowEvent::Other:
        break;
    }
    return QOpenGLWindow::nativeEvent(eventType, message, result);
}

void Window::initializeGL()
{
    // Nothing is built, not even a shader compiled, on a context that cannot draw the picture.
    if (!canDrawWith(context()))
        return;

    m_timer.start();

    m_vao.create();
    m_vao.bind();

    m_vbo.create();
    m_vbo.bind();
    m_vbo.allocate(fullScreenQuad, int(sizeof fullScreenQuad));
    m_vbo.release();

    // A missing logo leaves the texture uncreated; the pass then samples no texture.
    const std::vector<QImage> logoLevels = m_logoLevels.get();
    if (!logoLevels.empty())
        uploadLogo(logoLevels);

    m_vao.release();
    const bool vertexAdded
        = m_shader.addShaderFromSourceFile(QOpenGLShader::Vertex, QStringLiteral(":/shader.vert"));
    const bool fragmentAdded = m_shader.addShaderFromSourceFile(QOpenGLShader::Fragment,
                                                                QStringLiteral(":/shader.frag"));
    const bool linked = m_shader.link();
    // A program that lost a stage may still link and would draw undefined colours;
    // removing its shaders unlinks it, so every frame skips the pass instead.
    if (!vertexAdded || !fragmentAdded || !linked)
        m_shader.removeAllShaders();
}

// The driver's own mipmap generation first compiles shaders of its own, some 50 ms of start-up on
// software OpenGL; the chain comes computed with the image.
void Window::uploadLogo(const std::vector<QImage> &levels)
{
    m_logoTexture.setSize(levels.front().width(), levels.front().height());
    m_logoTexture.setFormat(QOpenGLTexture::RGBA8_UNorm);
    m_logoTexture.setMipLevels(int(levels.size()));
    m_logoTexture.setAutoMipMapGenerationEnabled(false);
    m_logoTexture.allocateStorage(QOpenGLTexture::RGBA, QOpenGLTexture::UInt8);
    for (int mipLevel = 0; mipLevel < int(levels.size()); ++mipLevel)
        m_logoTexture.setData(mipLevel, QOpenGLTexture::RGBA, QOpenGLTexture::UInt8,
                              levels[size_t(mipLevel)].constBits());
}

// The shaders divide framebuffer coordinates by the resolution they are sent, so the
// viewport and v2Resolution are both in device pixels.
void Window::resizeGL(int w, int h)
{
    const qreal ratio = devicePixelRatio();
    glViewport(0, 0, qRound(w * ratio), qRound(h * ratio));
}

void Window::paintGL()
{
    QPainter painter(this);

    painter.beginNativePainting();
    if (m_shader.isLinked()) {
        drawShaderPass();
    } else {
        // Without a program the framebuffer would keep stale content under the greeting.
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    painter.endNativePainting();

    const QFont font = greetingFont();
    painter.setFont(font);
    painter.setPen(QColor(Qt::white));
    static const QString text = QString::fromLatin1(greeting::text);
    painter.drawText(scrollerX(elapsedMs()), greeting::baseline, text);

    update();
}

void Window::drawShaderPass()
{
    const bool hasLogo = m_logoTexture.isCreated();
    QOpenGLFunctions *gl = context()->functions();

    m_shader.bind();
    m_vao.bind();
    m_vbo.bind();
    // The painter keeps textures of its own bound, its glyph cache among them; the pass samples
    // unit 0, so it binds the logo there, or nothing, which samples as black.
    gl->glActiveTexture(GL_TEXTURE0);
    if (hasLogo)
        m_logoTexture.bind();
    else
        gl->glBindTexture(GL_TEXTURE_2D, 0);

    m_shader.setAttributeBuffer("vertex", GL_FLOAT, 0, 2, 0);
    m_shader.enableAttributeArray("vertex");

    m_shader.setUniformValue("v2Resolution", QSizeF(size() * devicePixelRatio()));
    m_shader.setUniformValue("fGlobalTime", shaderSeconds(elapsedMs()));
    m_shader.setUniformValue("texTex5", 0);

    glDrawArrays(GL_TRIANGLES, 0, 6);

    m_shader.disableAttributeArray("vertex");
    if (hasLogo)
        m_logoTexture.release();
    m_vbo.release();
    m_vao.release();
    m_shader.release();
}

qint64 Window::elapsedMs() const
{
    return m_timer.elapsed();
}
