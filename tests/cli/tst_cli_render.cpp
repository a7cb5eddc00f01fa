// The console's output without sockets: JSON lines parsed back, plain lines
// with their progress rule, the summary table and the terminal's board as the
// bytes a terminal gets.

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

const QString Dev = QStringLiteral("127.0.0.1:4001");
const Locks Good{0xAF, 0xDC, 0xCC};
const RunRecord Record{QStringLiteral("1.2.3"), QStringLiteral("9f86d081"), 8192, QStringLiteral("ihex"),
                       QStringLiteral("5e884898")};
// When the reporters below see an event.
const QDateTime Seen(QDate(2026, 12, 8), QTime(18, 53, 18, 123), QTimeZone::utc());

Event Make(EventKind kind, const QString& device = Dev, const QString& message = QString())
{
    Event event;
    event.kind = kind;
    event.device = device;
    event.message = message;
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
    Event event = Make(EventKind::End, device, message);
    event.verdict = verdict;
    event.locks = locks;
    event.elapsedMs = ms;
    return event;
}

Writer Into(QByteArray& bytes)
{
    return [&bytes](const QByteArray& more) { bytes += more; };
}

QJsonObject Parse(const QByteArray& line)
{
    return QJsonDocument::fromJson(line).object();
}

}  // namespace

class CliRenderTest : public QObject {
    Q_OBJECT
private slots:
    void jsonLine_data();
    void jsonLine();
    void jsonTimesComeFromTheClockOnStartAndSummary();
    void plainLines_data();
    void plainLines();
    void summaryTableAlignsWideText();
    void terminalBoard_data();
    void terminalBoard();
    void terminalRedrawsInPlaceOnlyWhenSomethingChanged();
};

void CliRenderTest::jsonLine_data()
{
    QTest::addColumn<Event>("event");
    QTest::addColumn<RunRecord>("record");
    QTest::addColumn<QDateTime>("at");
    QTest::addColumn<QString>("set");  // the keys that are not null
    Event status = Make(EventKind::Status, Dev, run::msg::PageRejected(5));
    status.page = 5;
    status.percent = 3;
    status.elapsedMs = 1234;
    QTest::newRow("status keeps the designed text with its CR LF, no record")
        << status << Record << Seen
        << QStringLiteral(R"({"device":"127.0.0.1:4001","elapsed_ms":1234,"event":"status",)"
                          R"("message":"  \r\n  \r\n        烧录出错!\r\n         5","page":5,"percent":3})");
    QTest::newRow("lock bytes with leading zeros")
        << End(Dev, Verdict::Failed, Locks{0x00, 0xDC, 0x0C}, "x", 1) << Record << Seen
        << QStringLiteral(R"({"device":"127.0.0.1:4001","elapsed_ms":1,"event":"end","locks":"00 DC 0C",)"
                          R"("message":"x","verdict":"failed"})");
    Event start = Make(EventKind::Start, Dev, "127.0.0.1 port 4001");
    start.elapsedMs = 3;
    QTest::newRow("start carries the record and when the device started")
        << start << Record << Seen
        << QStringLiteral(
               R"({"device":"127.0.0.1:4001","elapsed_ms":3,"event":"start","message":"127.0.0.1 port 4001",)"
               R"("version":"1.2.3","image_sha256":"9f86d081","image_bytes":8192,"image_format":"ihex",)"
               R"("file_sha256":"5e884898",)"
               R"("started_at":"2026-12-08T18:53:18.120Z"})");
    Event summary = Make(EventKind::Summary, {}, "5 devices");
    summary.verdict = Verdict::GaveUp;
    summary.elapsedMs = 4000;
    QTest::newRow("a font operation's summary: no device, no image, both times in UTC across midnight")
        << summary << RunRecord{"1.2.3", {}, {}, {}, {}}
        << QDateTime(QDate(2026, 12, 9), QTime(2, 0, 1, 500), QTimeZone(8 * 3600))
        << QStringLiteral(R"({"elapsed_ms":4000,"event":"summary","message":"5 devices","verdict":"gave-up",)"
                          R"("version":"1.2.3","started_at":"2026-12-08T17:59:57.500Z",)"
                          R"("finished_at":"2026-12-08T18:00:01.500Z"})");
}

void CliRenderTest::jsonLine()
{
    QFETCH(Event, event);
    QFETCH(RunRecord, record);
    QFETCH(QDateTime, at);
    QFETCH(QString, set);
    const QByteArray line = JsonLine(event, record, at);
    QVERIFY(!line.contains('\n'));
    const QStringList keys{"device",      "elapsed_ms",   "event",        "file_sha256", "finished_at",
                           "image_bytes", "image_format", "image_sha256", "locks",       "message",
                           "page",        "percent",      "started_at",   "verdict",     "version"};
    QCOMPARE(Parse(line).keys(), keys);
    QJsonObject want = Parse(set.toUtf8());
    QVERIFY(!want.isEmpty());
    for (const QString& key : keys) {
        if (!want.contains(key))
            want.insert(key, QJsonValue::Null);
    }
    QCOMPARE(Parse(line), want);
}

void CliRenderTest::jsonTimesComeFromTheClockOnStartAndSummary()
{
    QByteArray out;
    QByteArray err;
    int reads = 0;
    Reporter reporter(OutputMode::Json, Into(out), Into(err), {}, Record, [&] { return Seen.addSecs(++reads); });
    reporter.OnEvent(Make(EventKind::Start));
    reporter.OnEvent(Progress(Dev, 0, 0));
    reporter.Finish({}, Make(EventKind::Summary, {}));
    const QList<QByteArray> lines = out.split('\n');
    QCOMPARE(lines.size(), 4);  // the last one empty
    QCOMPARE(Parse(lines[0]).value("started_at"), QStringLiteral("2026-12-08T18:53:19.123Z"));
    QCOMPARE(Parse(lines[2]).value("finished_at"), QStringLiteral("2026-12-08T18:53:20.123Z"));
    QCOMPARE(reads, 2);
    // The table goes to stderr, so that stdout holds JSON lines only.
    QVERIFY(err.startsWith("DEVICE"));
}

void CliRenderTest::plainLines_data()
{
    QTest::addColumn<QList<Event>>("events");
    QTest::addColumn<QStringList>("lines");
    QList<Event> font;
    QStringList tenths;
    for (int percent = 0; percent <= 100; percent += 5) {
        font << Progress(Dev, percent, percent);
        if (percent % 10 == 0)
            tenths << QStringLiteral("127.0.0.1:4001 page %1 %1%").arg(percent);
    }
    QTest::newRow("without status texts, a line at each tenth of the way") << font << tenths;
    QTest::newRow("a run says its progress in its status texts")
        << QList<Event>{Make(EventKind::Status, Dev, run::msg::PageAccepted(0)), Progress(Dev, 0, 0),
                        Progress(Dev, 13, 10)}
        << QStringList{"127.0.0.1:4001 烧录成功! / 0%"};
    QTest::newRow("a designed text on one line, its blank lines dropped")
        << QList<Event>{Make(EventKind::Status, Dev, run::msg::PageRejected(5))}
        << QStringList{"127.0.0.1:4001 烧录出错! / 5"};
    QTest::newRow("blank texts and the summary have no line")
        << QList<Event>{Make(EventKind::Status, Dev, " "), Make(EventKind::Summary, {})} << QStringList{};
}

void CliRenderTest::plainLines()
{
    QFETCH(QList<Event>, events);
    QFETCH(QStringList, lines);
    QByteArray out;
    Reporter reporter(OutputMode::Plain, Into(out));
    for (const Event& event : events)
        reporter.OnEvent(event);
    QString expected;
    for (const QString& line : lines)
        expected += line + u'\n';
    QCOMPARE(QString::fromUtf8(out), expected);
}

void CliRenderTest::summaryTableAlignsWideText()
{
    const QString table = SummaryTable({End("10.0.0.1:40001", Verdict::Programmed, Good, "done", 1712),
                                        End("烧录机:1", Verdict::Error, std::nullopt, "unreachable", 5003),
                                        End("h:1", Verdict::GaveUp, std::nullopt, {}, 4000)},
                                       Record);
    QCOMPARE(table, QStringLiteral("DEVICE          VERDICT     LOCKS     TIME   DETAIL\n"
                                   "10.0.0.1:40001  programmed  AF DC CC  1.7 s  done\n"
                                   "烧录机:1        error       -         5.0 s  unreachable\n"
                                   "h:1             gave-up     -         4.0 s  -\n"
                                   "image: 8192 bytes, sha256 9f86d081\n"));
    // No image line where no image was sent.
    QCOMPARE(SummaryTable({}, RunRecord{"1.2.3", {}, {}, {}, {}}),
             QStringLiteral("DEVICE  VERDICT  LOCKS  TIME  DETAIL\n"));
}

void CliRenderTest::terminalBoard_data()
{
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QStringList>("lines");
    const QString first = QStringLiteral("10.0.0.1:4001  programming    page    64   50% [##########..........]");
    QTest::newRow("a line a device, wide text by its cells")
        << 80 << 24
        << QStringList{first, "烧录机:1       waiting          HZ16S     下载中 ...",
                       "10.0.0.3:4001  failed         AF DC CC  1.7 s  page 5 refused"};
    QTest::newRow("cut to the width, never inside a wide character")
        << 44 << 24
        << QStringList{"10.0.0.1:4001  programming    page    64", "烧录机:1       waiting          HZ16S",
                       "10.0.0.3:4001  failed         AF DC CC  1.7"};
    QTest::newRow("more devices than rows: the last line counts the rest")
        << 80 << 3 << QStringList{first, "... and 2 more devices: 1 done, 1 running"};
    QTest::newRow("one row: only the count") << 80 << 2 << QStringList{"... and 3 more devices: 1 done, 2 running"};
}

void CliRenderTest::terminalBoard()
{
    QFETCH(int, columns);
    QFETCH(int, rows);
    QFETCH(QStringList, lines);
    QByteArray out;
    Reporter reporter(OutputMode::Terminal, Into(out), {}, [&] { return TerminalSize{columns, rows}; });
    Event status = Make(EventKind::Status, "10.0.0.1:4001", run::msg::PageAccepted(64));
    status.phase = run::Step::PageAccepted;
    reporter.OnEvent(status);
    reporter.OnEvent(Progress("10.0.0.1:4001", 64, 50));
    reporter.OnEvent(Make(EventKind::Caption, "烧录机:1", "HZ16S     下载中 ..."));
    reporter.OnEvent(End("10.0.0.3:4001", Verdict::Failed, Good, "page 5 refused", 1712));
    reporter.Tick();
    QByteArray frame;  // the first drawing: no lines to go back over
    for (const QString& line : lines)
        frame += "\x1b[2K" + line.toUtf8() + '\n';
    QCOMPARE(out, frame);
}

void CliRenderTest::terminalRedrawsInPlaceOnlyWhenSomethingChanged()
{
    QByteArray out;
    TerminalSize size{60, 10};
    Reporter reporter(OutputMode::Terminal, Into(out), {}, [&] { return size; });
    reporter.Begin({"a:1", "b:1", "c:1"});
    QCOMPARE(out, QByteArray("\x1b[2Ka:1  waiting\n\x1b[2Kb:1  waiting\n\x1b[2Kc:1  waiting\n"));
    out.clear();
    reporter.Tick();
    QVERIFY(out.isEmpty());
    reporter.OnEvent(Progress("c:1", 64, 50));
    QVERIFY(out.isEmpty());  // events only mark the lines; a tick draws them
    size.rows = 3;
    reporter.Tick();
    // Back up over the old frame, every line cleared and written, what is left of the old one cleared.
    QCOMPARE(out, QByteArray("\r\x1b[3A\x1b[2Ka:1  waiting\n\x1b[2K... and 2 more devices: 0 done, 2 running\n\x1b[J"));
}

QTEST_GUILESS_MAIN(CliRenderTest)
#include "tst_cli_render.moc"
