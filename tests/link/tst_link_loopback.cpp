// The real link on Qt sockets and timers against the device simulator, over
// loopback only.

#include "launcher.h"
#include "link/link.h"
#include "platform/qt/qteventqueue.h"
#include "platform/qt/qtsocket.h"
#include "platform/qt/qttimer.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace modburn;

class LinkLoopbackTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void exchangesEveryFrameWithTheSimulator();

private:
    QTemporaryDir dir_;
    devsim::Launcher devsim_;
};

void LinkLoopbackTest::initTestCase()
{
    QVERIFY(dir_.isValid());
    QString error;
    QVERIFY2(devsim_.Start(QStringLiteral(MODBURN_DEVSIM_PATH),
                           {QStringLiteral("--flash-out"), dir_.filePath(QStringLiteral("flash.bin"))}, &error),
             qPrintable(error));
}

void LinkLoopbackTest::cleanupTestCase()
{
    devsim_.Stop();
}

void LinkLoopbackTest::exchangesEveryFrameWithTheSimulator()
{
    QtSocket tcp;
    QtSocket udp;
    QtTimer timer1;
    QtTimer timer4;
    QtEventQueue events;
    Link link(tcp, udp, timer1, timer4, events);
    link.SetUpSockets();
    link.StartTimers();

    link.Open(QStringLiteral(" 127.0.0.1 "), QString::number(devsim_.Port()));
    QCOMPARE(tcp.State(), sock::Connected);

    for (char command : {frame::CmdBurnEnable, frame::CmdSearch, frame::CmdBurnEnable, frame::CmdErase}) {
        link.DownLoad(static_cast<std::int16_t>(frame::BuildShortFrame(link.SendBuf, command)));
        QCOMPARE(link.GetSerialData(frame::ShortReply.timeoutMs, frame::ShortReply.length), FlagFalse);
        QCOMPARE(link.RecCount, std::int16_t(1));
    }

    std::array<std::uint8_t, frame::ModulePageSize> first{};
    std::array<std::uint8_t, frame::ModulePageSize> last{};
    for (std::size_t j = 0; j < first.size(); ++j) {
        first[j] = static_cast<std::uint8_t>(j);
        last[j] = static_cast<std::uint8_t>(0xFF - j);
    }
    link.DownLoad(static_cast<std::int16_t>(frame::BuildPageFrame(link.SendBuf, link.FrameXor, 0, first)));
    QCOMPARE(link.GetSerialData(frame::PageReply.timeoutMs, frame::PageReply.length), FlagFalse);
    QCOMPARE(int(link.RecBuf[0]), int(frame::PageAcceptedByte));

    link.DownLoad(static_cast<std::int16_t>(frame::BuildPageFrame(link.SendBuf, link.FrameXor, 127, last)));
    QCOMPARE(link.GetSerialData(frame::PageReply.timeoutMs, frame::PageReply.length), FlagFalse);
    QCOMPARE(int(link.RecBuf[0]), int(frame::PageAcceptedByte));
    // The lock bytes follow the last page's reply in a delivery of their own.
    QCOMPARE(link.GetSerialData(frame::LockReply.timeoutMs, frame::LockReply.length), FlagFalse);
    QCOMPARE(int(link.RecBuf[0]), 0xAF);
    QCOMPARE(int(link.RecBuf[1]), 0xDC);
    QCOMPARE(int(link.RecBuf[2]), 0xCC);

    QFile flash(dir_.filePath(QStringLiteral("flash.bin")));
    QVERIFY(flash.open(QIODevice::ReadOnly));
    const QByteArray written = flash.readAll();
    QCOMPARE(written.size(), 8192);
    QCOMPARE(written.left(64), QByteArray(reinterpret_cast<const char*>(first.data()), 64));
    QCOMPARE(written.right(64), QByteArray(reinterpret_cast<const char*>(last.data()), 64));
    QCOMPARE(written.mid(64, 64), QByteArray(64, '\xFF'));  // erased, never written

    std::array<std::uint8_t, frame::FontPageSize> font{};
    font.fill(0x01);
    link.DownLoad(static_cast<std::int16_t>(frame::BuildFontPageFrame(link.SendBuf, link.FrameXor, 300, font)));
    QCOMPARE(link.GetSerialData(frame::FontPageReply.timeoutMs, frame::FontPageReply.length), FlagFalse);
    QVERIFY(frame::FontPageAccepted(link.RecBuf));

    for (char qualifier : {frame::QualFont, frame::QualChecksum}) {
        link.DownLoad(static_cast<std::int16_t>(
            frame::BuildCheckFrame(link.SendBuf, link.FrameXor, qualifier, 300, 300, 256)));
        QCOMPARE(link.GetSerialData(frame::CheckReply.timeoutMs, frame::CheckReply.length), FlagFalse);
        QVERIFY(frame::CheckReplyMatches(link.RecBuf, link.SendBuf));
    }
    link.DownLoad(static_cast<std::int16_t>(frame::BuildCheckFrame(link.SendBuf, link.FrameXor, frame::QualChecksum, 300, 300, 257)));
    QCOMPARE(link.GetSerialData(frame::CheckReply.timeoutMs, frame::CheckReply.length), FlagFalse);
    QVERIFY(!frame::CheckReplyMatches(link.RecBuf, link.SendBuf));
}

QTEST_GUILESS_MAIN(LinkLoopbackTest)
#include "tst_link_loopback.moc"
