// The link on fake platform parts and a virtual clock: the exchange, the
// waits and their time-outs, the open sequence and the window closing.

#include "errorof.h"
#include "fakedevice.h"
#include "fakelink.h"
#include "fakeplatform.h"

#include "link/link.h"
#include "platform/errors.h"
#include "platform/text.h"

#include <QtTest>

using namespace modburn;
using namespace modburn::fake;

namespace {

// A window's worth of link parts on a virtual clock, loaded at time 0.
struct Rig : FakeLinkParts {
    Rig() { LoadLink(link, control); }

    // Connected without the open sequence, for tests of the exchange alone.
    void Connected()
    {
        tcp.Connect(QStringLiteral("127.0.0.1"), 4001);
        clock.AdvanceTo(clock.Now() + tcp.connectDelayMs);
        QVERIFY(tcp.Connected());
    }

    void Frame(std::initializer_list<int> bytes)
    {
        std::size_t i = 0;
        for (int b : bytes)
            staged[i++] = static_cast<std::int16_t>(b);
    }

    // Sends the first `count` staged elements and waits for one byte.
    Reply DownLoad(int count)
    {
        return link.Exchange(
            [this, count](frame::SendBuffer& SendBuf, std::uint8_t&) {
                SendBuf = staged;
                return count;
            },
            {1, 500});
    }

    frame::SendBuffer staged{};
};

// The wait of GetSerialData(OverTimeX, RecCommLen), without a frame.
frame::ReplyRule Wait(int OverTimeX, int RecCommLen)
{
    return {static_cast<std::int16_t>(RecCommLen), static_cast<std::int16_t>(OverTimeX)};
}

}  // namespace

class LinkTest : public QObject {
    Q_OBJECT
private slots:
    void silentDeviceTimesOutWithoutSpinning();
    void replySplitOverTwoArrivals();
    void replyAndTimeOutOnTheSamePassCountAsTimeOut();
    void byteBetweenWaitsIsDroppedByTheNextWait();
    void rawBytesArriveUnchanged();
    void repliesAreCutByTheDevicesGrammar_data();
    void repliesAreCutByTheDevicesGrammar();
    void byteBeyondTheBufferIsDropped();
    void downLoadSendsOneByteAtATime();
    void downLoadStopsAtABadElement_data();
    void downLoadStopsAtABadElement();
    void sendOnAClosedLinkFails();
    void udpArrivalIsDiscarded();
    void openTrimsAndConnects();
    void settlingWaitLastsOneTimer1Interval_data();
    void settlingWaitLastsOneTimer1Interval();
    void connectWaitEndsAtTheNextTimer4Tick();
    void badPortTextFailsBeforeConnecting_data();
    void badPortTextFailsBeforeConnecting();
    void reachConnectsAndClosesWithoutSending_data();
    void reachConnectsAndClosesWithoutSending();
    void closingEndsEveryWait_data();
    void closingEndsEveryWait();
    void exchangesWithTheSimulatedDevice();
};

void LinkTest::silentDeviceTimesOutWithoutSpinning()
{
    Rig rig;
    rig.Connected();
    // A stray byte before the wait, which the wait must clear.
    rig.tcp.Deliver({0x77}, 1);
    rig.clock.AdvanceTo(rig.clock.Now() + 1);
    QCOMPARE(int(rig.link.RecBuf()[0]), 0x77);
    const auto start = rig.clock.Now();
    const int waitsBefore = rig.events.waitEventsCalls;

    QCOMPARE(rig.link.AwaitReply(Wait(500, 1)), Reply::TimedOut);

    QCOMPARE(rig.clock.Now() - start, 500);
    QCOMPARE(rig.link.RecCount(), std::int16_t(0));
    QCOMPARE(int(rig.link.RecBuf()[0]), 0);
    QVERIFY(!rig.timer1.Enabled());
    QCOMPARE(rig.timer1.Interval(), 500);
    // One sleep until the tick, not a busy loop of yields.
    QCOMPARE(rig.events.waitEventsCalls - waitsBefore, 1);
}

void LinkTest::replySplitOverTwoArrivals()
{
    Rig rig;
    rig.Connected();
    const auto start = rig.clock.Now();
    rig.tcp.Deliver({0x11}, 100);
    rig.tcp.Deliver({0x22, 0x33}, 250);

    QCOMPARE(rig.link.AwaitReply(Wait(5000, 3)), Reply::Answered);

    QCOMPARE(rig.clock.Now() - start, 250);
    QCOMPARE(rig.link.RecCount(), std::int16_t(3));
    QCOMPARE(int(rig.link.RecBuf()[0]), 0x11);
    QCOMPARE(int(rig.link.RecBuf()[2]), 0x33);
    QVERIFY(!rig.timer1.Enabled());
}

void LinkTest::replyAndTimeOutOnTheSamePassCountAsTimeOut()
{
    Rig rig;
    rig.Connected();
    rig.tcp.Deliver({0x05}, 500);
    QCOMPARE(rig.link.AwaitReply(Wait(500, 1)), Reply::TimedOut);
    QCOMPARE(rig.link.RecCount(), std::int16_t(1));
}

void LinkTest::byteBetweenWaitsIsDroppedByTheNextWait()
{
    Rig rig;
    rig.Connected();
    rig.tcp.Deliver({0x42}, 5);
    rig.clock.AdvanceTo(rig.clock.Now() + 10);
    // Appended even though no wait runs...
    QCOMPARE(rig.link.RecCount(), std::int16_t(1));
    QCOMPARE(int(rig.link.RecBuf()[0]), 0x42);
    // ...and gone once the next wait starts.
    QCOMPARE(rig.link.AwaitReply(Wait(500, 1)), Reply::TimedOut);
    QCOMPARE(rig.link.RecCount(), std::int16_t(0));
    QCOMPARE(int(rig.link.RecBuf()[0]), 0);
}

void LinkTest::repliesAreCutByTheDevicesGrammar_data()
{
    // What arrives, as "ms:hex bytes" deliveries counted from the first send
    // (a bare "ms:close" is the device hanging up); a page is sent again after
    // each silent 5000 ms wait. Then the lock-byte wait. The answers are
    // written "reply+locks" in hex, in order.
    QTest::addColumn<bool>("lastPage");
    QTest::addColumn<QString>("arrivals");
    QTest::addColumn<QString>("answers");
    QTest::addColumn<int>("answeredAt");  // when the exchange returned
    QTest::addColumn<int>("sends");
    // clang-format off
    QTest::newRow("lock bytes split from the reply") << true << "3:05 AF DC;40:CC" << "05+AFDCCC" << 3 << 1;
    QTest::newRow("an acceptance before page 127 has none") << false << "3:05;20:AF DC CC" << "05" << 3 << 1;
    QTest::newRow("a refusal is followed by lock bytes") << false << "3:15 AF DC CC" << "15+AFDCCC" << 3 << 1;
    QTest::newRow("first reply lost: the resend's may be the late one")
        << true << "5003:05 AF DC CC" << "05+AFDCCC" << 15000 << 2;
    QTest::newRow("silent twice: only the last two sends are live")
        << false << "10003:05" << "05" << 20000 << 3;
    QTest::newRow("the link closing ends the wait for an owed reply")
        << true << "5003:05 AF DC CC;7000:close" << "05+AFDCCC" << 7000 << 2;
    QTest::newRow("a reply in the pass of its time-out answers") << false << "5000:05" << "05" << 5000 << 1;
    // clang-format on
}

void LinkTest::repliesAreCutByTheDevicesGrammar()
{
    QFETCH(bool, lastPage);
    QFETCH(QString, arrivals);
    QFETCH(QString, answers);
    QFETCH(int, answeredAt);
    QFETCH(int, sends);
    Rig rig;
    rig.Connected();
    const std::int64_t start = rig.clock.Now();
    for (const QString& arrival : arrivals.split(u';')) {
        const qsizetype colon = arrival.indexOf(u':');
        const int at = arrival.left(colon).toInt();
        const QString what = arrival.mid(colon + 1);
        if (what == QLatin1String("close")) {
            rig.tcp.HangUp(at);
            continue;
        }
        std::vector<std::uint8_t> bytes;
        for (const QString& hex : what.split(u' '))
            bytes.push_back(static_cast<std::uint8_t>(hex.toInt(nullptr, 16)));
        rig.tcp.Deliver(bytes, at);
    }
    const auto build = [](frame::SendBuffer& SendBuf, std::uint8_t&) { return frame::BuildShortFrame(SendBuf, 'W'); };
    const frame::ReplyRule rule = lastPage ? frame::LastPageReply : frame::PageReply;
    int sent = 1;
    while (rig.link.Exchange(build, rule, nullptr, sent == 1 ? Send::First : Send::Again) == Reply::TimedOut)
        ++sent;
    QCOMPARE(rig.clock.Now() - start, std::int64_t{answeredAt});
    QCOMPARE(sent, sends);
    QVERIFY(!rig.timer1.Enabled());
    QCOMPARE(rig.timer1.Interval(), 5000);  // the next settling wait lasts the designed interval
    rig.link.AwaitLocks();

    QStringList got;
    for (const frame::Answer& answer : rig.link.Answers()) {
        QString text = QString::fromStdString(frame::Hex(answer.Reply()[0], 2));
        if (answer.lockCount > 0)
            text += u'+';
        for (int i = 0; i < answer.lockCount; ++i)
            text += QString::fromStdString(frame::Hex(answer.locks[static_cast<std::size_t>(i)], 2));
        got << text;
    }
    QCOMPARE(got.join(u','), answers);
}

void LinkTest::rawBytesArriveUnchanged()
{
    Rig rig;
    rig.Connected();
    rig.tcp.Deliver({0xAF, 0xDC, 0xCC, 0x00, 0x02, 0x03}, 1);
    // A wait for one byte stores the whole delivery.
    QCOMPARE(rig.link.AwaitReply(Wait(5000, 1)), Reply::Answered);
    QCOMPARE(rig.link.RecCount(), std::int16_t(6));
    const std::array<std::uint8_t, 6> expected{0xAF, 0xDC, 0xCC, 0x00, 0x02, 0x03};
    QVERIFY(std::equal(expected.begin(), expected.end(), rig.link.RecBuf().begin()));
}

void LinkTest::byteBeyondTheBufferIsDropped()
{
    Rig rig;
    rig.Connected();
    std::vector<std::uint8_t> flood(600);
    for (std::size_t i = 0; i < flood.size(); ++i)
        flood[i] = static_cast<std::uint8_t>(i);
    rig.tcp.Deliver(flood, 1);
    rig.tcp.Deliver({0xEE}, 2);

    QCOMPARE(rig.link.AwaitReply(Wait(500, 549)), Reply::Answered);
    QCOMPARE(rig.link.RecCount(), std::int16_t(549));
    QCOMPARE(int(rig.link.RecBuf()[548]), 548 % 256);
    rig.clock.AdvanceTo(rig.clock.Now() + 5);
    QCOMPARE(rig.link.RecCount(), std::int16_t(549));
    QCOMPARE(int(rig.link.RecBuf()[548]), 548 % 256);
}

void LinkTest::downLoadSendsOneByteAtATime()
{
    Rig rig;
    rig.Connected();
    rig.Frame({2, 97, 80, 81, 3, 99});
    rig.DownLoad(5);
    QCOMPARE(rig.tcp.sendCalls, 5);
    QCOMPARE(rig.tcp.sent, (std::vector<std::uint8_t>{0x02, 0x61, 0x50, 0x51, 0x03}));
    QCOMPARE(int(rig.link.SendByte()[0]), 0x03);

    rig.DownLoad(0);
    rig.DownLoad(-4);
    QCOMPARE(rig.tcp.sendCalls, 5);
}

void LinkTest::downLoadStopsAtABadElement_data()
{
    QTest::addColumn<int>("badIndex");
    QTest::addColumn<int>("badValue");
    QTest::addColumn<int>("count");
    QTest::addColumn<err::Number>("error");
    QTest::addColumn<int>("sentBefore");
    QTest::newRow("element 256 overflows") << 2 << 256 << 5 << err::Overflow << 2;
    QTest::newRow("negative element overflows") << 0 << -1 << 5 << err::Overflow << 0;
    QTest::newRow("count past the buffer") << -1 << 0 << 550 << err::SubscriptOutOfRange << 549;
}

void LinkTest::downLoadStopsAtABadElement()
{
    QFETCH(int, badIndex);
    QFETCH(int, badValue);
    QFETCH(int, count);
    QFETCH(err::Number, error);
    QFETCH(int, sentBefore);
    Rig rig;
    rig.Connected();
    rig.staged.fill(0x30);
    if (badIndex >= 0)
        rig.staged[static_cast<std::size_t>(badIndex)] = static_cast<std::int16_t>(badValue);
    QCOMPARE(ErrorOf([&] { rig.DownLoad(count); }), error);
    QCOMPARE(rig.tcp.sendCalls, sentBefore);
}

void LinkTest::sendOnAClosedLinkFails()
{
    Rig rig;
    rig.Frame({2, 97, 80, 81, 3});
    QCOMPARE(ErrorOf([&] { rig.DownLoad(5); }), err::SocketBadState);
    QVERIFY(rig.tcp.sent.empty());

    rig.Connected();
    rig.tcp.HangUp(1);
    rig.clock.AdvanceTo(rig.clock.Now() + 1);
    QCOMPARE(ErrorOf([&] { rig.DownLoad(5); }), err::SocketBadState);
}

void LinkTest::udpArrivalIsDiscarded()
{
    Rig rig;
    rig.udp.Connect(QStringLiteral("127.0.0.1"), 4001);
    rig.clock.AdvanceTo(rig.clock.Now() + rig.udp.connectDelayMs);
    rig.udp.Deliver({9, 9, 9}, 1);
    rig.clock.AdvanceTo(rig.clock.Now() + 1);
    QCOMPARE(rig.link.RecCount(), std::int16_t(0));
    QVERIFY(rig.udp.GetData().empty());
}

void LinkTest::openTrimsAndConnects()
{
    Rig rig;
    rig.clock.AdvanceTo(3000);
    rig.Connected();  // an earlier run's link, which the open must close first
    const auto start = rig.clock.Now();
    rig.link.Open(QStringLiteral("  127.0.0.1  "), QStringLiteral(" 4001 "));

    QCOMPARE(rig.tcp.closeCalls, 1);
    QCOMPARE(rig.tcp.connectHost, QStringLiteral("127.0.0.1"));
    QCOMPARE(rig.tcp.connectPort, 4001);
    QVERIFY(rig.tcp.Connected());
    // Settled for one second, then found the link already up.
    QCOMPARE(rig.clock.Now() - start, 1000);
    QVERIFY(rig.timer4.Enabled());
}

void LinkTest::settlingWaitLastsOneTimer1Interval_data()
{
    QTest::addColumn<int>("startAt");
    QTest::addColumn<int>("lastWaitMs");  // 0: no reply wait has run yet
    QTest::addColumn<int>("settled");     // how long the open took
    QTest::newRow("first run, after the first second") << 3000 << 0 << 1000;
    QTest::newRow("within the first second: the pending tick") << 300 << 0 << 700;
    QTest::newRow("after a 5000 ms reply wait") << 100 << 5000 << 5000;
    QTest::newRow("after a 500 ms reply wait") << 100 << 500 << 500;
}

void LinkTest::settlingWaitLastsOneTimer1Interval()
{
    QFETCH(int, startAt);
    QFETCH(int, lastWaitMs);
    QFETCH(int, settled);
    Rig rig;
    rig.tcp.connectDelayMs = 0;
    rig.clock.AdvanceTo(startAt);
    if (lastWaitMs > 0) {
        rig.Connected();
        rig.link.AwaitReply(Wait(static_cast<std::int16_t>(lastWaitMs), 1));
    }
    const auto start = rig.clock.Now();
    rig.link.Open(QStringLiteral("127.0.0.1"), QStringLiteral("4001"));
    QCOMPARE(rig.clock.Now() - start, settled);
}

void LinkTest::connectWaitEndsAtTheNextTimer4Tick()
{
    Rig rig;
    rig.tcp.acceptConnect = false;  // address that nobody answers
    rig.clock.AdvanceTo(3000);
    rig.link.Open(QStringLiteral("127.0.0.1"), QStringLiteral("4001"));
    QCOMPARE(rig.clock.Now(), 5000);
    QVERIFY(!rig.tcp.Connected());
    rig.Frame({2, 97, 80, 81, 3});
    QCOMPARE(ErrorOf([&] { rig.DownLoad(5); }), err::SocketBadState);

    // A tick only moments after the settling wait ends the connect wait
    // before a slow connection comes up.
    Rig late;
    late.tcp.connectDelayMs = 1010;
    late.clock.AdvanceTo(3995);
    late.link.Open(QStringLiteral("127.0.0.1"), QStringLiteral("4001"));
    QCOMPARE(late.clock.Now(), 5000);
    QCOMPARE(late.tcp.Status(), FakeSocket::State::Connecting);
}

void LinkTest::badPortTextFailsBeforeConnecting_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<err::Number>("error");
    QTest::newRow("letters") << "abc" << err::TypeMismatch;
    QTest::newRow("empty") << "" << err::TypeMismatch;
    QTest::newRow("blanks only") << "   " << err::TypeMismatch;
    QTest::newRow("fraction") << "4001.5" << err::TypeMismatch;
    QTest::newRow("negative") << "-1" << err::TypeMismatch;
    QTest::newRow("tab inside the text") << "\t4001" << err::TypeMismatch;
    QTest::newRow("above 65535") << "70000" << err::InvalidPropertyValue;
    QTest::newRow("zero") << "0" << err::InvalidPropertyValue;
    // Each of these, misread, would land on port 4001.
    QTest::newRow("plus sign") << "+4001" << err::TypeMismatch;
    QTest::newRow("hex") << "0xFA1" << err::TypeMismatch;
    QTest::newRow("full-width digits") << QStringLiteral("４００１") << err::TypeMismatch;
    QTest::newRow("4001 plus 65536") << "69537" << err::InvalidPropertyValue;
    QTest::newRow("4001 plus 2^32") << "4294971297" << err::InvalidPropertyValue;
    QTest::newRow("10000 nines") << QString(10000, u'9') << err::InvalidPropertyValue;
}

void LinkTest::badPortTextFailsBeforeConnecting()
{
    QFETCH(QString, port);
    QFETCH(err::Number, error);
    Rig rig;
    QCOMPARE(ErrorOf([&] { rig.link.Open(QStringLiteral(" 127.0.0.1"), port); }), error);
    QCOMPARE(rig.tcp.closeCalls, 1);
    QCOMPARE(rig.tcp.connectCalls, 0);
    QCOMPARE(rig.clock.Now(), 0);

    // Good texts, for contrast: leading zeros, however many, and the ends of the range.
    const QString longZeros = QString(9996, u'0') + QStringLiteral("4001");
    for (const auto& [text, value] : {std::pair{QStringLiteral("04001"), 4001},
                                      {longZeros, 4001},
                                      {QStringLiteral("1"), 1},
                                      {QStringLiteral("65535"), 65535}})
        QCOMPARE(ParsePort(text), value);
}

void LinkTest::reachConnectsAndClosesWithoutSending_data()
{
    using Why = ConnectFailure::Why;
    QTest::addColumn<bool>("accept");
    QTest::addColumn<Why>("refuse");  // how a connect that is not accepted fails; None: it never answers
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("stopAt");  // the owner stops the control then; 0: never
    QTest::addColumn<bool>("connected");
    QTest::addColumn<Why>("why");
    QTest::addColumn<int>("endsAt");  // the reach starts at 3000
    QTest::addColumn<int>("error");
    QTest::newRow("accepted") << true << Why::None << 1 << 0 << true << Why::None << 3001 << 0;
    QTest::newRow("accepted late, still within the connect wait")
        << true << Why::None << 1900 << 0 << true << Why::None << 4900 << 0;
    QTest::newRow("refused: at once, not at the tick")
        << false << Why::Refused << 20 << 0 << false << Why::Refused << 3020 << 0;
    QTest::newRow("name not found") << false << Why::HostNotFound << 300 << 0 << false << Why::HostNotFound << 3300
                                    << 0;
    QTest::newRow("nobody answers: the next Timer4 tick")
        << false << Why::None << 1 << 0 << false << Why::None << 5000 << 0;
    QTest::newRow("accepted after the tick") << true << Why::None << 2500 << 0 << false << Why::None << 5000 << 0;
    QTest::newRow("stopped while nobody answers")
        << false << Why::None << 1 << 3400 << false << Why::None << 3400 << int{err::WindowClosed};
}

void LinkTest::reachConnectsAndClosesWithoutSending()
{
    using Why = ConnectFailure::Why;
    QFETCH(bool, accept);
    QFETCH(Why, refuse);
    QFETCH(int, delayMs);
    QFETCH(int, stopAt);
    QFETCH(bool, connected);
    QFETCH(Why, why);
    QFETCH(int, endsAt);
    QFETCH(int, error);
    Rig rig;
    rig.tcp.acceptConnect = accept;
    rig.tcp.refuseWith.why = refuse;
    rig.tcp.connectDelayMs = delayMs;
    rig.clock.AdvanceTo(3000);
    if (stopAt > 0)
        rig.clock.Schedule(stopAt, [&] { rig.control.Stop(); });
    Reachability reached;
    QCOMPARE(ErrorOf([&] { reached = rig.link.Reach(QStringLiteral(" 127.0.0.1 "), QStringLiteral(" 4001")); }), error);
    QCOMPARE(rig.clock.Now(), endsAt);
    QCOMPARE(rig.tcp.connectHost, QStringLiteral("127.0.0.1"));
    QCOMPARE(rig.tcp.connectPort, 4001);
    QVERIFY(rig.tcp.sent.empty());
    if (error != 0)
        return;
    QCOMPARE(reached.connected, connected);
    QCOMPARE(reached.failure.why, why);
    QCOMPARE(rig.tcp.Status(), FakeSocket::State::Closed);

    // A run's open of the same device sees it the same way.
    Rig run;
    run.tcp.acceptConnect = accept;
    run.tcp.refuseWith.why = refuse;
    run.tcp.connectDelayMs = delayMs;
    run.clock.AdvanceTo(3000);
    run.link.Open(QStringLiteral("127.0.0.1"), QStringLiteral("4001"));
    QCOMPARE(run.tcp.Connected(), connected);
}

void LinkTest::closingEndsEveryWait_data()
{
    // The settling and connect waits are closed in the run's tests.
    QTest::addColumn<int>("closeAt");
    QTest::addColumn<bool>("byDevice");  // the device hangs up, rather than the window closing
    QTest::newRow("during a reply wait") << 3200 << false;
    QTest::newRow("before the wait") << 3000 << false;
    QTest::newRow("device hangs up during a reply wait: at once only if the owner asks") << 3200 << true;
}

void LinkTest::closingEndsEveryWait()
{
    QFETCH(int, closeAt);
    QFETCH(bool, byDevice);
    for (const bool endOnDrop : {true, false}) {
        Rig rig;
        rig.control.SetEndOnDroppedLink(endOnDrop);
        rig.clock.AdvanceTo(3000);
        rig.Connected();
        const std::int64_t start = rig.clock.Now();
        if (byDevice)
            rig.tcp.HangUp(closeAt - start);
        else
            rig.clock.Schedule(closeAt, [&] { rig.control.Stop(); });
        rig.clock.RunDue();

        const int error = !byDevice ? err::WindowClosed : endOnDrop ? err::SocketBadState : 0;
        QCOMPARE(ErrorOf([&] { rig.link.AwaitReply(Wait(5000, 1)); }), error);
        QCOMPARE(rig.clock.Now(), error != 0 ? std::max<std::int64_t>(closeAt, start) : start + 5000);
        QVERIFY(!rig.timer1.Enabled());
        // Later yields end at once too, once the window has closed.
        QCOMPARE(ErrorOf([&] { rig.link.DoEvents(); }), byDevice ? 0 : err::WindowClosed);
    }
}

void LinkTest::exchangesWithTheSimulatedDevice()
{
    Rig rig;
    devsim::Options options;
    options.silentBurnEnables = 2;
    options.pageWriteMs = 5;
    options.lockDelayMs = 20;
    FakeDevice device(rig.clock, rig.tcp, options);
    rig.clock.AdvanceTo(2000);
    rig.link.Open(QStringLiteral("127.0.0.1"), QStringLiteral("4001"));

    // Burn-enable is repeated until the device answers: two silent 500 ms waits.
    const auto start = rig.clock.Now();
    int attempts = 0;
    Reply timedOut = Reply::TimedOut;
    while (timedOut != Reply::Answered) {
        ++attempts;
        timedOut =
            rig.link.Exchange([](frame::SendBuffer& SendBuf,
                                 std::uint8_t&) { return frame::BuildShortFrame(SendBuf, frame::CmdBurnEnable); },
                              frame::ShortReply);
    }
    QCOMPARE(attempts, 3);
    QCOMPARE(rig.clock.Now() - start, 1000);

    std::array<std::uint8_t, frame::ModulePageSize> data{};
    data.fill(0x5A);
    const auto page127 = [&data](frame::SendBuffer& SendBuf, std::uint8_t& FrameXor) {
        return frame::BuildPageFrame(SendBuf, FrameXor, 127, data);
    };
    QCOMPARE(rig.link.Exchange(page127, frame::PageReply), Reply::Answered);
    QCOMPARE(int(rig.link.RecBuf()[0]), 0x05);
    QCOMPARE(rig.link.AwaitReply(frame::LockReply), Reply::Answered);
    QCOMPARE(int(rig.link.RecBuf()[0]), 0xAF);
    QCOMPARE(int(rig.link.RecBuf()[2]), 0xCC);
    QCOMPARE(int(device.device.Flash()[127 * 64]), 0x5A);
}

QTEST_APPLESS_MAIN(LinkTest)
#include "tst_link.moc"
