// modburn-cli as operators start it, against several simulator processes on
// 127.0.0.1 at once: exit statuses, the summary, the JSON lines, the flash
// each simulator was programmed with, giving up, signals and bad input.

#include "launcher.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <csignal>
#include <memory>

namespace {

const QString Cli = QStringLiteral(MODBURN_CLI_PATH);
const QString Devsim = QStringLiteral(MODBURN_DEVSIM_PATH);
constexpr int WaitMs = 60000;  // generous; the checks on time are separate

QByteArray Image()
{
    QByteArray bytes(8192, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 31 + i / 256 + 7);
    return bytes;
}

struct Result {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    qint64 ms = 0;
};

struct Device {
    QString kind;   // good, refuse, silent, unanswered, drops, closed, unknown (a name that does not resolve)
    QString label;  // 127.0.0.1:port
    QString flashOut;
    modburn::devsim::Launcher* sim = nullptr;  // its simulator, printing a line per frame received
};

std::vector<QJsonObject> JsonLines(const QByteArray& out, QString* problem)
{
    std::vector<QJsonObject> objects;
    for (const QByteArray& line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            *problem = QStringLiteral("not a JSON object: ") + QString::fromUtf8(line);
            return {};
        }
        objects.push_back(document.object());
    }
    return objects;
}

}  // namespace

class CliProcessTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void fleet_data();
    void fleet();
    void signalEndsEveryRunWithinASecond_data();
    void signalEndsEveryRunWithinASecond();
    void badInputSendsNothing_data();
    void badInputSendsNothing();
    void fontOperationsAgainstTheSimulator();
    void imageFormatsProgramTheSameFlash();

private:
    // Starts one simulator of the kind; `closed` is a port nobody listens on.
    Device StartDevice(const QString& kind, int index);
    Result RunCli(const QStringList& args, const QString& input = {});

    QTemporaryDir dir_;
    std::vector<std::unique_ptr<modburn::devsim::Launcher>> devsims_;
};

void CliProcessTest::init()
{
    QVERIFY(dir_.isValid());
    QFile image(dir_.filePath(QStringLiteral("TavimorkAVRMODavr.bin")));
    QVERIFY(image.open(QIODevice::WriteOnly));
    image.write(Image());
}

void CliProcessTest::cleanup()
{
    devsims_.clear();
    for (const QString& name : QDir(dir_.path()).entryList(QDir::Files))
        QFile::remove(dir_.filePath(name));
}

Device CliProcessTest::StartDevice(const QString& kind, int index)
{
    Device device{kind, {}, {}};
    if (kind == QLatin1String("closed")) {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost);
        device.label = QStringLiteral("127.0.0.1:%1").arg(server.serverPort());
        return device;  // the port closes with the server
    }
    if (kind == QLatin1String("unknown")) {
        device.label = QStringLiteral("modburn-test-device.invalid:4001");
        return device;
    }
    QStringList options{QStringLiteral("--transcript")};
    device.flashOut = dir_.filePath(QStringLiteral("flash-%1.bin").arg(index));
    options << QStringLiteral("--flash-out") << device.flashOut;
    if (kind == QLatin1String("refuse"))
        options << QStringLiteral("--reject-page") << QStringLiteral("5");
    if (kind == QLatin1String("silent"))
        options << QStringLiteral("--silent-search") << QStringLiteral("1000000");
    if (kind == QLatin1String("unanswered"))
        options << QStringLiteral("--drop-page-reply") << QStringLiteral("5:1000000");
    // Page 10's reply is lost and the link closed while the tool waits for it.
    if (kind == QLatin1String("drops"))
        options << QStringLiteral("--close-after-page") << QStringLiteral("10") << QStringLiteral("--drop-page-reply")
                << QStringLiteral("10:1");
    auto launcher = std::make_unique<modburn::devsim::Launcher>();
    QString error;
    if (!launcher->Start(Devsim, options, &error))
        qFatal("simulator did not start: %s", qPrintable(error));
    device.label = QStringLiteral("127.0.0.1:%1").arg(launcher->Port());
    device.sim = launcher.get();
    devsims_.push_back(std::move(launcher));
    return device;
}

Result CliProcessTest::RunCli(const QStringList& args, const QString& input)
{
    QProcess process;
    process.setWorkingDirectory(dir_.path());
    if (!input.isEmpty())
        process.setStandardInputFile(dir_.filePath(input));
    QElapsedTimer clock;
    clock.start();
    process.start(Cli, args);
    Result result;
    if (!process.waitForFinished(WaitMs)) {
        process.kill();
        process.waitForFinished();
    }
    result.ms = clock.elapsed();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

void CliProcessTest::fleet_data()
{
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("verdicts");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<bool>("plainToo");  // run again without --json, for the plain lines and the table
    QTest::newRow("three good devices: 0") << QStringList{"good", "good", "good"} << QStringList{} << 0
                                           << QStringList{"programmed", "programmed", "programmed"} << 1000 << true;
    QTest::newRow("a refused page: 1") << QStringList{"good", "refuse", "good"} << QStringList{} << 1
                                       << QStringList{"programmed", "failed", "programmed"} << 1000 << false;
    QTest::newRow("a device that never answers page 5, given up on after 3 s: 3")
        << QStringList{"good", "good", "good", "unanswered", "refuse"} << QStringList{"--give-up-after", "3"} << 3
        << QStringList{"programmed", "programmed", "programmed", "gave-up", "failed"} << 3000 << true;
    QTest::newRow("an unreachable device and one that drops the link: 1")
        << QStringList{"good", "closed", "drops"} << QStringList{} << 1 << QStringList{"programmed", "error", "error"}
        << 5000 << false;
    // The preflight: every device tried, nothing sent to any.
    QTest::newRow("dry run: a device, a closed port and a name that does not resolve: 1")
        << QStringList{"good", "closed", "unknown"} << QStringList{"--dry-run"} << 1
        << QStringList{"reachable", "unreachable", "unreachable"} << 0 << true;
    QTest::newRow("dry run, every device reachable: 0") << QStringList{"good", "good"} << QStringList{"--dry-run"} << 0
                                                        << QStringList{"reachable", "reachable"} << 0 << false;
}

void CliProcessTest::fleet()
{
    QFETCH(QStringList, kinds);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QStringList, verdicts);
    QFETCH(int, minMs);
    QFETCH(bool, plainToo);
    std::vector<Device> devices;
    for (int i = 0; i < kinds.size(); ++i)
        devices.push_back(StartDevice(kinds[i], i));
    QStringList labels;
    for (const Device& device : devices)
        labels << device.label;

    // Once as JSON, once plain: the same fleet, the same verdicts.
    const Result json = RunCli(QStringList{"program", "--json"} + options + labels);
    QCOMPARE(json.exitCode, exitCode);
    QVERIFY2(json.ms >= minMs, qPrintable(QString::number(json.ms)));

    QString problem;
    const std::vector<QJsonObject> lines = JsonLines(json.out, &problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    const QStringList keys{"device",      "elapsed_ms",   "event",        "file_sha256", "finished_at",
                           "image_bytes", "image_format", "image_sha256", "locks",       "message",
                           "page",        "percent",      "started_at",   "verdict",     "version"};
    for (const QJsonObject& line : lines)
        QCOMPARE(line.keys(), keys);
    QCOMPARE(lines.back().value("event").toString(), QStringLiteral("summary"));
    QVERIFY(lines.back().value("device").isNull());
    // The record of what went out is the image the devices stored.
    const QString sha = QString::fromLatin1(QCryptographicHash::hash(Image(), QCryptographicHash::Sha256).toHex());
    for (const QJsonObject& line : {lines.front(), lines.back()}) {
        QCOMPARE(line.value("image_sha256").toString(), sha);
        QCOMPARE(line.value("file_sha256").toString(), sha);  // a raw file is its flash bytes
        QCOMPARE(line.value("image_format").toString(), QStringLiteral("bin"));
        QCOMPARE(line.value("image_bytes").toInteger(), Image().size());
    }
    for (int i = 0; i < kinds.size(); ++i) {
        std::vector<QJsonObject> own;
        for (const QJsonObject& line : lines) {
            if (line.value("device").toString() == labels[i])
                own.push_back(line);
        }
        QVERIFY2(own.size() >= 2, qPrintable(labels[i]));
        QCOMPARE(own.front().value("event").toString(), QStringLiteral("start"));
        const QJsonObject end = own.back();
        QCOMPARE(end.value("event").toString(), QStringLiteral("end"));
        QCOMPARE(end.value("verdict").toString(), verdicts[i]);
        if (verdicts[i] == QLatin1String("programmed")) {
            QCOMPARE(end.value("locks").toString(), QStringLiteral("AF DC CC"));
            int pages = 0;
            for (const QJsonObject& line : own)
                pages += line.value("event").toString() == QLatin1String("progress") ? 1 : 0;
            QCOMPARE(pages, 128);
            QFile flash(devices[static_cast<std::size_t>(i)].flashOut);
            QVERIFY(flash.open(QIODevice::ReadOnly));
            QCOMPARE(flash.readAll(), Image());
        }
        if (kinds[i] == QLatin1String("refuse"))
            QVERIFY(end.value("message").toString().startsWith(QStringLiteral("page 5 refused")));
        const bool dryRun = options.contains(QStringLiteral("--dry-run"));
        if (kinds[i] == QLatin1String("closed"))
            QCOMPARE(end.value("message").toString().section(u':', 0, 0),
                     dryRun ? QStringLiteral("connection refused") : QStringLiteral("unreachable"));
        if (kinds[i] == QLatin1String("unknown"))
            QCOMPARE(end.value("message").toString(), QStringLiteral("host not found"));
        // A reached device saw a connection and not one frame.
        if (dryRun && devices[static_cast<std::size_t>(i)].sim) {
            QProcess& sim = devices[static_cast<std::size_t>(i)].sim->Process();
            sim.waitForReadyRead(200);
            QCOMPARE(sim.readAllStandardOutput(), QByteArray());
        }
        if (kinds[i] == QLatin1String("drops")) {
            // Said when the link closes, not after the next reply wait runs out.
            QVERIFY(end.value("message").toString().startsWith(QStringLiteral("link dropped")));
            QVERIFY2(end.value("elapsed_ms").toInteger() < 4000, qPrintable(end.value("message").toString()));
        }
        if (kinds[i] == QLatin1String("unanswered")) {
            // Given up at once, not at the wait's next tick 5 s from the start.
            QVERIFY(end.value("message").toString().contains(QStringLiteral("last step: programming")));
            QVERIFY(end.value("elapsed_ms").toInteger() >= 2500);
            QVERIFY2(end.value("elapsed_ms").toInteger() < 4500, qPrintable(end.value("message").toString()));
        }
    }
    // Nobody waits for another: every device that got somewhere was done
    // before a silent or unreachable one was given up or reported.
    qsizetype lastProgrammed = -1;
    qsizetype firstSlow = static_cast<qsizetype>(lines.size());
    for (qsizetype i = 0; i < static_cast<qsizetype>(lines.size()); ++i) {
        const QJsonObject& line = lines[static_cast<std::size_t>(i)];
        if (line.value("event").toString() != QLatin1String("end"))
            continue;
        const QString verdict = line.value("verdict").toString();
        if (verdict == QLatin1String("programmed") || verdict == QLatin1String("failed"))
            lastProgrammed = i;
        else if (!line.value("message").toString().startsWith(QStringLiteral("link dropped")))
            firstSlow = std::min(firstSlow, i);
    }
    QVERIFY(lastProgrammed < firstSlow);
    // In JSON mode the table goes to stderr, so stdout stays JSON.
    QVERIFY(json.err.startsWith("DEVICE"));

    if (!plainToo)
        return;
    const Result plain = RunCli(QStringList{"program"} + options + labels);
    QCOMPARE(plain.exitCode, exitCode);
    const QStringList out = QString::fromUtf8(plain.out).split(u'\n');
    const qsizetype head = out.indexOf(QRegularExpression(QStringLiteral("^DEVICE +VERDICT +LOCKS +TIME +DETAIL$")));
    QVERIFY2(head > 0, plain.out.constData());
    for (int i = 0; i < kinds.size(); ++i) {
        const QStringList cells = out.value(head + 1 + i).split(u' ', Qt::SkipEmptyParts);
        QCOMPARE(cells.value(0), labels[i]);
        QCOMPARE(cells.value(1), verdicts[i]);
    }
    // Every line before the table names its device first.
    for (const QString& line : out.mid(0, head - 1))
        QVERIFY2(labels.contains(line.section(u' ', 0, 0)), qPrintable(line));
    QVERIFY(plain.err.isEmpty());
}

void CliProcessTest::signalEndsEveryRunWithinASecond_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("wait");  // what the runs wait for when the signal comes
    QTest::newRow("SIGINT, two silent searches") << int{SIGINT} << QStringLiteral("search");
    // Nothing else wakes this wait for seconds: the stop itself must.
    QTest::newRow("SIGTERM, two page replies that never come") << int{SIGTERM} << QStringLiteral("page");
    QTest::newRow("SIGINT, a font download") << int{SIGINT} << QStringLiteral("font");
}

void CliProcessTest::signalEndsEveryRunWithinASecond()
{
    QFETCH(int, signal);
    QFETCH(QString, wait);
    const bool font = wait == QLatin1String("font");
    QStringList args;
    QByteArray busy;  // once stdout holds it `count` times, every run is under way
    int count = 0;
    modburn::devsim::Launcher slow;
    if (font) {
        QString error;
        QVERIFY2(slow.Start(Devsim, {QStringLiteral("--realistic")}, &error), qPrintable(error));
        QFile library(dir_.filePath(QStringLiteral("Hzk16s.bin")));
        QVERIFY(library.open(QIODevice::WriteOnly));
        library.write(QByteArray(256 * 2000, '\x5A'));
        library.close();
        args << QStringLiteral("font-download") << QStringLiteral("127.0.0.1:%1").arg(slow.Port())
             << QStringLiteral("Hzk16s") << QStringLiteral("0") << QStringLiteral("1999");
        busy = " page ";
        count = 2;
    } else {
        const QString kind = wait == QLatin1String("page") ? QStringLiteral("unanswered") : QStringLiteral("silent");
        args << QStringLiteral("program") << StartDevice(kind, 0).label << StartDevice(kind, 1).label;
        // Page 4 accepted: page 5 is out, and its reply never comes.
        busy = wait == QLatin1String("page") ? QByteArray("烧录成功! / 3%") : QStringLiteral(" 系统查找设备!").toUtf8();
        count = 2;
    }
    QProcess process;
    process.setWorkingDirectory(dir_.path());
    process.start(Cli, args);
    QVERIFY(process.waitForStarted(WaitMs));
    QByteArray out;
    while (out.count(busy) < count) {
        QVERIFY2(process.waitForReadyRead(WaitMs), out.constData());
        out += process.readAllStandardOutput();
    }
    QElapsedTimer clock;
    clock.start();
    ::kill(static_cast<pid_t>(process.processId()), signal);
    QVERIFY(process.waitForFinished(WaitMs));
    const qint64 ms = clock.elapsed();
    QVERIFY2(ms < 1000, qPrintable(QString::number(ms)));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 130);
    out += process.readAllStandardOutput();
    const QByteArray said = font                            ? "interrupted: last page: "
                            : wait == QLatin1String("page") ? "interrupted: last step: programming"
                                                            : "interrupted: last step: searching";
    QCOMPARE(out.count(said), font ? 1 : 2);
    QVERIFY(out.contains("DEVICE"));
}

void CliProcessTest::badInputSendsNothing_data()
{
    QTest::addColumn<QStringList>("args");  // PORT stands for the listening port
    // What to make first: name=size for a file, name=text:TEXT for one with
    // that text and a line break, name=self for a copy of this test
    // program, name/ for a folder, name=socket for a file that cannot be
    // opened (even by root), name=fifo for a FIFO with no writer, -name to
    // remove one.
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("error");
    const QString dev = QStringLiteral("127.0.0.1:PORT");
    QTest::newRow("no device") << QStringList{"program"} << QString() << "no device";
    QTest::newRow("image missing") << QStringList{"program", "--image", "none.bin", dev} << QString()
                                   << "none.bin: no such file";
    QTest::newRow("default image missing") << QStringList{"program", dev} << QStringLiteral("-TavimorkAVRMODavr.bin")
                                           << "TavimorkAVRMODavr.bin: no such file";
    QTest::newRow("image is a folder") << QStringList{"program", "--image", "sub", dev} << QStringLiteral("sub/")
                                       << "is a folder";
    QTest::newRow("image of 8193 bytes") << QStringList{"program", "--image", "big.bin", dev}
                                         << QStringLiteral("big.bin=8193") << "larger than the 8192 bytes";
    // Image files as users have them, refused before anything is sent.
    QTest::newRow("Intel HEX with a bad checksum")
        << QStringList{"program", "--image", "fw.hex", dev} << QStringLiteral("fw.hex=text::0100000011EF\n:00000001FF")
        << "line 1";
    QTest::newRow("Intel HEX with data at 0x2000")
        << QStringList{"program", "--image", "fw.hex", dev} << QStringLiteral("fw.hex=text::0120000011CE\n:00000001FF")
        << "0x2000";
    QTest::newRow("an ELF for another machine")
        << QStringList{"program", "--image", "fw.elf", dev} << QStringLiteral("fw.elf=self") << "not AVR";
    QTest::newRow("text that is no image format") << QStringList{"program", "--image", "notes.txt", dev}
                                                  << QStringLiteral("notes.txt=text:flash me") << "neither";
    QTest::newRow("image unreadable") << QStringList{"program", "--image", "locked.bin", dev}
                                      << QStringLiteral("locked.bin=socket") << "is not a regular file";
    QTest::newRow("image is a FIFO with no writer") << QStringList{"program", "--image", "pipe.bin", dev}
                                                    << QStringLiteral("pipe.bin=fifo") << "is not a regular file";
    QTest::newRow("font library is a FIFO with no writer")
        << QStringList{"font-download", dev, "Hzk16s", "0", "3"} << QStringLiteral("Hzk16s.bin=fifo")
        << "is not a regular file";
    QTest::newRow("port 0") << QStringList{"program", "--port", "0", "127.0.0.1"} << QString() << "--port";
    QTest::newRow("device port 65536") << QStringList{"program", dev, "127.0.0.1:65536"} << QString() << "65536";
    QTest::newRow("address that is no host name")
        << QStringList{"program", dev, "no such host"} << QString() << "not an IPv4 address or host name";
    QTest::newRow("one device twice") << QStringList{"program", dev, dev} << QString() << "listed twice";
    QTest::newRow("unknown option") << QStringList{"program", "--fast", dev} << QString() << "unknown option";
    QTest::newRow("font library missing") << QStringList{"font-download", dev, "Hzk16s", "0", "3"}
                                          << QStringLiteral("-Hzk16s.bin") << "Hzk16s.bin: no such file";
    QTest::newRow("font page past 16 bits")
        << QStringList{"font-download", dev, "Hzk16s", "0", "40000"} << QStringLiteral("Hzk16s.bin=10") << "LAST_PAGE";
    QTest::newRow("checksum past 32 bits")
        << QStringList{"font-check", dev, "4294967296", "0", "3"} << QString() << "CHECKSUM";
}

void CliProcessTest::badInputSendsNothing()
{
    QFETCH(QStringList, args);
    QFETCH(QString, file);
    QFETCH(QString, error);
    QLocalServer socketFile;
    if (file.startsWith(u'-')) {
        QFile::remove(dir_.filePath(file.mid(1)));
    } else if (file.endsWith(u'/')) {
        QVERIFY(QDir(dir_.path()).mkpath(file));
    } else if (file.endsWith(QLatin1String("=fifo"))) {
        QFile::remove(dir_.filePath(file.section(u'=', 0, 0)));
        QCOMPARE(::mkfifo(QFile::encodeName(dir_.filePath(file.section(u'=', 0, 0))).constData(), 0600), 0);
    } else if (file.endsWith(QLatin1String("=socket"))) {
        QVERIFY(socketFile.listen(dir_.filePath(file.section(u'=', 0, 0))));
    } else if (file.endsWith(QLatin1String("=self"))) {
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), dir_.filePath(file.section(u'=', 0, 0))));
    } else if (!file.isEmpty()) {
        QFile made(dir_.filePath(file.section(u'=', 0, 0)));
        QVERIFY(made.open(QIODevice::WriteOnly));
        const QString what = file.section(u'=', 1);
        if (what.startsWith(QLatin1String("text:")))
            made.write(what.mid(5).toUtf8() + '\n');
        else
            made.write(QByteArray(what.toInt(), '\x11'));
    }
    // A listener where the device would be: it must never see a connection.
    QTcpServer device;
    QVERIFY(device.listen(QHostAddress::LocalHost));
    args.replaceInStrings(QStringLiteral("PORT"), QString::number(device.serverPort()));

    const Result result = RunCli(args);
    QCOMPARE(result.exitCode, 2);
    QVERIFY(result.out.isEmpty());
    QVERIFY2(result.err.startsWith("modburn-cli: "), result.err.constData());
    QVERIFY2(result.err.contains(error.toUtf8()), result.err.constData());
    QVERIFY(!device.waitForNewConnection(100));
    QVERIFY(QDir(dir_.path()).rmpath(QStringLiteral("sub")) || !file.endsWith(u'/'));
}

void CliProcessTest::fontOperationsAgainstTheSimulator()
{
    modburn::devsim::Launcher devsim;
    QString error;
    QVERIFY2(devsim.Start(Devsim, {}, &error), qPrintable(error));
    const QString dev = QStringLiteral("127.0.0.1:%1").arg(devsim.Port());
    QByteArray library(3000, '\0');
    qint64 sum = 0;
    for (int i = 0; i < library.size(); ++i) {
        library[i] = static_cast<char>(i * 7 + 3);
        sum += static_cast<unsigned char>(library[i]);
    }
    QFile file(dir_.filePath(QStringLiteral("Hzk16s.bin")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(library);
    file.close();

    const Result download = RunCli({QStringLiteral("font-download"), QStringLiteral("--json"), dev,
                                    QStringLiteral("Hzk16s"), QStringLiteral("10"), QStringLiteral("21")});
    QCOMPARE(download.exitCode, 0);
    QString problem;
    const std::vector<QJsonObject> lines = JsonLines(download.out, &problem);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QStringList captions;
    int lastPage = -1;
    for (const QJsonObject& line : lines) {
        if (line.value("event").toString() == QLatin1String("caption"))
            captions << line.value("message").toString();
        if (line.value("event").toString() == QLatin1String("progress"))
            lastPage = line.value("page").toInt();
    }
    QCOMPARE(captions.value(0), QStringLiteral("HZ16S     下载中 ."));
    QCOMPARE(captions.last(), QStringLiteral("HZ16S     下载完成   校验成功"));
    QCOMPARE(lastPage, 21);
    QCOMPARE(lines[lines.size() - 2].value("verdict").toString(), QStringLiteral("verified"));

    const Result match =
        RunCli({QStringLiteral("font-check"), dev, QString::number(sum), QStringLiteral("10"), QStringLiteral("21")});
    QCOMPARE(match.exitCode, 0);
    QVERIFY(match.out.contains(" match: "));
    const Result mismatch = RunCli(
        {QStringLiteral("font-check"), dev, QString::number(sum + 1), QStringLiteral("10"), QStringLiteral("21")});
    QCOMPARE(mismatch.exitCode, 1);
    QVERIFY(mismatch.out.contains(" mismatch: "));
}

// The same firmware as raw bytes, Intel HEX, S-record and ELF, made by
// Debian's AVR toolchain, the independent judge of where every byte belongs.
void CliProcessTest::imageFormatsProgramTheSameFlash()
{
    const QString gcc = QStandardPaths::findExecutable(QStringLiteral("avr-gcc"));
    const QString objcopy = QStandardPaths::findExecutable(QStringLiteral("avr-objcopy"));
    if (gcc.isEmpty() || objcopy.isEmpty())
        QSKIP("avr-gcc or avr-objcopy is missing (Debian's gcc-avr, binutils-avr and avr-libc)");
    const auto run = [this](const QString& program, const QStringList& args) {
        QProcess process;
        process.setWorkingDirectory(dir_.path());
        process.start(program, args);
        return process.waitForFinished(WaitMs) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    };
    QFile source(dir_.filePath(QStringLiteral("fw.c")));
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.write("volatile unsigned char counter = 7;\n"  // .data: loaded after .text, run from RAM
                 "const char banner[] = \"modburn\";\n"
                 "int main(void) { for (;;) counter += banner[counter % sizeof banner]; }\n");
    source.close();
    QVERIFY(run(gcc, {"-mmcu=atmega8", "-Os", "-o", "fw.elf", "fw.c"}));
    const QStringList sections{"-j", ".text", "-j", ".data"};
    QVERIFY(run(objcopy, sections + QStringList{"-O", "binary", "fw.elf", "fw.bin"}));
    QVERIFY(run(objcopy, sections + QStringList{"-O", "ihex", "fw.elf", "fw.hex"}));
    QVERIFY(run(objcopy, sections + QStringList{"-O", "srec", "fw.elf", "fw.srec"}));
    QFile raw(dir_.filePath(QStringLiteral("fw.bin")));
    QVERIFY(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.readAll();
    const QByteArray flash = bytes + QByteArray(8192 - bytes.size(), '\0');
    const QString sha = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());

    for (const QString format : {"bin", "ihex", "srec", "elf"}) {
        const QString file =
            format == QLatin1String("ihex") ? QStringLiteral("fw.hex") : QStringLiteral("fw.") + format;
        const Device device = StartDevice(QStringLiteral("good"), 0);
        // One of them piped in, as the rollout's preflight hands it over.
        const bool piped = format == QLatin1String("srec");
        const Result result = RunCli({"program", "--json", "--image", piped ? QStringLiteral("-") : file, device.label},
                                     piped ? file : QString());
        QCOMPARE(result.exitCode, 0);
        QString problem;
        const std::vector<QJsonObject> lines = JsonLines(result.out, &problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        for (const QJsonObject& line : {lines.front(), lines.back()}) {
            QCOMPARE(line.value("image_format").toString(), format);
            QCOMPARE(line.value("image_sha256").toString(), sha);
            QCOMPARE(line.value("image_bytes").toInteger(), bytes.size());
        }
        QFile stored(device.flashOut);
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QVERIFY2(stored.readAll() == flash, qPrintable(file));
        devsims_.clear();
    }
}

QTEST_GUILESS_MAIN(CliProcessTest)
#include "tst_cli_process.moc"
