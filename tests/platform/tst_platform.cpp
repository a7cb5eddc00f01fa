// The Qt side of the platform layer and our serial-port model.

#include "errorof.h"
#include "platform/errors.h"
#include "platform/qt/progressbarwidget.h"
#include "platform/qt/qteventqueue.h"
#include "platform/qt/qtfile.h"
#include "platform/qt/qtsocket.h"
#include "platform/qt/qttimer.h"
#include "platform/qt/statusbarwidget.h"
#include "platform/serialport.h"

#include <QLabel>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace modburn;

class PlatformTest : public QObject {
    Q_OBJECT
private slots:
    void serialPortModelRaisesItsErrors();
    void socketSendFailsUnlessConnected();
    void socketDeliversWhatThePeerSends();
    void timerTicksUntilDisabled();
    void waitEventsSleepsUntilAnEvent();
    void fileReadsRawBytes();
    void statusBarReportsTheClickedPanel();
    void progressBarKeepsSinglePrecision();
};

void PlatformTest::serialPortModelRaisesItsErrors()
{
    SerialPortModel port;
    // Closing and emptying a closed port are harmless: callers rely on it.
    port.SetPortOpen(false);
    port.SetInBufferCount(0);
    QVERIFY(!port.PortOpen());

    port.SetPortOpen(true);
    QVERIFY(port.PortOpen());
    QCOMPARE(ErrorOf([&] { port.SetPortOpen(true); }), err::CommPortOpen);
    port.SetPortOpen(false);

    port.SetCommPort(0);
    QCOMPARE(ErrorOf([&] { port.SetPortOpen(true); }), err::CommInvalidPort);
    QVERIFY(!port.PortOpen());
}

void PlatformTest::socketSendFailsUnlessConnected()
{
    QtSocket socket(QtSocket::Protocol::Tcp);
    QVERIFY(!socket.Connected());
    QCOMPARE(ErrorOf([&] { socket.SendData({0x02}); }), err::SocketBadState);
    socket.Close();  // closing a closed socket does nothing

    // A port on loopback that nobody listens on any more.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    const quint16 port = server.serverPort();
    server.close();

    socket.Connect(QStringLiteral("127.0.0.1"), port);
    QCOMPARE(ErrorOf([&] { socket.SendData({0x02}); }), err::SocketBadState);
    QTest::qWait(100);  // time for the refusal to come back
    QVERIFY(!socket.Connected());
    QCOMPARE(ErrorOf([&] { socket.SendData({0x02}); }), err::SocketBadState);
}

void PlatformTest::socketDeliversWhatThePeerSends()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QtSocket socket(QtSocket::Protocol::Tcp);
    std::vector<std::uint8_t> received;
    socket.SetDataArrivalHandler([&](std::int32_t) {
        const auto bytes = socket.GetData();
        received.insert(received.end(), bytes.begin(), bytes.end());
    });
    socket.Connect(QStringLiteral("127.0.0.1"), server.serverPort());
    QTRY_VERIFY_WITH_TIMEOUT(socket.Connected(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 5000);
    QTcpSocket* peer = server.nextPendingConnection();

    for (std::uint8_t b : {0x02, 0x61, 0x03})
        socket.SendData({b});
    QTRY_COMPARE_WITH_TIMEOUT(peer->bytesAvailable(), qint64(3), 5000);
    QCOMPARE(peer->readAll(), QByteArray("\x02\x61\x03", 3));

    peer->write(QByteArray("\xAF\xDC\xCC", 3));
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), std::size_t(3), 5000);
    QCOMPARE(int(received[0]), 0xAF);

    peer->close();
    QTRY_VERIFY_WITH_TIMEOUT(!socket.Connected(), 5000);
    QCOMPARE(ErrorOf([&] { socket.SendData({0x02}); }), err::SocketBadState);
}

void PlatformTest::timerTicksUntilDisabled()
{
    QtTimer timer;
    int ticks = 0;
    timer.SetTickHandler([&] {
        ++ticks;
        if (ticks == 2)
            timer.SetEnabled(false);
    });
    timer.SetInterval(10);
    QVERIFY(!timer.Enabled());
    timer.SetEnabled(true);
    QVERIFY(timer.Enabled());
    QTRY_COMPARE_WITH_TIMEOUT(ticks, 2, 5000);
    QVERIFY(!timer.Enabled());
    QTest::qWait(50);
    QCOMPARE(ticks, 2);
}

void PlatformTest::waitEventsSleepsUntilAnEvent()
{
    QtEventQueue events;
    events.DoEvents();  // nothing pending: returns at once

    bool fired = false;
    QTimer::singleShot(30, [&] { fired = true; });
    while (!fired)
        events.WaitEvents();
    QVERIFY(fired);
}

void PlatformTest::fileReadsRawBytes()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray content("\x00\xFF\x0A\x0D", 4);
    {
        QFile f(dir.filePath(QStringLiteral("raw.bin")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    QtFileSystem fs;
    auto file = fs.OpenForRead(dir.filePath(QStringLiteral("raw.bin")));
    QByteArray read;
    while (auto byte = file->ReadByte())
        read.append(static_cast<char>(*byte));
    QCOMPARE(read, content);
    QVERIFY(file->Eof());
    file->Close();
    file->Close();

    QCOMPARE(ErrorOf([&] { fs.OpenForRead(dir.filePath(QStringLiteral("missing.bin"))); }), err::FileNotFound);
    QCOMPARE(fs.InCurrentDir(QStringLiteral("x.bin")), fs.CurrentDir() + fs.Separator() + QStringLiteral("x.bin"));
}

void PlatformTest::statusBarReportsTheClickedPanel()
{
    StatusBarWidget bar(2);
    bar.resize(300, 30);
    bar.show();
    int clicked = 0;
    bar.SetPanelClickHandler([&](int panel) { clicked = panel; });
    bar.SetPanelText(1, QStringLiteral("Comm1:9600,N,8,1"));
    bar.SetPanelText(2, QStringLiteral("second"));
    QCOMPARE(bar.PanelText(1), QStringLiteral("Comm1:9600,N,8,1"));

    QTest::mouseClick(bar.PanelLabel(2), Qt::LeftButton);
    QCOMPARE(clicked, 2);
    QTest::mouseClick(bar.PanelLabel(1), Qt::LeftButton);
    QCOMPARE(clicked, 1);
    QCOMPARE(ErrorOf([&] { bar.PanelText(3); }), err::SubscriptOutOfRange);
}

void PlatformTest::progressBarKeepsSinglePrecision()
{
    ProgressBarWidget bar;
    bar.SetValue(5);
    bar.SetMax(100);
    bar.SetMin(0);
    bar.SetValue(100.0f * 127 / 128);
    QCOMPARE(bar.Value(), 99.21875f);
    QCOMPARE(bar.value(), 9922);  // drawn on its fine scale
    QCOMPARE(ErrorOf([&] { bar.SetValue(101); }), err::InvalidPropertyValue);
    QCOMPARE(bar.Value(), 99.21875f);
}

QTEST_MAIN(PlatformTest)
#include "tst_platform.moc"
