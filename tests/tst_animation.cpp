// tst_animation: the clock-to-scroller and clock-to-seconds conversions, without a window.
#include "animation.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <map>

class TestAnimation : public QObject
{
    Q_OBJECT

private slots:
    void scrollerPosition_data();
    void scrollerPosition();
    void scrollerHoldsEachPositionForItsShareOfThePeriod();
    void shaderTimeStartsAtZero();
    void shaderTimeKeepsItsPrecision_data();
    void shaderTimeKeepsItsPrecision();
};

void TestAnimation::scrollerPosition_data()
{
    QTest::addColumn<qint64>("elapsed");
    QTest::addColumn<int>("x");

    QTest::newRow("start") << qint64(0) << 2000;
    QTest::newRow("first millisecond leaves 2000") << qint64(1) << 1999;
    QTest::newRow("half pixel truncated") << qint64(25) << 1997;
    QTest::newRow("one second") << qint64(1000) << 1900;
    QTest::newRow("positive fraction truncated to 0") << qint64(19991) << 0;
    QTest::newRow("exactly 0") << qint64(20000) << 0;
    QTest::newRow("negative fraction truncated toward zero") << qint64(20009) << 0;
    QTest::newRow("first whole negative") << qint64(20010) << -1;
    QTest::newRow("last millisecond of a period") << qint64(99999) << -7999;
    QTest::newRow("second period starts over") << qint64(100000) << 2000;
    QTest::newRow("third period starts over") << qint64(200000) << 2000;
    QTest::newRow("inside a later period") << qint64(300025) << 1997;
    QTest::newRow("after a year") << qint64(365LL * 24 * 3600 * 1000 + 99999) << -7999;
    QTest::newRow("largest clock reading") << std::numeric_limits<qint64>::max() << -5580;
}

void TestAnimation::scrollerPosition()
{
    QFETCH(qint64, elapsed);
    QFETCH(int, x);
    QCOMPARE(scrollerX(elapsed), x);
}

// Every integer position from 2000 down to -7999 appears once per period, 10 ms each,
// except 2000 (1 ms) and 0 (19 ms, since both -0.9 and 0.9 truncate to it).
void TestAnimation::scrollerHoldsEachPositionForItsShareOfThePeriod()
{
    std::map<int, int> held;
    int previous = scrollerX(0);
    for (qint64 ms = 0; ms < 100000; ++ms) {
        const int x = scrollerX(ms);
        QVERIFY2(x <= previous, qPrintable(QStringLiteral("moved right at %1 ms").arg(ms)));
        previous = x;
        ++held[x];
    }
    QCOMPARE(int(held.size()), 10000);
    QCOMPARE(held.begin()->first, -7999);
    QCOMPARE(held.rbegin()->first, 2000);
    for (const auto &[x, ms] : held) {
        const int expected = x == 2000 ? 1 : x == 0 ? 19 : 10;
        QVERIFY2(ms == expected, qPrintable(QStringLiteral("x = %1 held %2 ms").arg(x).arg(ms)));
    }
}

void TestAnimation::shaderTimeStartsAtZero()
{
    QCOMPARE(shaderSeconds(0), 0.0f);
    QCOMPARE(shaderSeconds(1), 0.001f);
    QCOMPARE(shaderSeconds(1500), 1.5f);
}

void TestAnimation::shaderTimeKeepsItsPrecision_data()
{
    QTest::addColumn<qint64>("uptime");
    QTest::newRow("a day") << qint64(24) * 3600 * 1000;
    QTest::newRow("a month") << qint64(30) * 24 * 3600 * 1000;
    QTest::newRow("a year") << qint64(365) * 24 * 3600 * 1000;
    QTest::newRow("ten years") << qint64(3652) * 24 * 3600 * 1000;
}

// What the shaders compute from the time, sine and cosine, must be those of the exact time,
// and frames 16 ms apart must stay 16 ms apart, whatever the uptime.
void TestAnimation::shaderTimeKeepsItsPrecision()
{
    QFETCH(qint64, uptime);
    const long double twoPi = 2.0L * 3.141592653589793238462643383279502884L;
    for (qint64 ms = uptime; ms < uptime + 10000; ms += 16) {
        const float sent = shaderSeconds(ms);
        const long double exact = (long double)ms / 1000.0L;
        QVERIFY2(std::fabs(std::sin(sent) - sinl(exact)) < 1e-4L
                     && std::fabs(std::cos(sent) - cosl(exact)) < 1e-4L,
                 qPrintable(QStringLiteral("at %1 ms: sent %2 s").arg(ms).arg(double(sent))));

        // The step to the next frame, folded into one period: a wrap is no jump.
        long double step = (long double)shaderSeconds(ms + 16) - sent;
        if (step < 0)
            step += twoPi;
        QVERIFY2(
            std::fabs(step - 0.016L) < 2e-6L,
            qPrintable(
                QStringLiteral("from %1 ms a 16 ms step became %2 s").arg(ms).arg(double(step))));
    }
}

QTEST_APPLESS_MAIN(TestAnimation)
#include "tst_animation.moc"
