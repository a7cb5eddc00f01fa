// modburn-cli's arguments: ports, pages, checksums, seconds and device
// addresses one by one, whole command lines with their device lists, the help
// made from the option table, and resolving the devices.

#include "cli/options.h"
#include "cli/targets.h"

#include <QtTest>

#include <map>

using namespace modburn::cli;

namespace {

const QString TenThousandDigits(10000, u'1');
const QString FullWidth4001 = QStringLiteral("４００１");

// A command line in a few words, so one string compares the whole result.
QString Digest(const CommandLine& line)
{
    QString out;
    switch (line.command) {
    case Command::Help:
        return QStringLiteral("help");
    case Command::Version:
        return QStringLiteral("version");
    case Command::Program:
        out = QStringLiteral("program");
        break;
    case Command::FontDownload:
        out = QStringLiteral("font-download");
        break;
    case Command::FontCheck:
        out = QStringLiteral("font-check");
        break;
    }
    if (line.json)
        out += QStringLiteral(" json");
    if (line.image)
        out += QStringLiteral(" image=") + *line.image;
    if (line.format != modburn::image::Format::Auto)
        out += QStringLiteral(" format=") + modburn::image::FormatName(line.format);
    if (line.giveUpAfterS)
        out += QStringLiteral(" give-up=") + QString::number(*line.giveUpAfterS);
    if (line.devicesFrom)
        out += QStringLiteral(" from=") + *line.devicesFrom;
    QStringList devices;
    for (const DeviceEntry& device : line.devices)
        devices << device.Label();
    out += u' ' + devices.join(u',');
    if (line.command == Command::FontDownload)
        out += QStringLiteral(" name=%1 pages=%2..%3").arg(line.fontName).arg(line.firstPage).arg(line.lastPage);
    if (line.command == Command::FontCheck)
        out += QStringLiteral(" sum=%1 pages=%2..%3").arg(line.checksum).arg(line.firstPage).arg(line.lastPage);
    return out;
}

// A device list of `count` distinct addresses, one a line.
QString ManyDevices(int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("10.1.%1.%2\n").arg(i / 250).arg(i % 250 + 1);
    return text;
}

// The files the command lines below name, so no test touches the disk.
const std::map<QString, QString>& DeviceFiles()
{
    static const std::map<QString, QString> files{
        {QStringLiteral("fleet.txt"), QStringLiteral("\uFEFF# site A, rack 1, after a byte order mark\n\na.example\n  "
                                                     "[::1]:7  # rack 2\r\n\t10.0.0.9:6\n   \n# end")},
        {QStringLiteral("empty.txt"), QStringLiteral("# nothing yet\n\n")},
        {QStringLiteral("bad.txt"), QStringLiteral("127.0.0.1\n\n# press 7 is next\npress 7\n10.0.0.1\n")},
        {QStringLiteral("full.txt"), ManyDevices(MaxDevices)},
        {QStringLiteral("overfull.txt"), ManyDevices(MaxDevices + 1)},
    };
    return files;
}

std::optional<QString> ReadFake(const QString& path, QString* error)
{
    const auto found = DeviceFiles().find(path);
    if (found == DeviceFiles().end()) {
        *error = path + QStringLiteral(": no such file");
        return std::nullopt;
    }
    return found->second;
}

}  // namespace

class CliOptionsTest : public QObject {
    Q_OBJECT
private slots:
    void pageText_data();
    void pageText();
    void checksumText_data();
    void checksumText();
    void secondsText_data();
    void secondsText();
    void deviceText_data();
    void deviceText();
    void commandLine_data();
    void commandLine();
    void helpText_data();
    void helpText();
    void resolveDevices_data();
    void resolveDevices();
    void systemResolveTakesLiteralsAsTheyAre_data();
    void systemResolveTakesLiteralsAsTheyAre();
};

void CliOptionsTest::pageText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");  // -1: refused
    QTest::newRow("0") << QStringLiteral("0") << 0;
    QTest::newRow("highest 32767") << QStringLiteral("32767") << 32767;
    QTest::newRow("leading zeros") << QStringLiteral("00100") << 100;
    QTest::newRow("32768 does not fit") << QStringLiteral("32768") << -1;
    QTest::newRow("65536") << QStringLiteral("65536") << -1;
    QTest::newRow("negative") << QStringLiteral("-1") << -1;
    QTest::newRow("plus sign") << QStringLiteral("+5") << -1;
    QTest::newRow("empty") << QString() << -1;
    QTest::newRow("blank") << QStringLiteral(" 5") << -1;
    QTest::newRow("hex") << QStringLiteral("0x10") << -1;
    QTest::newRow("full-width digit") << QStringLiteral("５") << -1;
    QTest::newRow("huge number") << QStringLiteral("123456789012345678901234") << -1;
    QTest::newRow("10,000 digits") << TenThousandDigits << -1;
}

void CliOptionsTest::pageText()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    const auto page = ParsePageText(text);
    QCOMPARE(page ? int{*page} : -1, expected);
}

void CliOptionsTest::checksumText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("0") << QStringLiteral("0") << true << qint64{0};
    QTest::newRow("highest signed 32-bit") << QStringLiteral("2147483647") << true << qint64{2147483647};
    QTest::newRow("lowest signed 32-bit") << QStringLiteral("-2147483648") << true << qint64{-2147483648LL};
    QTest::newRow("negative") << QStringLiteral("-5") << true << qint64{-5};
    QTest::newRow("one past the highest") << QStringLiteral("2147483648") << false << qint64{0};
    QTest::newRow("one below the lowest") << QStringLiteral("-2147483649") << false << qint64{0};
    QTest::newRow("fraction") << QStringLiteral("1.5") << false << qint64{0};
    QTest::newRow("exponent") << QStringLiteral("1e3") << false << qint64{0};
    QTest::newRow("hex") << QStringLiteral("0x10") << false << qint64{0};
    QTest::newRow("plus sign") << QStringLiteral("+5") << false << qint64{0};
    QTest::newRow("sign alone") << QStringLiteral("-") << false << qint64{0};
    QTest::newRow("empty") << QString() << false << qint64{0};
    QTest::newRow("blank") << QStringLiteral("5 ") << false << qint64{0};
    QTest::newRow("full-width digits") << FullWidth4001 << false << qint64{0};
    QTest::newRow("10,000 digits") << TenThousandDigits << false << qint64{0};
}

void CliOptionsTest::checksumText()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(qint64, expected);
    const auto checksum = ParseChecksumText(text);
    QCOMPARE(checksum.has_value(), accepted);
    if (accepted)
        QCOMPARE(qint64{*checksum}, expected);
}

void CliOptionsTest::secondsText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");  // 0: refused
    QTest::newRow("whole seconds") << QStringLiteral("3") << 3.0;
    QTest::newRow("fraction") << QStringLiteral("2.5") << 2.5;
    QTest::newRow("zero") << QStringLiteral("0") << 0.0;
    QTest::newRow("zero with a fraction") << QStringLiteral("0.0") << 0.0;
    QTest::newRow("negative") << QStringLiteral("-1") << 0.0;
    QTest::newRow("empty") << QString() << 0.0;
    QTest::newRow("exponent") << QStringLiteral("1e3") << 0.0;
    QTest::newRow("trailing point") << QStringLiteral("3.") << 0.0;
    QTest::newRow("letters") << QStringLiteral("ten") << 0.0;
    QTest::newRow("10,000 digits") << TenThousandDigits << 0.0;
}

void CliOptionsTest::secondsText()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(ParseSecondsText(text).value_or(0.0), expected);
}

void CliOptionsTest::deviceText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host");  // empty: refused
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("label");
    QTest::newRow("IPv4, default port") << QStringLiteral("127.0.0.1") << QStringLiteral("127.0.0.1") << 4001
                                        << QStringLiteral("127.0.0.1:4001");
    QTest::newRow("IPv4 with port") << QStringLiteral("127.0.0.1:5000") << QStringLiteral("127.0.0.1") << 5000
                                    << QStringLiteral("127.0.0.1:5000");
    QTest::newRow("host name") << QStringLiteral("press-7.plant.example") << QStringLiteral("press-7.plant.example")
                               << 4001 << QStringLiteral("press-7.plant.example:4001");
    QTest::newRow("host name with port") << QStringLiteral("localhost:4002") << QStringLiteral("localhost") << 4002
                                         << QStringLiteral("localhost:4002");
    QTest::newRow("IPv6 in brackets with port")
        << QStringLiteral("[::1]:4002") << QStringLiteral("::1") << 4002 << QStringLiteral("[::1]:4002");
    QTest::newRow("IPv6 in brackets, default port")
        << QStringLiteral("[fe80::1]") << QStringLiteral("fe80::1") << 4001 << QStringLiteral("[fe80::1]:4001");
    QTest::newRow("bare IPv6 takes the default port")
        << QStringLiteral("::1") << QStringLiteral("::1") << 4001 << QStringLiteral("[::1]:4001");
    QTest::newRow("bare IPv6 ending in digits is all address")
        << QStringLiteral("2001:db8::1:4001") << QStringLiteral("2001:db8::1:4001") << 4001
        << QStringLiteral("[2001:db8::1:4001]:4001");
    QTest::newRow("host name with a final dot")
        << QStringLiteral("press-7.example.:4002") << QStringLiteral("press-7.example.") << 4002
        << QStringLiteral("press-7.example.:4002");
    const QString label63(63, u'a');
    const QString name253 = QStringList{label63, label63, label63, QString(61, u'b')}.join(u'.');
    QTest::newRow("name of 253 characters and a final dot")
        << name253 + u'.' << name253 + u'.' << 4001 << name253 + QStringLiteral(".:4001");
    const auto refused = [](const char* name, const QString& text) {
        QTest::newRow(name) << text << QString() << 0 << QString();
    };
    refused("empty", QString());
    refused("blank before", QStringLiteral(" 127.0.0.1"));
    refused("blank after", QStringLiteral("127.0.0.1 "));
    refused("empty port", QStringLiteral("127.0.0.1:"));
    refused("port 0", QStringLiteral("127.0.0.1:0"));
    refused("port 65536", QStringLiteral("127.0.0.1:65536"));
    refused("signed port", QStringLiteral("127.0.0.1:+4001"));
    refused("hex port", QStringLiteral("127.0.0.1:0xFA1"));
    refused("full-width port", QStringLiteral("127.0.0.1:") + FullWidth4001);
    refused("full-width address", QStringLiteral("１２７.０.０.１"));
    refused("two ports", QStringLiteral("127.0.0.1:1:2"));
    refused("unclosed bracket", QStringLiteral("[::1"));
    refused("bracket without colon", QStringLiteral("[::1]4001"));
    refused("IPv4 in brackets", QStringLiteral("[127.0.0.1]:4001"));
    refused("blank inside a name", QStringLiteral("press 7"));
    refused("underscore in a name", QStringLiteral("press_7"));
    refused("label starting with a hyphen", QStringLiteral("-press.example"));
    refused("empty label", QStringLiteral("press..example"));
    refused("label ending with a hyphen", QStringLiteral("press-.example"));
    refused("label of 64", QString(64, u'a') + QStringLiteral(".example"));
    refused("name of 254 characters", name253 + QStringLiteral("b"));
    refused("port without a host", QStringLiteral(":4001"));
    refused("empty brackets", QStringLiteral("[]:4001"));
    refused("URL", QStringLiteral("http://127.0.0.1"));
    refused("10,000 characters", QString(10000, u'a'));
}

void CliOptionsTest::deviceText()
{
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, label);
    QString error;
    const auto entry = ParseDeviceText(text, DefaultPort, &error);
    if (host.isEmpty()) {
        QVERIFY(!entry);
        QVERIFY(error.startsWith(QStringLiteral("device '")));
        QVERIFY2(error.size() < 200, qPrintable(error));  // long input is only quoted in part
        return;
    }
    QVERIFY2(entry, qPrintable(error));
    QCOMPARE(entry->host, host);
    QCOMPARE(entry->port, port);
    QCOMPARE(entry->Label(), label);
}

void CliOptionsTest::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("digest");  // of the result, or the start of the error after "error: "
    const QString dev = QStringLiteral("127.0.0.1");
    // Help and version win wherever they stand before "--", whatever else is wrong.
    QTest::newRow("help") << QStringList{"--help"} << "help";
    QTest::newRow("help after a command") << QStringList{"program", "-h"} << "help";
    QTest::newRow("version after a command's operands") << QStringList{"font-check", dev, "--version"} << "version";
    QTest::newRow("help beside a bad port") << QStringList{"program", "--port", "0", "--help", dev} << "help";
    QTest::newRow("help beside an unknown command") << QStringList{"burn", "--help"} << "help";
    QTest::newRow("help after an option that took -- for its value")
        << QStringList{"program", "--image", "--", "--help", dev} << "help";
    QTest::newRow("help after -- is a device") << QStringList{"program", "--", "--help"} << "error: device '--help'";

    QTest::newRow("one device") << QStringList{"program", dev} << "program 127.0.0.1:4001";
    QTest::newRow("--port for devices without their own, wherever it stands")
        << QStringList{"program", "a.example", "--port", "5000", "b.example:6000"}
        << "program a.example:5000,b.example:6000";
    QTest::newRow("every program option") << QStringList{"program",         "--image", "x.hex",  "--format", "ihex",
                                                         "--give-up-after", "2.5",     "--json", dev,        "[::1]:7"}
                                          << "program json image=x.hex format=ihex give-up=2.5 127.0.0.1:4001,[::1]:7";
    QTest::newRow("font-download") << QStringList{"font-download", "127.0.0.1:4002", "Hzk16s", "0", "100"}
                                   << "font-download 127.0.0.1:4002 name=Hzk16s pages=0..100";
    QTest::newRow("font-download keeps the name as given") << QStringList{"font-download", dev, " Hzk16s ", "5", "5"}
                                                           << "font-download 127.0.0.1:4001 name= Hzk16s  pages=5..5";

    // Qt would take "-5" for an option; it is the checksum wherever it stands.
    QTest::newRow("negative checksum after the options")
        << QStringList{"font-check", "--json", "--port", "9", dev, "-5", "0", "32767"}
        << "font-check json 127.0.0.1:9 sum=-5 pages=0..32767";
    QTest::newRow("negative checksum before an option") << QStringList{"font-check", dev, "-5", "--json", "0", "1"}
                                                        << "font-check json 127.0.0.1:4001 sum=-5 pages=0..1";
    QTest::newRow("lowest checksum") << QStringList{"font-check", dev, "-2147483648", "0", "1"}
                                     << "font-check 127.0.0.1:4001 sum=-2147483648 pages=0..1";
    QTest::newRow("negative checksum after --")
        << QStringList{"font-check", "--", dev, "-5", "0", "1"} << "font-check 127.0.0.1:4001 sum=-5 pages=0..1";
    QTest::newRow("negative checksum past 32 bits")
        << QStringList{"font-check", dev, "-2147483649", "0", "1"} << "error: CHECKSUM: '-2147483649'";
    QTest::newRow("negative page") << QStringList{"font-check", dev, "1", "-1", "3"} << "error: FIRST_PAGE: '-1'";
    QTest::newRow("negative port value") << QStringList{"program", "--port", "-5", dev} << "error: --port: '-5'";
    QTest::newRow("negative number as a device") << QStringList{"program", "-1"} << "error: device '-1'";
    QTest::newRow("negative number as the command") << QStringList{"-5", dev} << "error: unknown command '-5'";

    QTest::newRow("nothing") << QStringList{} << "error: no command";
    QTest::newRow("unknown command") << QStringList{"burn", dev} << "error: unknown command 'burn'";
    QTest::newRow("no device") << QStringList{"program"} << "error: program: no device";
    QTest::newRow("port 0") << QStringList{"program", "--port", "0", dev} << "error: --port: '0'";
    QTest::newRow("port 65536") << QStringList{"program", "--port", "65536", dev} << "error: --port: '65536'";
    QTest::newRow("port as IPv6 text") << QStringList{"program", "--port", "::1", dev} << "error: --port: '::1'";
    QTest::newRow("flag given twice") << QStringList{"program", "--json", "--json", dev} << "error: --json given twice";
    QTest::newRow("value given twice, the same")
        << QStringList{"program", "--port", "5000", "--port=5000", dev} << "error: --port given twice";
    QTest::newRow("unknown option") << QStringList{"program", "--frobnicate", dev} << "error: unknown option";
    QTest::newRow("unknown short option") << QStringList{"program", "-x", dev} << "error: unknown option";
    QTest::newRow("empty image name") << QStringList{"program", "--image=", dev} << "error: --image: '' is not";
    QTest::newRow("a format by another name")
        << QStringList{"program", "--format", "hex", dev} << "error: --format: 'hex' is not a format";
    QTest::newRow("give up after 0 s") << QStringList{"program", "--give-up-after", "0", dev}
                                       << "error: --give-up-after: '0' is not";
    QTest::newRow("option of another command") << QStringList{"font-check", "--image", "f", dev, "1", "0", "1"}
                                               << "error: --image does not apply to font-check";
    QTest::newRow("option of another command, with its value")
        << QStringList{"font-download", "--give-up-after=5", dev, "Hzk16s", "0", "1"}
        << "error: --give-up-after does not apply to font-download";
    QTest::newRow("device with a bad port")
        << QStringList{"program", "127.0.0.1:99999"} << "error: device '127.0.0.1:99999'";
    QTest::newRow("font-download short of pages")
        << QStringList{"font-download", dev, "Hzk16s", "0"} << "error: font-download takes";
    QTest::newRow("font-check with an operand too many")
        << QStringList{"font-check", dev, "1", "0", "1", "2"} << "error: font-check takes";
    QTest::newRow("blank font name") << QStringList{"font-download", dev, "  ", "0", "1"}
                                     << "error: font-download: NAME is empty";
    QTest::newRow("last page before the first")
        << QStringList{"font-download", dev, "Hzk16s", "5", "4"} << "error: LAST_PAGE 4 is before FIRST_PAGE 5";
    QTest::newRow("page past 16 bits") << QStringList{"font-download", dev, "Hzk16s", "0", "32768"}
                                       << "error: LAST_PAGE: '32768'";
    QTest::newRow("checksum past 32 bits")
        << QStringList{"font-check", dev, "2147483648", "0", "1"} << "error: CHECKSUM: '2147483648'";
    QStringList many{"program"};
    for (int i = 0; i <= MaxDevices; ++i)
        many << QStringLiteral("10.0.%1.%2").arg(i / 250).arg(i % 250 + 1);
    QTest::newRow("more devices than a fleet holds")
        << many << QStringLiteral("error: program: %1 devices given, at most %2").arg(MaxDevices + 1).arg(MaxDevices);

    // --devices-from: the command line's devices first, then the file's, all taking --port.
    QTest::newRow("devices from a file beside the command line")
        << QStringList{"program", "--devices-from", "fleet.txt", dev, "--port", "5000"}
        << "program from=fleet.txt 127.0.0.1:5000,a.example:5000,[::1]:7,10.0.0.9:6";
    QTest::newRow("a list without devices, none on the command line")
        << QStringList{"program", "--devices-from", "empty.txt"}
        << "error: program: no device address given, and none in 'empty.txt'";
    QTest::newRow("a bad line names the file and the line") << QStringList{"program", "--devices-from", "bad.txt", dev}
                                                            << "error: bad.txt:4: device 'press 7': not an IPv4";
    QTest::newRow("a missing file") << QStringList{"program", "--devices-from", "missing.txt", dev}
                                    << "error: --devices-from: missing.txt: no such file";
    QTest::newRow("empty file name") << QStringList{"program", "--devices-from=", dev}
                                     << "error: --devices-from: '' is not";
    QTest::newRow("a full file is allowed")
        << QStringList{"program", "--devices-from", "full.txt"} << QStringLiteral("count=%1").arg(MaxDevices);
    QTest::newRow("the file and the command line together past the limit")
        << QStringList{"program", "--devices-from", "full.txt", dev}
        << QStringLiteral("error: program: %1 devices given, at most %2").arg(MaxDevices + 1).arg(MaxDevices);
    QTest::newRow("a file past the limit stops at the line too many")
        << QStringList{"program", "--devices-from", "overfull.txt"}
        << QStringLiteral("error: overfull.txt:%1: more than %2 devices").arg(MaxDevices + 1).arg(MaxDevices);
}

void CliOptionsTest::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(QString, digest);
    const ParseResult result = ParseCommandLine(args, ReadFake);
    if (digest.startsWith(QStringLiteral("error: "))) {
        QVERIFY2(result.error.startsWith(digest.mid(7)), qPrintable(result.error));
        return;
    }
    QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
    if (digest.startsWith(QStringLiteral("count=")))
        QCOMPARE(QStringLiteral("count=%1").arg(result.line.devices.size()), digest);
    else
        QCOMPARE(Digest(result.line), digest);
}

void CliOptionsTest::helpText_data()
{
    QTest::addColumn<QString>("part");
    QTest::newRow("program usage") << "  modburn-cli program       [--image FILE] [--format NAME] [--port N]";
    QTest::newRow("program usage, its operands") << "[--dry-run] [--json] ADDRESS[:PORT]...\n";
    QTest::newRow("font-download usage") << "  modburn-cli font-download [--port N] [--json]\n";
    QTest::newRow("font-check usage operands") << "ADDRESS[:PORT] CHECKSUM FIRST_PAGE LAST_PAGE\n";
    QTest::newRow("help and version usage") << "  modburn-cli --help | --version\n";
    QTest::newRow("address grammar") << "ADDRESS is an IPv4 address, a host name or an IPv6 address";
    QTest::newRow("an option with its help")
        << "  --give-up-after S   stop every run still going after S seconds (exit 3)\n";
    QTest::newRow("a flag with its help") << "  --json              one JSON object per line";
    QTest::newRow("exit statuses") << "Exit status: 0 all done, 1 a device not programmed";
    QTest::newRow("interrupted") << "130 interrupted (Ctrl-C or SIGTERM)";
}

void CliOptionsTest::helpText()
{
    QFETCH(QString, part);
    const QString help = HelpText();
    QVERIFY2(help.contains(part), qPrintable(help));
    for (const QString& line : help.split(u'\n'))
        QVERIFY2(line.size() <= 79, qPrintable(line));
}

void CliOptionsTest::resolveDevices_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QString>("expected");  // label=address pairs, or the start of the error
    QTest::newRow("literals and names") << QStringList{"127.0.0.1", "press-1:4100", "[::1]:9"}
                                        << "127.0.0.1:4001=127.0.0.1 press-1:4100=10.1.1.1 [::1]:9=::1";
    QTest::newRow("one address on two ports")
        << QStringList{"127.0.0.1:1", "127.0.0.1:2"} << "127.0.0.1:1=127.0.0.1 127.0.0.1:2=127.0.0.1";
    QTest::newRow("unresolvable name") << QStringList{"127.0.0.1", "nowhere"}
                                       << "device 'nowhere:4001': cannot resolve";
    QTest::newRow("one device twice") << QStringList{"127.0.0.1", "127.0.0.1"}
                                      << "device '127.0.0.1:4001': listed twice";
    QTest::newRow("a name and its address")
        << QStringList{"press-1", "10.1.1.1"} << "device '10.1.1.1:4001': listed twice";
    QTest::newRow("two spellings of one IPv6 address")
        << QStringList{"::1", "0:0:0:0:0:0:0:1"} << "device '[0:0:0:0:0:0:0:1]:4001': listed twice";
}

void CliOptionsTest::resolveDevices()
{
    QFETCH(QStringList, devices);
    QFETCH(QString, expected);
    std::vector<DeviceEntry> entries;
    for (const QString& text : devices) {
        QString error;
        const auto entry = ParseDeviceText(text, DefaultPort, &error);
        QVERIFY2(entry, qPrintable(error));
        entries.push_back(*entry);
    }
    // Names are looked up here, never on the network.
    const std::map<QString, QString> names{{QStringLiteral("press-1"), QStringLiteral("10.1.1.1")}};
    QStringList asked;
    const Resolver resolve = [&](const QString& host) -> std::optional<QString> {
        asked << host;
        const auto found = names.find(host);
        if (found != names.end())
            return found->second;
        if (host.front().isDigit() || host.contains(u':'))
            return host;
        return std::nullopt;
    };
    const Targets result = ResolveDevices(entries, resolve);
    if (!result.error.isEmpty()) {
        QVERIFY2(result.error.startsWith(expected), qPrintable(result.error));
        return;
    }
    QStringList pairs;
    for (const Target& target : result.targets)
        pairs << target.label + u'=' + target.address;
    QCOMPARE(pairs.join(u' '), expected);
    QCOMPARE(asked.size(), devices.size());
}

void CliOptionsTest::systemResolveTakesLiteralsAsTheyAre_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("address");
    QTest::newRow("IPv4") << QStringLiteral("127.0.0.1") << QStringLiteral("127.0.0.1");
    QTest::newRow("IPv6") << QStringLiteral("::1") << QStringLiteral("::1");
    QTest::newRow("IPv6 written out") << QStringLiteral("0:0:0:0:0:0:0:1") << QStringLiteral("::1");
}

void CliOptionsTest::systemResolveTakesLiteralsAsTheyAre()
{
    QFETCH(QString, host);
    QFETCH(QString, address);
    QCOMPARE(SystemResolve(host).value_or(QString()), address);
}

QTEST_GUILESS_MAIN(CliOptionsTest)
#include "tst_cli_options.moc"
