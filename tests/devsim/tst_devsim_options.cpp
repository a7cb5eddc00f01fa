// The simulator's own checks of its command line: the range of each kind of
// value, the rule it shares with modburn-cli (decimal digits without a sign;
// one use unless repeatable, where the values add up), the lock bytes, the
// K:M pairs, --realistic beside explicit times and the limits of --devices.

#include <QtTest>

#include "options.h"

using namespace modburn::devsim;

namespace {

QString List(const std::set<int>& values)
{
    QStringList out;
    for (int v : values)
        out << QString::number(v);
    return '{' + out.join(',') + '}';
}

QString List(const std::map<int, int>& values)
{
    QStringList out;
    for (const auto& [k, v] : values)
        out << QStringLiteral("%1:%2").arg(k).arg(v);
    return '{' + out.join(',') + '}';
}

// Every field that differs from its default, as "name=value" joined by "; ".
QString Changes(const CommandLine& c)
{
    const CommandLine d;
    const Options& o = c.options;
    const Options& od = d.options;
    QStringList out;
    const auto add = [&out](bool differs, const char* name, const QString& value) {
        if (differs)
            out << QLatin1String(name) + '=' + value;
    };
    const auto num = [](long long v) { return QString::number(v); };
    add(c.port != d.port, "port", num(c.port));
    add(c.devices != d.devices, "devices", num(c.devices));
    add(c.transcript != d.transcript, "transcript", num(c.transcript));
    add(c.help != d.help, "help", num(c.help));
    add(o.lockBytes != od.lockBytes, "lockBytes",
        QStringLiteral("%1,%2,%3").arg(o.lockBytes[0]).arg(o.lockBytes[1]).arg(o.lockBytes[2]));
    add(o.silentBurnEnables != od.silentBurnEnables, "silentBurnEnables", num(o.silentBurnEnables));
    add(o.silentSearches != od.silentSearches, "silentSearches", num(o.silentSearches));
    add(o.withholdLocks != od.withholdLocks, "withholdLocks", num(o.withholdLocks));
    add(o.rejectPages != od.rejectPages, "rejectPages", List(o.rejectPages));
    add(o.dropPageReplies != od.dropPageReplies, "dropPageReplies", List(o.dropPageReplies));
    add(o.closeAfterPage != od.closeAfterPage, "closeAfterPage", num(o.closeAfterPage));
    add(o.replyDelayMs != od.replyDelayMs, "replyDelayMs", num(o.replyDelayMs));
    add(o.pageWriteMs != od.pageWriteMs, "pageWriteMs", num(o.pageWriteMs));
    add(o.eraseMs != od.eraseMs, "eraseMs", num(o.eraseMs));
    add(o.fontPageWriteMs != od.fontPageWriteMs, "fontPageWriteMs", num(o.fontPageWriteMs));
    add(o.lockDelayMs != od.lockDelayMs, "lockDelayMs", num(o.lockDelayMs));
    add(o.coalesceLock != od.coalesceLock, "coalesceLock", num(o.coalesceLock));
    add(o.corruptFontPages != od.corruptFontPages, "corruptFontPages", List(o.corruptFontPages));
    add(o.rejectFontPages != od.rejectFontPages, "rejectFontPages", List(o.rejectFontPages));
    add(o.dropFontPageReplies != od.dropFontPageReplies, "dropFontPageReplies", List(o.dropFontPageReplies));
    add(o.silentChecks != od.silentChecks, "silentChecks", num(o.silentChecks));
    add(o.lowerCaseCheckDigits != od.lowerCaseCheckDigits, "lowerCaseCheckDigits", num(o.lowerCaseCheckDigits));
    add(o.flashOut != od.flashOut, "flashOut", QString::fromStdString(o.flashOut));
    add(o.latePageReplies != od.latePageReplies, "latePageReplies", List(o.latePageReplies));
    add(o.loseFrames != od.loseFrames, "loseFrames", List(o.loseFrames));
    return out.join(QStringLiteral("; "));
}

}  // namespace

class TestOptions : public QObject {
    Q_OBJECT

private slots:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void helpStatesTheRule();
};

void TestOptions::accepted_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("changes");  // fields that differ from their defaults

    QTest::newRow("no arguments: all defaults") << QStringList{} << "";

    QTest::newRow("port 0 picks a free one") << QStringList{"--port", "0"} << "port=0";
    QTest::newRow("port 65535 is the last") << QStringList{"--port", "65535"} << "port=65535";
    QTest::newRow("a leading zero is still decimal") << QStringList{"--port", "0100"} << "port=100";
    QTest::newRow("count 1000000 is the most")
        << QStringList{"--silent-burn-enable", "1000000"} << "silentBurnEnables=1000000";
    QTest::newRow("time 600000 ms is the most") << QStringList{"--reply-delay", "600000"} << "replyDelayMs=600000";
    QTest::newRow("module page 127 is the last") << QStringList{"--close-after-page", "127"} << "closeAfterPage=127";
    QTest::newRow("font page 32767 is the last")
        << QStringList{"--corrupt-font-page", "32767"} << "corruptFontPages={32767}";
    QTest::newRow("frame number 1 is the first") << QStringList{"--lose-frame", "1"} << "loseFrames={1}";
    QTest::newRow("every flag once") << QStringList{"--withhold-lock", "--coalesce-lock", "--lower-case-check",
                                                    "--transcript"}
                                     << "transcript=1; withholdLocks=1; coalesceLock=1; lowerCaseCheckDigits=1";
    QTest::newRow("flash out") << QStringList{"--flash-out", "out/flash.bin"} << "flashOut=out/flash.bin";

    QTest::newRow("devices 1024 on free ports")
        << QStringList{"--port", "0", "--devices", "1024"} << "port=0; devices=1024";
    QTest::newRow("devices up to port 65535")
        << QStringList{"--port", "65533", "--devices", "3"} << "port=65533; devices=3";

    QTest::newRow("lock bytes in either case") << QStringList{"--lock", "af,Dc,0C"} << "lockBytes=175,220,12";
    QTest::newRow("lock bytes AF,DC,CC are the default") << QStringList{"--lock", "AF,DC,CC"} << "";

    QTest::newRow("repeated module pages add up")
        << QStringList{"--reject-page", "0", "--reject-page", "127"} << "rejectPages={0,127}";
    QTest::newRow("a module page repeated is in once")
        << QStringList{"--reject-page", "5", "--reject-page", "5"} << "rejectPages={5}";
    QTest::newRow("repeated font pages add up")
        << QStringList{"--reject-font-page",     "1", "--reject-font-page",     "2",
                       "--drop-font-page-reply", "3", "--drop-font-page-reply", "4"}
        << "rejectFontPages={1,2}; dropFontPageReplies={3,4}";
    QTest::newRow("repeated frame numbers add up")
        << QStringList{"--lose-frame", "7", "--lose-frame", "3"} << "loseFrames={3,7}";

    QTest::newRow("pairs at their edges") << QStringList{"--drop-page-reply", "0:0", "--drop-page-reply", "127:1000000"}
                                          << "dropPageReplies={0:0,127:1000000}";
    QTest::newRow("pairs for one page add their counts")
        << QStringList{"--drop-page-reply", "5:2", "--drop-page-reply", "5:4"} << "dropPageReplies={5:6}";
    QTest::newRow("pairs for one page add their times up to the most")
        << QStringList{"--late-page-reply", "5:599999", "--late-page-reply", "5:1"} << "latePageReplies={5:600000}";

    QTest::newRow("realistic times") << QStringList{"--realistic"} << "pageWriteMs=5; eraseMs=10; fontPageWriteMs=3";
    QTest::newRow("realistic, page write given after")
        << QStringList{"--realistic", "--page-write-ms", "7"} << "pageWriteMs=7; eraseMs=10; fontPageWriteMs=3";
    QTest::newRow("realistic, erase 0 given before")
        << QStringList{"--erase-ms", "0", "--realistic"} << "pageWriteMs=5; fontPageWriteMs=3";
    QTest::newRow("realistic, font page write given")
        << QStringList{"--realistic", "--font-page-write-ms", "9"} << "pageWriteMs=5; eraseMs=10; fontPageWriteMs=9";

    QTest::newRow("help wins over a bad value") << QStringList{"--port", "abc", "--help"} << "help=1";
    QTest::newRow("help wins over an option given twice")
        << QStringList{"--port", "1", "--port", "2", "-h"} << "help=1";
}

void TestOptions::accepted()
{
    QFETCH(QStringList, args);
    QFETCH(QString, changes);
    const ParseResult result = ParseCommandLine(args);
    QCOMPARE(result.error, QString());
    QCOMPARE(Changes(result.commandLine), changes);
}

void TestOptions::refused_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");

    const QString port = "is not a port number (0..65535)";
    QTest::newRow("hex") << QStringList{"--port", "0x1F90"} << "--port: '0x1F90' " + port;
    QTest::newRow("plus sign") << QStringList{"--port", "+80"} << "--port: '+80' " + port;
    QTest::newRow("minus sign") << QStringList{"--silent-check", "-1"}
                                << "--silent-check: '-1' is not a count (0..1000000)";
    QTest::newRow("blanks around a number") << QStringList{"--port", " 80"} << "--port: ' 80' " + port;
    QTest::newRow("empty number") << QStringList{"--port", ""} << "--port: '' " + port;
    QTest::newRow("exponent") << QStringList{"--port", "1e3"} << "--port: '1e3' " + port;
    QTest::newRow("fraction") << QStringList{"--lock-delay", "1.5"}
                              << "--lock-delay: '1.5' is not a time in ms (0..600000)";
    QTest::newRow("digits of another script") << QStringList{"--port", QString::fromUtf8("\u0668\u0660")}
                                              << QString::fromUtf8("--port: '\u0668\u0660' ") + port;
    QTest::newRow("too large for any number")
        << QStringList{"--port", "99999999999999999999"} << "--port: '99999999999999999999' " + port;

    QTest::newRow("port 65536") << QStringList{"--port", "65536"} << "--port: '65536' " + port;
    QTest::newRow("count 1000001") << QStringList{"--silent-search", "1000001"}
                                   << "--silent-search: '1000001' is not a count (0..1000000)";
    QTest::newRow("time 600001 ms") << QStringList{"--page-write-ms", "600001"}
                                    << "--page-write-ms: '600001' is not a time in ms (0..600000)";
    QTest::newRow("module page 128") << QStringList{"--close-after-page", "128"}
                                     << "--close-after-page: '128' is not a module page (0..127)";
    QTest::newRow("font page 32768") << QStringList{"--drop-font-page-reply", "32768"}
                                     << "--drop-font-page-reply: '32768' is not a font page (0..32767)";
    QTest::newRow("frame number 0") << QStringList{"--lose-frame", "0"}
                                    << "--lose-frame: '0' is not a frame number (1..1000000)";
    QTest::newRow("a bad value among repeated ones") << QStringList{"--reject-page", "0", "--reject-page", "128"}
                                                     << "--reject-page: '128' is not a module page (0..127)";

    QTest::newRow("number option given twice") << QStringList{"--port", "1", "--port", "2"} << "--port given twice";
    QTest::newRow("given twice, the second bad")
        << QStringList{"--erase-ms", "1", "--erase-ms", "x"} << "--erase-ms given twice";
    QTest::newRow("flag given twice") << QStringList{"--withhold-lock", "--withhold-lock"}
                                      << "--withhold-lock given twice";
    QTest::newRow("realistic given twice") << QStringList{"--realistic", "--realistic"} << "--realistic given twice";
    QTest::newRow("file given twice") << QStringList{"--flash-out", "a", "--flash-out", "b"}
                                      << "--flash-out given twice";

    QTest::newRow("devices 0") << QStringList{"--devices", "0"}
                               << "--devices: '0' is not a number of devices (1..1024)";
    QTest::newRow("devices 1025") << QStringList{"--devices", "1025"}
                                  << "--devices: '1025' is not a number of devices (1..1024)";
    QTest::newRow("devices past port 65535") << QStringList{"--port", "65534", "--devices", "3"}
                                             << "--devices: '3' is not a number of devices (1..2) from port 65534";

    QTest::newRow("pair without its second number")
        << QStringList{"--drop-page-reply", "5"} << "--drop-page-reply: '5' is not of the form K:M";
    QTest::newRow("pair with three numbers")
        << QStringList{"--late-page-reply", "5:1:2"} << "--late-page-reply: '5:1:2' is not of the form P:MS";
    QTest::newRow("pair with an empty second number")
        << QStringList{"--drop-page-reply", "5:"} << "--drop-page-reply: '' is not a count (0..1000000)";
    QTest::newRow("pair for module page 128")
        << QStringList{"--late-page-reply", "128:10"} << "--late-page-reply: '128' is not a module page (0..127)";
    QTest::newRow("pair count 1000001") << QStringList{"--drop-page-reply", "5:1000001"}
                                        << "--drop-page-reply: '1000001' is not a count (0..1000000)";
    QTest::newRow("pair with a sign") << QStringList{"--late-page-reply", "5:+1"}
                                      << "--late-page-reply: '+1' is not a time in ms (0..600000)";
    QTest::newRow("pairs for one page adding up past the most")
        << QStringList{"--late-page-reply", "5:600000", "--late-page-reply", "05:1"}
        << "--late-page-reply: the values for page 5 add up to more than 600000";

    const QString lock = "is not three bytes of two hex digits each, like AF,DC,CC";
    QTest::newRow("lock with two bytes") << QStringList{"--lock", "AF,DC"} << "--lock: 'AF,DC' " + lock;
    QTest::newRow("lock with four bytes") << QStringList{"--lock", "AF,DC,CC,00"} << "--lock: 'AF,DC,CC,00' " + lock;
    QTest::newRow("lock byte of one digit") << QStringList{"--lock", "C,DC,CC"} << "--lock: 'C,DC,CC' " + lock;
    QTest::newRow("lock byte of three digits") << QStringList{"--lock", "1FF,DC,CC"} << "--lock: '1FF,DC,CC' " + lock;
    QTest::newRow("lock byte with 0x") << QStringList{"--lock", "0xAF,DC,CC"} << "--lock: '0xAF,DC,CC' " + lock;
    QTest::newRow("lock bytes with blanks") << QStringList{"--lock", "AF, DC,CC"} << "--lock: 'AF, DC,CC' " + lock;
    QTest::newRow("lock byte not hex") << QStringList{"--lock", "G0,DC,CC"} << "--lock: 'G0,DC,CC' " + lock;

    QTest::newRow("flash out without a name") << QStringList{"--flash-out", ""} << "--flash-out: '' is not a file name";
    QTest::newRow("plain argument") << QStringList{"extra"} << "unexpected argument 'extra'";
}

void TestOptions::refused()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    QCOMPARE(ParseCommandLine(args).error, error);
}

void TestOptions::helpStatesTheRule()
{
    const QString help = HelpText().simplified();
    QVERIFY(help.contains("Numbers are decimal digits, without a sign. An option marked (repeatable) may be given "
                          "more than once and its values add up; any other option may be given only once."));
    QVERIFY(help.contains("--lock <B1,B2,B3> The three lock bytes, two hex digits each (default AF,DC,CC)."));
    QVERIFY(help.contains("--reject-page <K> Answer module page K with 0x15 every time, storing nothing "
                          "(repeatable)."));
    QVERIFY(help.contains("--port <N> TCP port on 127.0.0.1 (default 4001; 0 picks a free one)."));
}

QTEST_GUILESS_MAIN(TestOptions)
#include "tst_devsim_options.moc"
