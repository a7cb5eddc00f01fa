// The real executable, briefly: ready line, answers over 127.0.0.1, clean exit,
// several devices in one process, and the usage exit code for bad options.

#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <set>

#include "frame/frame.h"
#include "launcher.h"
#include "wire.h"

namespace fr = modburn::frame;

constexpr int WaitMs = 30000;  // generous; nothing here measures time
static const QString DevsimPath = QStringLiteral(MODBURN_DEVSIM_PATH);

// A built frame onto the socket, as the tool sends it.
static void SendFrame(QTcpSocket& socket, const fr::SendBuffer& buf, int len)
{
    const std::vector<std::uint8_t> wire = modburn::WireBytes(buf, len);
    socket.write(reinterpret_cast<const char*>(wire.data()), static_cast<qint64>(wire.size()));
}

class TestDevsimProcess : public QObject {
    Q_OBJECT

private slots:
    void burnEnableAnsweredThenCleanExit();
    void lostFrameAndLatePageReply();
    void severalDevicesEachWithItsOwnFlashAndFaults();
    void badOptionsExitWithUsageCode_data();
    void badOptionsExitWithUsageCode();
};

void TestDevsimProcess::burnEnableAnsweredThenCleanExit()
{
    // The launcher insists on the exact ready line.
    modburn::devsim::Launcher devsim;
    QString error;
    QVERIFY2(devsim.Start(DevsimPath, {}, &error), qPrintable(error));
    QProcess& proc = devsim.Process();

    QTcpSocket socket;
    socket.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), devsim.Port());
    QVERIFY2(socket.waitForConnected(WaitMs), qPrintable(socket.errorString()));
    fr::SendBuffer buf{};
    SendFrame(socket, buf, fr::BuildShortFrame(buf, fr::CmdBurnEnable));
    while (socket.bytesAvailable() < 1)
        QVERIFY2(socket.waitForReadyRead(WaitMs), "no reply");
    QCOMPARE(socket.readAll(), QByteArray(1, '\x06'));
    socket.disconnectFromHost();
    proc.terminate();  // SIGTERM
    QVERIFY2(proc.waitForFinished(WaitMs), "did not end on SIGTERM");
    QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc.exitCode(), 0);
}

void TestDevsimProcess::lostFrameAndLatePageReply()
{
    constexpr int LateMs = 400;
    modburn::devsim::Launcher devsim;
    QString error;
    QVERIFY2(
        devsim.Start(DevsimPath, {"--lose-frame", "1", "--late-page-reply", "5:" + QString::number(LateMs)}, &error),
        qPrintable(error));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), devsim.Port());
    QVERIFY2(socket.waitForConnected(WaitMs), qPrintable(socket.errorString()));
    fr::SendBuffer buf{};
    const auto send = [&](int len) { SendFrame(socket, buf, len); };
    const auto reply = [&socket] {
        while (socket.bytesAvailable() < 1) {
            if (!socket.waitForReadyRead(WaitMs))
                return QByteArray();
        }
        return socket.readAll();
    };

    // The first frame is lost on the way, so only the second burn-enable is answered.
    send(fr::BuildShortFrame(buf, fr::CmdBurnEnable));
    send(fr::BuildShortFrame(buf, fr::CmdBurnEnable));
    QCOMPARE(reply(), QByteArray(1, '\x06'));
    QVERIFY2(!socket.waitForReadyRead(300), "the lost frame was answered");

    // Page 5's first frame is answered late, its second one as usual.
    std::array<std::uint8_t, fr::ModulePageSize> data{};
    std::uint8_t frameXor = 0;
    QElapsedTimer sent;
    sent.start();
    send(fr::BuildPageFrame(buf, frameXor, 5, data));
    QCOMPARE(reply(), QByteArray(1, '\x05'));
    // A lower bound only, with room for the simulator's coarse timer firing a little early.
    QVERIFY2(sent.elapsed() >= LateMs * 9 / 10, qPrintable(QString::number(sent.elapsed())));
    send(fr::BuildPageFrame(buf, frameXor, 5, data));
    QCOMPARE(reply(), QByteArray(1, '\x05'));

    socket.disconnectFromHost();
    devsim.Process().terminate();
    QVERIFY2(devsim.Process().waitForFinished(WaitMs), "did not end on SIGTERM");
    QCOMPARE(devsim.Process().exitCode(), 0);
}

void TestDevsimProcess::severalDevicesEachWithItsOwnFlashAndFaults()
{
    constexpr int Devices = 3;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString flashOut = dir.filePath(QStringLiteral("flash.bin"));
    modburn::devsim::Launcher devsim;
    QString error;
    QVERIFY2(devsim.StartDevices(DevsimPath, Devices, {"--silent-burn-enable", "1", "--flash-out", flashOut}, &error),
             qPrintable(error));
    QCOMPARE(devsim.Ports().size(), std::size_t{Devices});
    QCOMPARE(std::set<quint16>(devsim.Ports().begin(), devsim.Ports().end()).size(), std::size_t{Devices});

    for (int d = 0; d < Devices; ++d) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), devsim.Ports()[d]);
        QVERIFY2(socket.waitForConnected(WaitMs), qPrintable(socket.errorString()));
        fr::SendBuffer buf{};
        const auto send = [&](int len) { SendFrame(socket, buf, len); };
        // Each device stays silent for its own first burn-enable, so every one answers the second only.
        send(fr::BuildShortFrame(buf, fr::CmdBurnEnable));
        send(fr::BuildShortFrame(buf, fr::CmdBurnEnable));
        std::array<std::uint8_t, fr::ModulePageSize> data{};
        data.fill(static_cast<std::uint8_t>(0x10 + d));
        std::uint8_t frameXor = 0;
        send(fr::BuildPageFrame(buf, frameXor, fr::ModulePages - 1, data));
        QByteArray replies;
        while (replies.size() < 5 && socket.waitForReadyRead(WaitMs))
            replies += socket.readAll();
        QCOMPARE(replies, QByteArray("\x06\x05\xAF\xDC\xCC"));
        socket.disconnectFromHost();

        // Its flash holds its own last page and nothing of the others'.
        QFile file(flashOut + '.' + QString::number(devsim.Ports()[d]));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        QByteArray expected(fr::ModulePages * fr::ModulePageSize, '\xFF');
        expected.replace((fr::ModulePages - 1) * fr::ModulePageSize, fr::ModulePageSize,
                         QByteArray(fr::ModulePageSize, static_cast<char>(0x10 + d)));
        QCOMPARE(file.readAll(), expected);
    }
    QVERIFY(!QFile::exists(flashOut));

    devsim.Process().terminate();
    QVERIFY2(devsim.Process().waitForFinished(WaitMs), "did not end on SIGTERM");
    QCOMPARE(devsim.Process().exitCode(), 0);
}

void TestDevsimProcess::badOptionsExitWithUsageCode_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("port not a number") << QStringList{"--port", "abc"};
    QTest::newRow("lock with two bytes") << QStringList{"--lock", "AF,DC"};
    QTest::newRow("font page 32768") << QStringList{"--reject-font-page", "32768"};
    QTest::newRow("negative check count") << QStringList{"--silent-check", "-1"};
    QTest::newRow("unknown option") << QStringList{"--no-such-option"};
    QTest::newRow("late page reply without a time") << QStringList{"--late-page-reply", "5"};
    QTest::newRow("lose frame 0") << QStringList{"--lose-frame", "0"};
}

void TestDevsimProcess::badOptionsExitWithUsageCode()
{
    QFETCH(QStringList, args);
    QProcess proc;
    proc.start(DevsimPath, args);
    QVERIFY2(proc.waitForFinished(WaitMs), "still running");
    QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc.exitCode(), 2);
    QVERIFY(proc.readAllStandardError().startsWith("modburn-devsim: "));
}

QTEST_GUILESS_MAIN(TestDevsimProcess)
#include "tst_devsim_process.moc"
