// The fake timer against QTimer where their behaviour is easiest to get
// wrong: intervals of zero and below. A test on the fakes can only be
// trusted where the fakes do what the real parts do.

#include "fakeplatform.h"
#include "platform/qt/qttimer.h"

#include <QCoreApplication>
#include <QtTest>

using namespace modburn;

class TimerParityTest : public QObject {
    Q_OBJECT
private slots:
    void intervalsOfZeroAndBelow_data();
    void intervalsOfZeroAndBelow();
};

void TimerParityTest::intervalsOfZeroAndBelow_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("passes");
    QTest::newRow("zero ticks once a pass") << 0 << 5;
    QTest::newRow("negative never ticks") << -1 << 5;
    QTest::newRow("zero, a single pass") << 0 << 1;
}

void TimerParityTest::intervalsOfZeroAndBelow()
{
    QFETCH(int, interval);
    QFETCH(int, passes);

    QtTimer real;
    int realTicks = 0;
    real.SetTickHandler([&] { ++realTicks; });
    real.SetInterval(interval);
    real.SetEnabled(true);
    for (int i = 0; i < passes; ++i)
        QCoreApplication::processEvents();

    fake::VirtualClock clock;
    fake::FakeEventQueue events(clock);
    fake::FakeTimer fakeTimer(clock);
    fakeTimer.SetInterval(interval);
    fakeTimer.SetEnabled(true);
    for (int i = 0; i < passes; ++i)
        events.DoEvents();

    QCOMPARE(fakeTimer.ticks, realTicks);
    QCOMPARE(fakeTimer.Enabled(), real.Enabled());
    QCOMPARE(clock.Now(), std::int64_t{0});

    // Disabled, neither ticks again.
    real.SetEnabled(false);
    fakeTimer.SetEnabled(false);
    QCoreApplication::processEvents();
    events.DoEvents();
    QCOMPARE(fakeTimer.ticks, realTicks);
}

QTEST_GUILESS_MAIN(TimerParityTest)
#include "tst_timer_parity.moc"
