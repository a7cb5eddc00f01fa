// The console's output without sockets: status texts read into phases, JSON
// lines parsed back, plain lines, the summary table and the terminal lines.

#include "cli/events.h"
#include "cli/render.h"
#include "run/windowview.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <QtTest>

using namespace modburn;
using namespace modburn::cli;

Q_DECLARE_METATYPE(modburn::cli::Event)
Q_DECLARE_METATYPE(modburn::cli::RunRecord)

namespace {

const QString CrLf = QStringLiteral("\r\n");
const Locks Good{0xAF, 0xDC, 0xCC};
const QString Sha = QStringLiteral("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
const RunRecord Record{QStringLiteral("1.2.3"), Sha, 8192};
const RunRecord FontRecord{QStringLiteral("1.2.3"), {}, {}};
// When the reporters below see an event.
const QDateTime Seen(QDate(2026, 12, 8), QTime(18, 53, 18, 123), QTimeZone::utc());
// The keys only start and summary lines fill.
const QStringList RecordKeys{"finished_at", "image_bytes", "image_sha256", "started_at", "version"};

Event Make(EventKind kind, const QString& device = QStringLiteral("127.0.0.1:4001"))
{
    Event event;
    event.kind = kind;
    event.device = device;
    return event;
}

Event Progress(const QString& device, int page, int percent)
{
    Event event = Make(EventKind::Progress, device);
    event.page = page;
    event.percent = percent;
    return event;
}

Event End(const QString& device, Verdict verdict, std::optional<Locks> locks, const QString& message, qint64 ms)
{
    Event event = Make(EventKind::End, device);
    event.verdict = verdict;
    event.locks = locks;
    event.message = message;
    event.elapsedMs = ms;
    return event;
}

QJsonObject Parse(const QByteArray& line)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {};
    return document.object();
}

}  // namespace

class CliRenderTest : public QObject {
    Q_OBJECT
private slots:
    void oneLine_data();
    void oneLine();
    void jsonLine_data();
    void jsonLine();
    void plainLine_data();
    void plainLine();
    void summaryTableLinesUpItsColumns();
    void displayWidth_data();
    void displayWidth();
    void boardLines_data();
    void boardLines();
    void redrawSequence_data();
    void redrawSequence();
    void reporters_data();
    void reporters();
    void terminalRedrawsOnlyWhenSomethingChanged();
};

void CliRenderTest::oneLine_data()
{
    QTest::addColumn<QString>("designed");
    QTest::addColumn<QString>("line");
    QTest::newRow("page accepted") << run::msg::PageAccepted(64) << QStringLiteral("烧录成功! / 50%");
    QTest::newRow("page refused, blank lines dropped") << run::msg::PageRejected(5) << QStringLiteral("烧录出错! / 5");
    QTest::newRow("lock bytes good") << run::msg::LocksGood(Good)
                                     << QStringLiteral("模块编程完毕! / Lock1:AF  Lock2:DC  Lock3:CC");
    QTest::newRow("lock bytes bad") << run::msg::LocksBad(Good)
                                    << QStringLiteral("模块编程出错! / Lock1:AF / Lock2:DC / Lock3:CC");
    QTest::newRow("blank start text") << QStringLiteral(" ") << QString();
    QTest::newRow("appended to the blank start")
        << QStringLiteral("   ") + CrLf + run::msg::BurnEnabled << QStringLiteral("烧录使能!");
    QTest::newRow("lone CR and LF") << QStringLiteral("a\rb\nc") << QStringLiteral("a / b / c");
}

void CliRenderTest::oneLine()
{
    QFETCH(QString, designed);
    QFETCH(QString, line);
    QCOMPARE(OneLine(designed), line);
}

void CliRenderTest::jsonLine_data()
{
    QTest::addColumn<Event>("event");
    QTest::addColumn<RunRecord>("record");
    QTest::addColumn<QDateTime>("at");
    // The object as compact JSON with keys in order; record keys left out are null.
    QTest::addColumn<QString>("expected");
    Event status = Make(EventKind::Status);
    status.message = run::msg::PageRejected(5);
    status.page = 5;
    status.percent = 3;
    status.elapsedMs = 1234;
    QTest::newRow("status keeps the designed text with its CR LF")
        << status << Record << Seen
        << QStringLiteral(
               R"({"device":"127.0.0.1:4001","elapsed_ms":1234,"event":"status","locks":null,)"
               R"("message":"  \r\n  \r\n        烧录出错!\r\n         5","page":5,"percent":3,"verdict":null})");
    QTest::newRow("progress") << Progress(QStringLiteral("[::1]:4001"), 64, 50) << Record << Seen
                              << QStringLiteral(
                                     R"({"device":"[::1]:4001","elapsed_ms":0,"event":"progress","locks":null,)"
                                     R"("message":null,"page":64,"percent":50,"verdict":null})");
    QTest::newRow("programmed")
        << End(QStringLiteral("d:1"), Verdict::Programmed, Good, QStringLiteral("lock bytes AF DC CC"), 1700) << Record
        << Seen
        << QStringLiteral(R"({"device":"d:1","elapsed_ms":1700,"event":"end","locks":"AF DC CC",)"
                          R"("message":"lock bytes AF DC CC","page":null,"percent":null,"verdict":"programmed"})");
    QTest::newRow("lock bytes with leading zeros")
        << End(QStringLiteral("d:1"), Verdict::Failed, Locks{0x00, 0xDC, 0x0C}, QStringLiteral("x"), 1) << Record
        << Seen
        << QStringLiteral(R"({"device":"d:1","elapsed_ms":1,"event":"end","locks":"00 DC 0C",)"
                          R"("message":"x","page":null,"percent":null,"verdict":"failed"})");
    QTest::newRow("unreachable") << End(QStringLiteral("d:1"), Verdict::Error, std::nullopt,
                                        QStringLiteral("unreachable"), 5000)
                                 << Record << Seen
                                 << QStringLiteral(
                                        R"({"device":"d:1","elapsed_ms":5000,"event":"end","locks":null,)"
                                        R"("message":"unreachable","page":null,"percent":null,"verdict":"error"})");
    Event summary = Make(EventKind::Summary);
    summary.verdict = Verdict::GaveUp;
    summary.message = QStringLiteral("5 devices");
    summary.elapsedMs = 4000;
    QTest::newRow("summary has no device")
        << summary << Record << Seen
        << QStringLiteral(
               R"({"device":null,"elapsed_ms":4000,"event":"summary","locks":null,)"
               R"("message":"5 devices","page":null,"percent":null,"verdict":"gave-up",)"
               R"("version":"1.2.3","image_sha256":"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08",)"
               R"("image_bytes":8192,"started_at":"2026-12-08T18:53:14.123Z",)"
               R"("finished_at":"2026-12-08T18:53:18.123Z"})");
    Event start = Make(EventKind::Start);
    start.message = QStringLiteral("127.0.0.1 port 4001");
    start.elapsedMs = 3;
    QTest::newRow("start carries the image, the version and when the device started")
        << start << Record << Seen
        << QStringLiteral(
               R"({"device":"127.0.0.1:4001","elapsed_ms":3,"event":"start","locks":null,)"
               R"("message":"127.0.0.1 port 4001","page":null,"percent":null,"verdict":null,)"
               R"("version":"1.2.3","image_sha256":"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08",)"
               R"("image_bytes":8192,"started_at":"2026-12-08T18:53:18.120Z"})");
    QTest::newRow("a font operation's start, on a clock ahead of UTC across midnight")
        << start << FontRecord << QDateTime(QDate(2026, 12, 9), QTime(2, 0, 1, 500), QTimeZone(8 * 3600))
        << QStringLiteral(R"({"device":"127.0.0.1:4001","elapsed_ms":3,"event":"start","locks":null,)"
                          R"("message":"127.0.0.1 port 4001","page":null,"percent":null,"verdict":null,)"
                          R"("version":"1.2.3","started_at":"2026-12-08T18:00:01.497Z"})");
}

void CliRenderTest::jsonLine()
{
    QFETCH(Event, event);
    QFETCH(RunRecord, record);
    QFETCH(QDateTime, at);
    QFETCH(QString, expected);
    const QByteArray line = JsonLine(event, record, at);
    QVERIFY(!line.contains('\n'));
    const QJsonObject object = Parse(line);
    QCOMPARE(object.keys(), (QStringList{"device", "elapsed_ms", "event", "finished_at", "image_bytes", "image_sha256",
                                         "locks", "message", "page", "percent", "started_at", "verdict", "version"}));
    QJsonObject want = Parse(expected.toUtf8());
    QVERIFY(!want.isEmpty());
    for (const QString& key : RecordKeys) {
        if (!want.contains(key))
            want.insert(key, QJsonValue::Null);
    }
    QCOMPARE(object, want);
    // The designed text comes back byte for byte.
    if (event.kind == EventKind::Status)
        QCOMPARE(object.value(QStringLiteral("message")).toString(), event.message);
}

void CliRenderTest::plainLine_data()
{
    QTest::addColumn<Event>("event");
    QTest::addColumn<QString>("line");
    const QString dev = QStringLiteral("127.0.0.1:4001");
    Event start = Make(EventKind::Start);
    start.message = QStringLiteral("127.0.0.1 port 4001");
    QTest::newRow("start") << start << QStringLiteral("127.0.0.1:4001 start: 127.0.0.1 port 4001");
    Event status = Make(EventKind::Status);
    status.message = run::msg::PageAccepted(2);
    QTest::newRow("status on one line") << status << QStringLiteral("127.0.0.1:4001 烧录成功! / 1%");
    Event blank = Make(EventKind::Status);
    blank.message = QStringLiteral(" ");
    QTest::newRow("blank status has no line") << blank << QString();
    Event panel = Make(EventKind::Panel);
    panel.message = QStringLiteral(" 串口无效");
    QTest::newRow("status bar") << panel << QStringLiteral("127.0.0.1:4001 status bar: 串口无效");
    Event caption = Make(EventKind::Caption);
    caption.message = QStringLiteral("HZ16S     下载完成   校验成功");
    QTest::newRow("caption") << caption << QStringLiteral("127.0.0.1:4001 HZ16S     下载完成   校验成功");
    QTest::newRow("end") << End(dev, Verdict::Failed, Good, QStringLiteral("page 5 refused"), 1650)
                         << QStringLiteral("127.0.0.1:4001 failed: page 5 refused (1.6 s)");
    QTest::newRow("summary has no line") << Make(EventKind::Summary) << QString();
}

void CliRenderTest::plainLine()
{
    QFETCH(Event, event);
    QFETCH(QString, line);
    QCOMPARE(PlainLine(event), line);
}

void CliRenderTest::summaryTableLinesUpItsColumns()
{
    const QString table = SummaryTable({
        End(QStringLiteral("127.0.0.1:40001"), Verdict::Programmed, Good, QStringLiteral("lock bytes AF DC CC"), 1712),
        End(QStringLiteral("[::1]:4001"), Verdict::Error, std::nullopt, QStringLiteral("unreachable"), 5003),
        End(QStringLiteral("h:1"), Verdict::GaveUp, std::nullopt, QString(), 4000),
    });
    const QStringList lines = table.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[0].startsWith(QStringLiteral("DEVICE")));
    for (const QString& column :
         {QStringLiteral("VERDICT"), QStringLiteral("LOCKS"), QStringLiteral("TIME"), QStringLiteral("DETAIL")}) {
        const qsizetype at = lines[0].indexOf(column);
        QVERIFY(at > 0);
        for (const QString& line : lines.mid(1))
            QCOMPARE(line.at(at - 1), u' ');  // every cell starts where its heading does
    }
    QCOMPARE(lines[1].simplified(), QStringLiteral("127.0.0.1:40001 programmed AF DC CC 1.7 s lock bytes AF DC CC"));
    QCOMPARE(lines[2].simplified(), QStringLiteral("[::1]:4001 error - 5.0 s unreachable"));
    QCOMPARE(lines[3].simplified(), QStringLiteral("h:1 gave-up - 4.0 s -"));

    // With the image that went out, its digest follows the rows.
    const QStringList recorded =
        SummaryTable({End(QStringLiteral("h:1"), Verdict::Programmed, Good, QString(), 1700)}, Record)
            .split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(recorded.size(), 3);
    QCOMPARE(recorded[2], QStringLiteral("image: 8192 bytes, sha256 ") + Sha);
    QCOMPARE(SummaryTable({}, FontRecord).split(u'\n', Qt::SkipEmptyParts).size(), 1);
}

void CliRenderTest::displayWidth_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("fitIn");
    QTest::addColumn<QString>("fitted");
    QTest::newRow("ASCII") << QStringLiteral("abc") << 3 << 2 << QStringLiteral("ab");
    QTest::newRow("CJK takes two cells") << QStringLiteral("烧录成功!") << 9 << 5 << QStringLiteral("烧录");
    QTest::newRow("a wide character is never split") << QStringLiteral("a烧") << 3 << 2 << QStringLiteral("a");
    QTest::newRow("full-width digits") << QStringLiteral("４０") << 4 << 4 << QStringLiteral("４０");
    QTest::newRow("empty") << QString() << 0 << 5 << QString();
}

void CliRenderTest::displayWidth()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(int, fitIn);
    QFETCH(QString, fitted);
    QCOMPARE(DisplayWidth(text), width);
    QCOMPARE(FitWidth(text, fitIn), fitted);
}

void CliRenderTest::boardLines_data()
{
    QTest::addColumn<int>("devices");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("lines");
    QTest::addColumn<QString>("last");  // the start of the last line
    QTest::newRow("three devices fit") << 3 << 120 << 24 << 3 << QStringLiteral("10.0.0.3:4001  programmed");
    QTest::newRow("narrow terminal cuts lines") << 3 << 30 << 24 << 3 << QStringLiteral("10.0.0.3:4001  programmed");
    QTest::newRow("more devices than rows")
        << 64 << 120 << 10 << 9 << QStringLiteral("... and 56 more devices: 1 done, 55 running");
    QTest::newRow("one row only") << 5 << 80 << 2 << 1 << QStringLiteral("... and 5 more devices");
}

void CliRenderTest::boardLines()
{
    QFETCH(int, devices);
    QFETCH(int, columns);
    QFETCH(int, rows);
    QFETCH(int, lines);
    QFETCH(QString, last);
    ProgressBoard board;
    for (int i = 1; i <= devices; ++i)
        board.Add(QStringLiteral("10.0.0.%1:4001").arg(i));
    Event status = Make(EventKind::Status, QStringLiteral("10.0.0.1:4001"));
    status.phase = run::Step::PageAccepted;
    status.message = run::msg::PageAccepted(64);
    board.Apply(status);
    board.Apply(Progress(QStringLiteral("10.0.0.1:4001"), 64, 50));
    Event caption = Make(EventKind::Caption, QStringLiteral("10.0.0.2:4001"));
    caption.message = QStringLiteral("HZ16S     下载中 ...");
    board.Apply(caption);
    const QString done = QStringLiteral("10.0.0.%1:4001").arg(devices);
    board.Apply(End(done, Verdict::Programmed, Good, QStringLiteral("lock bytes AF DC CC"), 1712));

    const QStringList shown = board.Lines(columns, rows);
    QCOMPARE(shown.size(), lines);
    for (const QString& line : shown)
        QVERIFY2(DisplayWidth(line) <= columns - 1, qPrintable(line));
    QVERIFY2(shown.last().startsWith(last.left(columns - 1)), qPrintable(shown.last()));
    if (lines > 1 && columns >= 80) {
        QCOMPARE(shown[0].simplified(), QStringLiteral("10.0.0.1:4001 programming page 64 50% [##########..........]"));
        QVERIFY(shown[1].endsWith(QStringLiteral("HZ16S     下载中 ...")));
    }
}

void CliRenderTest::redrawSequence_data()
{
    QTest::addColumn<int>("previous");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("first drawing") << 0 << QStringList{"a", "b"} << QByteArray("\x1b[2Ka\n\x1b[2Kb\n");
    QTest::newRow("over two lines") << 2 << QStringList{"a", "b"} << QByteArray("\r\x1b[2A\x1b[2Ka\n\x1b[2Kb\n");
    QTest::newRow("a device more") << 1 << QStringList{"a", "b"} << QByteArray("\r\x1b[1A\x1b[2Ka\n\x1b[2Kb\n");
    QTest::newRow("fewer lines clear the rest") << 3 << QStringList{"a"} << QByteArray("\r\x1b[3A\x1b[2Ka\n\x1b[J");
    QTest::newRow("UTF-8") << 0 << QStringList{"烧"} << QByteArray("\x1b[2K\xe7\x83\xa7\n");
}

void CliRenderTest::redrawSequence()
{
    QFETCH(int, previous);
    QFETCH(QStringList, lines);
    QFETCH(QByteArray, expected);
    QCOMPARE(RedrawSequence(previous, lines), expected);
}

void CliRenderTest::reporters_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("outLines");  // lines on stdout
    QTest::addColumn<bool>("tableOnErr");
    // Fed: a run's start, one status, 6 progress events and its end; a font
    // operation's 21 progress events, 0% to 100% by fives.
    QTest::newRow("JSON: every event, then the summary; the table on stderr")
        << int(OutputMode::Json) << 1 + 1 + 6 + 21 + 1 + 1 << true;
    QTest::newRow("plain: status lines, progress by tenths only without them, then the table and the image")
        << int(OutputMode::Plain) << 1 + 1 + 11 + 1 + 4 << false;
}

void CliRenderTest::reporters()
{
    QFETCH(int, mode);
    QFETCH(int, outLines);
    QFETCH(bool, tableOnErr);
    QByteArray out;
    QByteArray err;
    int clockReads = 0;
    Reporter reporter(
        static_cast<OutputMode>(mode), [&](const QByteArray& b) { out += b; }, [&](const QByteArray& b) { err += b; },
        {}, Record,
        [&] {
            ++clockReads;
            return Seen.addSecs(clockReads);  // a second later at every reading
        });
    const QString run = QStringLiteral("10.0.0.1:4001");
    const QString font = QStringLiteral("10.0.0.2:4001");
    reporter.Begin({run, font});
    Event start = Make(EventKind::Start, run);
    start.message = QStringLiteral("10.0.0.1 port 4001");
    reporter.OnEvent(start);
    Event status = Make(EventKind::Status, run);
    status.message = run::msg::PageAccepted(0);
    reporter.OnEvent(status);
    for (int page = 0; page < 6; ++page)
        reporter.OnEvent(Progress(run, page, page * 100 / 128));
    for (int step = 0; step <= 20; ++step)
        reporter.OnEvent(Progress(font, 100 + step, step * 5));
    const Event end = End(run, Verdict::Programmed, Good, QStringLiteral("lock bytes AF DC CC"), 10);
    reporter.OnEvent(end);
    Event summary = Make(EventKind::Summary, QString());
    summary.verdict = Verdict::Programmed;
    summary.elapsedMs = 1500;
    reporter.Finish({end}, summary);

    QVERIFY(out.endsWith('\n'));
    const QList<QByteArray> lines = out.chopped(1).split('\n');
    QCOMPARE(lines.size(), outLines);
    QCOMPARE(!err.isEmpty(), tableOnErr);
    if (mode == int(OutputMode::Json)) {
        for (const QByteArray& line : lines)
            QVERIFY2(!Parse(line).isEmpty(), line.constData());
        // The start line has the clock when it came; the summary when the command ended.
        QCOMPARE(Parse(lines.first()).value(QStringLiteral("started_at")).toString(),
                 QStringLiteral("2026-12-08T18:53:19.123Z"));
        const QJsonObject last = Parse(lines.last());
        QCOMPARE(last.value(QStringLiteral("event")).toString(), QStringLiteral("summary"));
        QCOMPARE(last.value(QStringLiteral("finished_at")).toString(), QStringLiteral("2026-12-08T18:53:20.123Z"));
        QCOMPARE(clockReads, 2);
        QVERIFY(err.startsWith("DEVICE"));
        QVERIFY(err.endsWith(("image: 8192 bytes, sha256 " + Sha + u'\n').toUtf8()));
    } else {
        QCOMPARE(lines[2], QByteArray("10.0.0.2:4001 page 100 0%"));
        QCOMPARE(lines[3], QByteArray("10.0.0.2:4001 page 102 10%"));
        QVERIFY(lines[lines.size() - 3].startsWith("DEVICE"));
        QCOMPARE(lines.last(), ("image: 8192 bytes, sha256 " + Sha).toUtf8());
    }
}

void CliRenderTest::terminalRedrawsOnlyWhenSomethingChanged()
{
    QByteArray out;
    Reporter reporter(
        OutputMode::Terminal, [&](const QByteArray& b) { out += b; }, {},
        [] {
            return TerminalSize{60, 10};
        });
    reporter.Begin({QStringLiteral("a:1"), QStringLiteral("b:1")});
    QCOMPARE(out, QByteArray("\x1b[2Ka:1  waiting\n\x1b[2Kb:1  waiting\n"));
    out.clear();
    reporter.Tick();
    QVERIFY(out.isEmpty());
    reporter.OnEvent(Progress(QStringLiteral("b:1"), 64, 50));
    reporter.OnEvent(Progress(QStringLiteral("b:1"), 65, 50));
    QVERIFY(out.isEmpty());  // events only mark the lines; a tick draws them
    reporter.Tick();
    QVERIFY(out.startsWith("\r\x1b[2A"));
    QCOMPARE(out.count("\x1b[2K"), 2);
    QVERIFY(out.contains("page    65"));
    out.clear();
    reporter.Tick();
    QVERIFY(out.isEmpty());
}

QTEST_GUILESS_MAIN(CliRenderTest)
#include "tst_cli_render.moc"
