// The simulator's command line parsed in-process: every option's accepted
// values, its edges and its refusals, and the help that lists them all.

#include <QtTest>

#include <sstream>

#include "options.h"

using namespace modburn::devsim;

namespace {

template <typename T>
std::string List(const std::set<T>& values)
{
    std::ostringstream out;
    for (const T& v : values)
        out << (out.tellp() > 0 ? "," : "") << v;
    // Appended rather than concatenated: GCC 12 at -O3 warns falsely about the latter.
    std::string list = "{";
    list += out.str();
    list += '}';
    return list;
}

std::string List(const std::map<int, int>& values)
{
    std::ostringstream out;
    for (const auto& [k, v] : values)
        out << (out.tellp() > 0 ? "," : "") << k << ':' << v;
    // Appended rather than concatenated: GCC 12 at -O3 warns falsely about the latter.
    std::string list = "{";
    list += out.str();
    list += '}';
    return list;
}

// Every field that differs from its default, as "name=value" joined by "; ".
QString Changes(const CommandLine& c)
{
    const CommandLine d;
    const Options& o = c.options;
    const Options& od = d.options;
    QStringList out;
    const auto add = [&out](bool differs, const char* name, const std::string& value) {
        if (differs)
            out << QString::fromLatin1(name) + '=' + QString::fromStdString(value);
    };
    const auto num = [](long long v) { return std::to_string(v); };
    add(c.port != d.port, "port", num(c.port));
    add(c.devices != d.devices, "devices", num(c.devices));
    add(c.transcript != d.transcript, "transcript", num(c.transcript));
    add(c.help != d.help, "help", num(c.help));
    add(o.lockBytes != od.lockBytes, "lockBytes",
        num(o.lockBytes[0]) + "," + num(o.lockBytes[1]) + "," + num(o.lockBytes[2]));
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
    add(o.flashOut != od.flashOut, "flashOut", o.flashOut);
    add(o.latePageReplies != od.latePageReplies, "latePageReplies", List(o.latePageReplies));
    add(o.loseFrames != od.loseFrames, "loseFrames", List(o.loseFrames));
    return out.join(QStringLiteral("; "));
}

std::vector<std::string> Args(const QStringList& list)
{
    std::vector<std::string> out;
    for (const QString& s : list)
        out.push_back(s.toStdString());
    return out;
}

// Every option the simulator has, as the help lists it.
const QStringList AllOptions{
    "-h, --help",
    "--help-all",
    "--port <N>",
    "--devices <N>",
    "--lock <B1,B2,B3>",
    "--silent-burn-enable <N>",
    "--silent-search <N>",
    "--withhold-lock",
    "--reject-page <K>",
    "--drop-page-reply <K:M>",
    "--close-after-page <K>",
    "--reply-delay <MS>",
    "--realistic",
    "--page-write-ms <MS>",
    "--erase-ms <MS>",
    "--font-page-write-ms <MS>",
    "--lock-delay <MS>",
    "--coalesce-lock",
    "--flash-out <FILE>",
    "--corrupt-font-page <P>",
    "--reject-font-page <P>",
    "--drop-font-page-reply <P>",
    "--silent-check <N>",
    "--lower-case-check",
    "--late-page-reply <P:MS>",
    "--lose-frame <N>",
    "--transcript",
};

}  // namespace

class TestOptions : public QObject {
    Q_OBJECT

private slots:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void helpListsEveryOption();
    void helpFitsTheTerminal();
};

void TestOptions::accepted_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("changes");  // fields that differ from their defaults

    QTest::newRow("no arguments: all defaults") << QStringList{} << "";

    QTest::newRow("port 0 picks a free one") << QStringList{"--port", "0"} << "port=0";
    QTest::newRow("port 65535 is the last") << QStringList{"--port", "65535"} << "port=65535";
    QTest::newRow("port in hex") << QStringList{"--port", "0x1F90"} << "port=8080";
    QTest::newRow("port in hex with capital X") << QStringList{"--port", "0X1f90"} << "port=8080";
    QTest::newRow("port with a leading zero is decimal") << QStringList{"--port", "0100"} << "port=100";
    QTest::newRow("port with a plus sign") << QStringList{"--port", "+80"} << "port=80";
    QTest::newRow("port surrounded by spaces") << QStringList{"--port", " 80\t"} << "port=80";
    QTest::newRow("port with an equals sign") << QStringList{"--port=81"} << "port=81";
    QTest::newRow("port given twice, the last wins") << QStringList{"--port", "1", "--port", "2"} << "port=2";
    QTest::newRow("port given twice, only the last is checked")
        << QStringList{"--port", "x", "--port", "3"} << "port=3";
    QTest::newRow("port 4001 is the default") << QStringList{"--port", "4001"} << "";

    QTest::newRow("devices 3") << QStringList{"--devices", "3"} << "devices=3";
    QTest::newRow("devices 1024 on free ports")
        << QStringList{"--port", "0", "--devices", "1024"} << "port=0; devices=1024";
    QTest::newRow("devices up to port 65535")
        << QStringList{"--port", "65533", "--devices", "3"} << "port=65533; devices=3";

    QTest::newRow("lock bytes") << QStringList{"--lock", "01,02,03"} << "lockBytes=1,2,3";
    QTest::newRow("lock bytes lower-case with 0x") << QStringList{"--lock", "0xaf,0XDC,c"} << "lockBytes=175,220,12";
    QTest::newRow("lock bytes with spaces") << QStringList{"--lock", " 0 , FF ,1 "} << "lockBytes=0,255,1";
    QTest::newRow("lock bytes AF,DC,CC are the default") << QStringList{"--lock", "AF,DC,CC"} << "";

    QTest::newRow("silent burn-enable 1") << QStringList{"--silent-burn-enable", "1"} << "silentBurnEnables=1";
    QTest::newRow("silent burn-enable 1000000 is the most")
        << QStringList{"--silent-burn-enable", "1000000"} << "silentBurnEnables=1000000";
    QTest::newRow("silent burn-enable 0") << QStringList{"--silent-burn-enable", "0"} << "";
    QTest::newRow("silent search 0x10") << QStringList{"--silent-search", "0x10"} << "silentSearches=16";
    QTest::newRow("silent search 1000000 is the most")
        << QStringList{"--silent-search", "1000000"} << "silentSearches=1000000";

    QTest::newRow("withhold lock") << QStringList{"--withhold-lock"} << "withholdLocks=1";
    QTest::newRow("withhold lock twice") << QStringList{"--withhold-lock", "--withhold-lock"} << "withholdLocks=1";

    QTest::newRow("reject page 0 and 127")
        << QStringList{"--reject-page", "0", "--reject-page=127"} << "rejectPages={0,127}";
    QTest::newRow("reject page 0x7F once, given twice")
        << QStringList{"--reject-page", "0x7F", "--reject-page", "127"} << "rejectPages={127}";

    QTest::newRow("drop page reply 5:2") << QStringList{"--drop-page-reply", "5:2"} << "dropPageReplies={5:2}";
    QTest::newRow("drop page reply at the edges")
        << QStringList{"--drop-page-reply", "0:0", "--drop-page-reply", "127:1000000"}
        << "dropPageReplies={0:0,127:1000000}";
    QTest::newRow("drop page reply in hex") << QStringList{"--drop-page-reply", "0x10:0x3"} << "dropPageReplies={16:3}";
    QTest::newRow("drop page reply for one page twice, the last wins")
        << QStringList{"--drop-page-reply", "5:2", "--drop-page-reply", "5:4"} << "dropPageReplies={5:4}";

    QTest::newRow("close after page 0") << QStringList{"--close-after-page", "0"} << "closeAfterPage=0";
    QTest::newRow("close after page 127") << QStringList{"--close-after-page", "127"} << "closeAfterPage=127";

    QTest::newRow("reply delay 600000 is the most") << QStringList{"--reply-delay", "600000"} << "replyDelayMs=600000";
    QTest::newRow("reply delay 0") << QStringList{"--reply-delay", "0"} << "";

    QTest::newRow("realistic times") << QStringList{"--realistic"} << "pageWriteMs=5; eraseMs=10; fontPageWriteMs=3";
    QTest::newRow("realistic, page write given after")
        << QStringList{"--realistic", "--page-write-ms", "7"} << "pageWriteMs=7; eraseMs=10; fontPageWriteMs=3";
    QTest::newRow("realistic, erase given before")
        << QStringList{"--erase-ms", "0", "--realistic"} << "pageWriteMs=5; fontPageWriteMs=3";
    QTest::newRow("realistic, font page write given")
        << QStringList{"--realistic", "--font-page-write-ms=9"} << "pageWriteMs=5; eraseMs=10; fontPageWriteMs=9";
    QTest::newRow("page write 600000") << QStringList{"--page-write-ms", "600000"} << "pageWriteMs=600000";
    QTest::newRow("erase 1") << QStringList{"--erase-ms", "1"} << "eraseMs=1";
    QTest::newRow("font page write 0x20") << QStringList{"--font-page-write-ms", "0x20"} << "fontPageWriteMs=32";
    QTest::newRow("lock delay 0") << QStringList{"--lock-delay", "0"} << "lockDelayMs=0";
    QTest::newRow("lock delay 600000") << QStringList{"--lock-delay", "600000"} << "lockDelayMs=600000";
    QTest::newRow("lock delay 20 is the default") << QStringList{"--lock-delay", "20"} << "";

    QTest::newRow("coalesce lock") << QStringList{"--coalesce-lock"} << "coalesceLock=1";

    QTest::newRow("flash out") << QStringList{"--flash-out", "out/flash.bin"} << "flashOut=out/flash.bin";
    QTest::newRow("flash out named like an option") << QStringList{"--flash-out", "--port"} << "flashOut=--port";

    QTest::newRow("corrupt font pages 0 and 32767")
        << QStringList{"--corrupt-font-page", "0", "--corrupt-font-page", "32767"} << "corruptFontPages={0,32767}";
    QTest::newRow("reject font page 0x7FFF")
        << QStringList{"--reject-font-page", "0x7FFF"} << "rejectFontPages={32767}";
    QTest::newRow("reject font pages 1 and 2")
        << QStringList{"--reject-font-page=1", "--reject-font-page=2"} << "rejectFontPages={1,2}";
    QTest::newRow("drop font page reply 0") << QStringList{"--drop-font-page-reply", "0"} << "dropFontPageReplies={0}";
    QTest::newRow("drop font page reply 32767")
        << QStringList{"--drop-font-page-reply", "32767"} << "dropFontPageReplies={32767}";

    QTest::newRow("silent check 3") << QStringList{"--silent-check", "3"} << "silentChecks=3";
    QTest::newRow("silent check 1000000") << QStringList{"--silent-check", "1000000"} << "silentChecks=1000000";

    QTest::newRow("lower-case check") << QStringList{"--lower-case-check"} << "lowerCaseCheckDigits=1";

    QTest::newRow("late page reply 5:300") << QStringList{"--late-page-reply", "5:300"} << "latePageReplies={5:300}";
    QTest::newRow("late page reply at the edges")
        << QStringList{"--late-page-reply", "0:0", "--late-page-reply", "127:600000"}
        << "latePageReplies={0:0,127:600000}";
    QTest::newRow("late page reply in hex") << QStringList{"--late-page-reply=0x7F:0x10"} << "latePageReplies={127:16}";
    QTest::newRow("late page reply for one page twice, the last wins")
        << QStringList{"--late-page-reply", "5:300", "--late-page-reply", "5:100"} << "latePageReplies={5:100}";

    QTest::newRow("lose frame 1 is the first") << QStringList{"--lose-frame", "1"} << "loseFrames={1}";
    QTest::newRow("lose frame 1000000 is the last") << QStringList{"--lose-frame", "1000000"} << "loseFrames={1000000}";
    QTest::newRow("lose frames 3 and 7") << QStringList{"--lose-frame", "7", "--lose-frame=3"} << "loseFrames={3,7}";

    QTest::newRow("transcript") << QStringList{"--transcript"} << "transcript=1";

    QTest::newRow("several options together")
        << QStringList{"--port", "0", "--silent-burn-enable", "3", "--reject-page", "5", "--transcript"}
        << "port=0; transcript=1; silentBurnEnables=3; rejectPages={5}";

    QTest::newRow("help") << QStringList{"--help"} << "help=1";
    QTest::newRow("help, short") << QStringList{"-h"} << "help=1";
    QTest::newRow("help, short letter written long") << QStringList{"--h"} << "help=1";
    QTest::newRow("help, short twice in one") << QStringList{"-hh"} << "help=1";
    QTest::newRow("help all") << QStringList{"--help-all"} << "help=1";
    QTest::newRow("help wins over a bad value") << QStringList{"--port", "abc", "--help"} << "help=1";
    QTest::newRow("help wins over a plain argument") << QStringList{"--help", "extra"} << "help=1";
}

void TestOptions::accepted()
{
    QFETCH(QStringList, args);
    QFETCH(QString, changes);
    const ParseResult result = ParseCommandLine(Args(args));
    QCOMPARE(QString::fromStdString(result.error), QString());
    QCOMPARE(Changes(result.commandLine), changes);
}

void TestOptions::refused_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");

    QTest::newRow("unknown option") << QStringList{"--no-such-option"} << "Unknown option 'no-such-option'.";
    QTest::newRow("two unknown options") << QStringList{"--a", "--port", "1", "--b"} << "Unknown options: a, b.";
    QTest::newRow("unknown short option") << QStringList{"-x"} << "Unknown option 'x'.";
    QTest::newRow("long option with one dash") << QStringList{"-port"} << "Unknown options: p, o, r, t.";
    QTest::newRow("help with an unknown option") << QStringList{"--help", "--bogus"} << "Unknown option 'bogus'.";
    QTest::newRow("plain argument") << QStringList{"extra"} << "unexpected argument 'extra'";
    QTest::newRow("an option after --") << QStringList{"--", "--port", "1"} << "unexpected argument '--port'";
    QTest::newRow("a lone dash") << QStringList{"-"} << "unexpected argument '-'";
    QTest::newRow("missing value") << QStringList{"--port"} << "Missing value after '--port'.";
    QTest::newRow("missing value wins over unknown option")
        << QStringList{"--bogus", "--lock"} << "Missing value after '--lock'.";
    QTest::newRow("value after a flag") << QStringList{"--withhold-lock=1"}
                                        << "Unexpected value after '--withhold-lock'.";
    QTest::newRow("value after -h") << QStringList{"-h=1"} << "Unexpected value after '-h'.";
    QTest::newRow("the first bad value in option order")
        << QStringList{"--silent-check", "-1", "--port", "x"} << "--port: 'x' is not a port number (0..65535)";

    QTest::newRow("port not a number") << QStringList{"--port", "abc"}
                                       << "--port: 'abc' is not a port number (0..65535)";
    QTest::newRow("port 65536") << QStringList{"--port", "65536"} << "--port: '65536' is not a port number (0..65535)";
    QTest::newRow("port -1") << QStringList{"--port", "-1"} << "--port: '-1' is not a port number (0..65535)";
    QTest::newRow("port empty") << QStringList{"--port="} << "--port: '' is not a port number (0..65535)";
    QTest::newRow("port 0x alone") << QStringList{"--port", "0x"} << "--port: '0x' is not a port number (0..65535)";
    QTest::newRow("port with an exponent")
        << QStringList{"--port", "1e3"} << "--port: '1e3' is not a port number (0..65535)";
    QTest::newRow("port too large for any number") << QStringList{"--port", "99999999999999999999"}
                                                   << "--port: '99999999999999999999' is not a port number (0..65535)";
    QTest::newRow("port given twice, the last is bad")
        << QStringList{"--port", "1", "--port", "x"} << "--port: 'x' is not a port number (0..65535)";

    QTest::newRow("devices 1025") << QStringList{"--devices", "1025"}
                                  << "--devices: '1025' is not a number of devices (1..1024)";
    QTest::newRow("devices past port 65535") << QStringList{"--port", "65534", "--devices", "3"}
                                             << "--devices: '3' is not a number of devices (1..2) from port 65534";

    QTest::newRow("lock with two bytes") << QStringList{"--lock", "AF,DC"}
                                         << "--lock: 'AF,DC' is not three hex bytes like AF,DC,CC";
    QTest::newRow("lock with four bytes")
        << QStringList{"--lock", "AF,DC,CC,00"} << "--lock: 'AF,DC,CC,00' is not three hex bytes like AF,DC,CC";
    QTest::newRow("lock byte 1FF") << QStringList{"--lock", "1FF,0,0"}
                                   << "--lock: '1FF,0,0' is not three hex bytes like AF,DC,CC";
    QTest::newRow("lock byte not hex") << QStringList{"--lock", "G0,0,0"}
                                       << "--lock: 'G0,0,0' is not three hex bytes like AF,DC,CC";
    QTest::newRow("lock bytes empty") << QStringList{"--lock", ",,"}
                                      << "--lock: ',,' is not three hex bytes like AF,DC,CC";

    QTest::newRow("silent burn-enable -1")
        << QStringList{"--silent-burn-enable", "-1"} << "--silent-burn-enable: '-1' is not a count (0..1000000)";
    QTest::newRow("silent burn-enable 1000001") << QStringList{"--silent-burn-enable", "1000001"}
                                                << "--silent-burn-enable: '1000001' is not a count (0..1000000)";
    QTest::newRow("silent search not a number")
        << QStringList{"--silent-search", "many"} << "--silent-search: 'many' is not a count (0..1000000)";

    QTest::newRow("reject page 128") << QStringList{"--reject-page", "128"}
                                     << "--reject-page: '128' is not a module page (0..127)";
    QTest::newRow("reject page -1") << QStringList{"--reject-page", "0", "--reject-page", "-1"}
                                    << "--reject-page: '-1' is not a module page (0..127)";

    const QString drop = "is not K:M with a module page K (0..127) and a count M";
    QTest::newRow("drop page reply without a count")
        << QStringList{"--drop-page-reply", "5"} << "--drop-page-reply: '5' " + drop;
    QTest::newRow("drop page reply with three parts")
        << QStringList{"--drop-page-reply", "5:1:2"} << "--drop-page-reply: '5:1:2' " + drop;
    QTest::newRow("drop page reply for page 128")
        << QStringList{"--drop-page-reply", "128:1"} << "--drop-page-reply: '128' " + drop;
    QTest::newRow("drop page reply count 1000001")
        << QStringList{"--drop-page-reply", "5:1000001"} << "--drop-page-reply: '1000001' " + drop;
    QTest::newRow("drop page reply count empty")
        << QStringList{"--drop-page-reply", "5:"} << "--drop-page-reply: '' " + drop;

    QTest::newRow("close after page 128")
        << QStringList{"--close-after-page", "128"} << "--close-after-page: '128' is not a module page (0..127)";

    const QString time = "is not a time in ms (0..600000)";
    QTest::newRow("reply delay 600001") << QStringList{"--reply-delay", "600001"} << "--reply-delay: '600001' " + time;
    QTest::newRow("reply delay -1") << QStringList{"--reply-delay", "-1"} << "--reply-delay: '-1' " + time;
    QTest::newRow("realistic takes no value")
        << QStringList{"--realistic=1"} << "Unexpected value after '--realistic'.";
    QTest::newRow("page write 600001") << QStringList{"--page-write-ms", "600001"}
                                       << "--page-write-ms: '600001' " + time;
    QTest::newRow("erase not a number") << QStringList{"--erase-ms", "slow"} << "--erase-ms: 'slow' " + time;
    QTest::newRow("font page write -5") << QStringList{"--font-page-write-ms", "-5"}
                                        << "--font-page-write-ms: '-5' " + time;
    QTest::newRow("lock delay 1.5") << QStringList{"--lock-delay", "1.5"} << "--lock-delay: '1.5' " + time;
    QTest::newRow("coalesce lock takes no value")
        << QStringList{"--coalesce-lock=yes"} << "Unexpected value after '--coalesce-lock'.";

    QTest::newRow("flash out without a name") << QStringList{"--flash-out="} << "--flash-out: '' is not a file name";
    QTest::newRow("flash out missing") << QStringList{"--flash-out"} << "Missing value after '--flash-out'.";

    const QString fontPage = "is not a font page (0..32767)";
    QTest::newRow("corrupt font page 32768")
        << QStringList{"--corrupt-font-page", "32768"} << "--corrupt-font-page: '32768' " + fontPage;
    QTest::newRow("reject font page 0x8000")
        << QStringList{"--reject-font-page", "0x8000"} << "--reject-font-page: '0x8000' " + fontPage;
    QTest::newRow("drop font page reply -1")
        << QStringList{"--drop-font-page-reply", "-1"} << "--drop-font-page-reply: '-1' " + fontPage;

    QTest::newRow("silent check -1") << QStringList{"--silent-check", "-1"}
                                     << "--silent-check: '-1' is not a count (0..1000000)";
    QTest::newRow("lower-case check takes no value")
        << QStringList{"--lower-case-check=1"} << "Unexpected value after '--lower-case-check'.";

    const QString late = "is not P:MS with a module page P (0..127) and a time in ms (0..600000)";
    QTest::newRow("late page reply without a time")
        << QStringList{"--late-page-reply", "5"} << "--late-page-reply: '5' " + late;
    QTest::newRow("late page reply for page 128")
        << QStringList{"--late-page-reply", "128:10"} << "--late-page-reply: '128' " + late;
    QTest::newRow("late page reply 600001 ms")
        << QStringList{"--late-page-reply", "5:600001"} << "--late-page-reply: '600001' " + late;
    QTest::newRow("late page reply with three parts")
        << QStringList{"--late-page-reply", "5:1:2"} << "--late-page-reply: '5:1:2' " + late;
    QTest::newRow("late page reply negative time")
        << QStringList{"--late-page-reply", "5:-1"} << "--late-page-reply: '-1' " + late;

    const QString frame = "is not a frame number (1..1000000)";
    QTest::newRow("lose frame 0") << QStringList{"--lose-frame", "0"} << "--lose-frame: '0' " + frame;
    QTest::newRow("lose frame 1000001") << QStringList{"--lose-frame", "1000001"} << "--lose-frame: '1000001' " + frame;
    QTest::newRow("lose frame not a number")
        << QStringList{"--lose-frame", "2", "--lose-frame", "next"} << "--lose-frame: 'next' " + frame;
    QTest::newRow("lose frame missing") << QStringList{"--lose-frame"} << "Missing value after '--lose-frame'.";

    QTest::newRow("transcript takes no value")
        << QStringList{"--transcript=on"} << "Unexpected value after '--transcript'.";
}

void TestOptions::refused()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    QCOMPARE(QString::fromStdString(ParseCommandLine(Args(args)).error), error);
}

void TestOptions::helpListsEveryOption()
{
    const QString help = QString::fromStdString(HelpText("modburn-devsim"));
    QVERIFY(help.startsWith("Usage: modburn-devsim [options]\n"));
    QStringList listed;
    for (const QString& line : help.split('\n')) {
        if (line.startsWith("  -"))
            listed << line.mid(2).section("  ", 0, 0);
    }
    QCOMPARE(listed, AllOptions);
    // The help's own numbers come from the defaults.
    QVERIFY(help.contains("(default 4001; 0 picks a"));
    QVERIFY(help.contains("(default\n                              AF,DC,CC)."));
    QVERIFY(help.contains("(default 20)."));
    QVERIFY(help.contains("page write 5 ms, erase 10\n                              ms, font page 3 ms"));
}

void TestOptions::helpFitsTheTerminal()
{
    for (const QString& line : QString::fromStdString(HelpText("modburn-devsim")).split('\n'))
        QVERIFY2(line.size() <= 79, qPrintable(line));
}

QTEST_GUILESS_MAIN(TestOptions)
#include "tst_devsim_options.moc"
