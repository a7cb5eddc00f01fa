// The real link on Qt sockets and timers against the device simulator, over
// loopback only.

#include "launcher.h"
#include "link/qt/qtlinkparts.h"

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
    QtLinkParts device;
    LoadLink(device.link, device.control);
    Link& link = device.link;
    const QtSocket& tcp = device.tcp;

    link.Open(QStringLiteral(" 127.0.0.1 "), QString::number(devsim_.Port()));
    QVERIFY(tcp.Connected());

    for (char command : {frame::CmdBurnEnable, frame::CmdSearch, frame::CmdBurnEnable, frame::CmdErase}) {
        QCOMPARE(link.Exchange([&](frame::SendBuffer& SendBuf,
                                   std::uint8_t&) { return frame::BuildShortFrame(SendBuf, command); },
                               frame::ShortReply),
                 Reply::Answered);
        QCOMPARE(link.RecCount(), std::int16_t(1));
    }

    std::array<std::uint8_t, frame::ModulePageSize> first{};
    std::array<std::uint8_t, frame::ModulePageSize> last{};
    for (std::size_t j = 0; j < first.size(); ++j) {
        first[j] = static_cast<std::uint8_t>(j);
        last[j] = static_cast<std::uint8_t>(0xFF - j);
    }
    QCOMPARE(link.Exchange([&](frame::SendBuffer& SendBuf,
                               std::uint8_t& FrameXor) { return frame::BuildPageFrame(SendBuf, FrameXor, 0, first); },
                           frame::PageReply),
             Reply::Answered);
    QCOMPARE(int(link.RecBuf()[0]), int(frame::PageAcceptedByte));

    QCOMPARE(link.Exchange([&](frame::SendBuffer& SendBuf,
                               std::uint8_t& FrameXor) { return frame::BuildPageFrame(SendBuf, FrameXor, 127, last); },
                           frame::PageReply),
             Reply::Answered);
    QCOMPARE(int(link.RecBuf()[0]), int(frame::PageAcceptedByte));
    // The lock bytes follow the last page's reply in a delivery of their own.
    QCOMPARE(link.AwaitReply(frame::LockReply), Reply::Answered);
    QCOMPARE(int(link.RecBuf()[0]), 0xAF);
    QCOMPARE(int(link.RecBuf()[1]), 0xDC);
    QCOMPARE(int(link.RecBuf()[2]), 0xCC);

    QFile flash(dir_.filePath(QStringLiteral("flash.bin")));
    QVERIFY(flash.open(QIODevice::ReadOnly));
    const QByteArray written = flash.readAll();
    QCOMPARE(written.size(), 8192);
    QCOMPARE(written.left(64), QByteArray(reinterpret_cast<const char*>(first.data()), 64));
    QCOMPARE(written.right(64), QByteArray(reinterpret_cast<const char*>(last.data()), 64));
    QCOMPARE(written.mid(64, 64), QByteArray(64, '\xFF'));  // erased, never written

    std::array<std::uint8_t, frame::FontPageSize> font{};
    font.fill(0x01);
    QCOMPARE(
        link.Exchange([&](frame::SendBuffer& SendBuf,
                          std::uint8_t& FrameXor) { return frame::BuildFontPageFrame(SendBuf, FrameXor, 300, font); },
                      frame::FontPageReply),
        Reply::Answered);
    QVERIFY(frame::FontPageAccepted(link.RecBuf()));

    for (char qualifier : {frame::QualFont, frame::QualChecksum}) {
        QCOMPARE(link.Exchange(
                     [&](frame::SendBuffer& SendBuf, std::uint8_t& FrameXor) {
                         return frame::BuildCheckFrame(SendBuf, FrameXor, qualifier, 300, 300, 256);
                     },
                     frame::CheckReply),
                 Reply::Answered);
        QVERIFY(frame::CheckReplyMatches(link.RecBuf(), link.SendBuf()));
    }
    QCOMPARE(link.Exchange(
                 [&](frame::SendBuffer& SendBuf, std::uint8_t& FrameXor) {
                     return frame::BuildCheckFrame(SendBuf, FrameXor, frame::QualChecksum, 300, 300, 257);
                 },
                 frame::CheckReply),
             Reply::Answered);
    QVERIFY(!frame::CheckReplyMatches(link.RecBuf(), link.SendBuf()));
}

QTEST_GUILESS_MAIN(LinkLoopbackTest)
#include "tst_link_loopback.moc"
