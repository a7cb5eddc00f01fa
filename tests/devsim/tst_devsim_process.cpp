// The real executable, briefly: ready line, one connection, one answer, clean exit.

#include <QHostAddress>
#include <QProcess>
#include <QTcpSocket>
#include <QtTest>

#include "frame/frame.h"
#include "launcher.h"

namespace fr = modburn::frame;

constexpr int WaitMs = 30000;  // generous; nothing here measures time
static const QString DevsimPath = QStringLiteral(MODBURN_DEVSIM_PATH);

class TestDevsimProcess : public QObject {
    Q_OBJECT

private slots:
    void burnEnableAnsweredThenCleanExit();
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
    const int len = fr::BuildShortFrame(buf, fr::CmdBurnEnable);
    socket.write(QByteArray::fromStdString(std::string(buf.begin(), buf.begin() + len)));
    while (socket.bytesAvailable() < 1)
        QVERIFY2(socket.waitForReadyRead(WaitMs), "no reply");
    QCOMPARE(socket.readAll(), QByteArray(1, '\x06'));
    socket.disconnectFromHost();
    proc.terminate();  // SIGTERM
    QVERIFY2(proc.waitForFinished(WaitMs), "did not end on SIGTERM");
    QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc.exitCode(), 0);
}

void TestDevsimProcess::badOptionsExitWithUsageCode_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("port not a number") << QStringList{"--port", "abc"};
    QTest::newRow("lock with two bytes") << QStringList{"--lock", "AF,DC"};
    QTest::newRow("font page 32768") << QStringList{"--reject-font-page", "32768"};
    QTest::newRow("negative check count") << QStringList{"--silent-check", "-1"};
    QTest::newRow("unknown option") << QStringList{"--no-such-option"};
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
