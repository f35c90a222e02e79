// tst_platform: the platform as the window decides it, from Qt's plugin names and the build's
// parts.
#include "platform.h"

#include <QtTest>

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void kindFromQtsPluginName_data();
    void kindFromQtsPluginName();
    void reachesBelowQtOnlyWithThePartBuilt();
    void buildHasThePartsTheSuiteRunsOn();
};

void TestPlatform::kindFromQtsPluginName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("kind");
    QTest::newRow("xcb") << QStringLiteral("xcb") << int(Platform::X11);
    QTest::newRow("wayland") << QStringLiteral("wayland") << int(Platform::Wayland);
    QTest::newRow("wayland-egl") << QStringLiteral("wayland-egl") << int(Platform::Wayland);
    QTest::newRow("wayland-xcomposite-glx")
        << QStringLiteral("wayland-xcomposite-glx") << int(Platform::Wayland);
    QTest::newRow("offscreen") << QStringLiteral("offscreen") << int(Platform::Other);
    QTest::newRow("eglfs") << QStringLiteral("eglfs") << int(Platform::Other);
    // Qt's names are lower case; a look-alike is another plugin.
    QTest::newRow("XCB") << QStringLiteral("XCB") << int(Platform::Other);
    QTest::newRow("xcb-glx") << QStringLiteral("xcb-glx") << int(Platform::Other);
    QTest::newRow("undecided") << QString() << int(Platform::Other);
}

void TestPlatform::kindFromQtsPluginName()
{
    QFETCH(QString, name);
    QFETCH(int, kind);
    QCOMPARE(int(Platform::named(name).kind), kind);
}

void TestPlatform::reachesBelowQtOnlyWithThePartBuilt()
{
#ifdef SCROLLDEMO_X11
    const bool x11Part = true;
#else
    const bool x11Part = false;
#endif
#ifdef SCROLLDEMO_WAYLAND
    const bool waylandPart = true;
#else
    const bool waylandPart = false;
#endif
    const Platform x11 = Platform::named(QStringLiteral("xcb"));
    const Platform wayland = Platform::named(QStringLiteral("wayland"));
    const Platform other = Platform::named(QStringLiteral("offscreen"));
    QCOMPARE(x11.withX11(), x11Part);
    QCOMPARE(wayland.withWayland(), waylandPart);
    QVERIFY(!x11.withWayland());
    QVERIFY(!wayland.withX11());
    QVERIFY(!other.withX11() && !other.withWayland());
    // Before Qt has chosen its plugin nothing is decided, and nothing is kept for later.
    QCOMPARE(int(Platform::current().kind), int(Platform::Other));
}

// The suite's desktops need the parts it names in SUITE_PARTS: a build without one would fail them
// for a reason no case names, or, where no case looks, pass without what users get.
void TestPlatform::buildHasThePartsTheSuiteRunsOn()
{
    const QStringList parts
        = qEnvironmentVariable("SUITE_PARTS").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        QSKIP("this build runs no desktop");
    const Platform x11 = Platform::named(QStringLiteral("xcb"));
    const Platform wayland = Platform::named(QStringLiteral("wayland"));
    for (const QString &part : parts) {
        const bool built = part == QLatin1String("x11") ? x11.x11Part
            : part == QLatin1String("wayland")          ? wayland.waylandPart
                                                        : false;
        QVERIFY2(built,
                 qPrintable(QStringLiteral("built without the %1 part, which the suite's "
                                           "desktops need: see the configure's line")
                                .arg(part)));
    }
}

QTEST_APPLESS_MAIN(TestPlatform)
#include "tst_platform.moc"
