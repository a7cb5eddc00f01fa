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

#include <QDir>
#include <QLabel>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>

#include <algorithm>

using namespace modburn;

enum class Unopenable { Folder, Unreadable, Fifo };
Q_DECLARE_METATYPE(Unopenable)

namespace {

qint64 ResidentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

}  // namespace

class PlatformTest : public QObject {
    Q_OBJECT
private slots:
    void serialPortModelRaisesItsErrors();
    void socketSendFailsUnlessConnected();
    void socketDeliversWhatThePeerSends();
    void socketNeverConnectsToABadAddress_data();
    void socketNeverConnectsToABadAddress();
    void timerTicksUntilDisabled();
    void waitEventsSleepsUntilAnEvent();
    void fileReadsRawBytes();
    void fileThatIsThereButUnopenableIsAnAccessError_data();
    void fileThatIsThereButUnopenableIsAnAccessError();
    void longFileIsNotReadWhole();
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

void PlatformTest::socketNeverConnectsToABadAddress_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("empty") << QString();
    // The listener is on IPv4 loopback only, so nothing answers on ::1.
    QTest::newRow("IPv6 loopback") << QStringLiteral("::1");
}

void PlatformTest::socketNeverConnectsToABadAddress()
{
    QFETCH(QString, host);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QtSocket socket(QtSocket::Protocol::Tcp);
    QCOMPARE(ErrorOf([&] { socket.Connect(host, server.serverPort()); }), 0);
    QTest::qWait(100);  // time for the attempt to fail
    QVERIFY(!socket.Connected());
    QCOMPARE(ErrorOf([&] { socket.SendData({0x02}); }), err::SocketBadState);
    QVERIFY(!server.hasPendingConnections());

    // The failed socket makes way for a good connection, as the next open needs.
    socket.Close();
    socket.Connect(QStringLiteral("127.0.0.1"), server.serverPort());
    QTRY_VERIFY_WITH_TIMEOUT(socket.Connected(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 5000);
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

    {
        QFile f(dir.filePath(QStringLiteral("empty.bin")));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    auto empty = fs.OpenForRead(dir.filePath(QStringLiteral("empty.bin")));
    QVERIFY(!empty->ReadByte());
    QVERIFY(empty->Eof());

    QCOMPARE(ErrorOf([&] { fs.OpenForRead(dir.filePath(QStringLiteral("missing.bin"))); }), err::FileNotFound);
    QCOMPARE(fs.InCurrentDir(QStringLiteral("x.bin")), fs.CurrentDir() + fs.Separator() + QStringLiteral("x.bin"));
}

void PlatformTest::fileThatIsThereButUnopenableIsAnAccessError_data()
{
    QTest::addColumn<Unopenable>("kind");
    QTest::newRow("a folder") << Unopenable::Folder;
    QTest::newRow("no read permission") << Unopenable::Unreadable;
    // An open that waited for a writer would hang here for good.
    QTest::newRow("a FIFO with no writer, never waited on") << Unopenable::Fifo;
}

void PlatformTest::fileThatIsThereButUnopenableIsAnAccessError()
{
    QFETCH(Unopenable, kind);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("image.bin"));
    switch (kind) {
    case Unopenable::Folder:
        QVERIFY(QDir().mkdir(path));
        break;
    case Unopenable::Unreadable: {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write("\x02\x03", 2), qint64{2});
        file.close();
        QVERIFY(file.setPermissions(QFileDevice::Permissions{}));
        if (file.open(QIODevice::ReadOnly))
            QSKIP("permissions do not stop reads here (running as root or with CAP_DAC_OVERRIDE)");
        break;
    }
    case Unopenable::Fifo:
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        break;
    }
    QtFileSystem fs;
    QCOMPARE(ErrorOf([&] { fs.OpenForRead(path); }), err::FileAccess);
}

void PlatformTest::longFileIsNotReadWhole()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("huge.bin"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64{50} << 20));  // sparse: costs no disk
    }
    const qint64 before = ResidentKb();
    QVERIFY(before > 0);
    QtFileSystem fs;
    auto file = fs.OpenForRead(path);
    // As far as an image is read: one byte past the 8192 it may hold.
    for (int i = 0; i < 8193; ++i)
        QVERIFY(file->ReadByte().has_value());
    QVERIFY(!file->Eof());
    const qint64 growth = ResidentKb() - before;
    file->Close();
    QVERIFY2(growth < 16 * 1024, qPrintable(QStringLiteral("resident memory grew by %1 kB").arg(growth)));
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
