// One device worker of the console, driving the real run and font code on
// the fake platform with the simulated device, on a virtual clock.

#include "fakedevice.h"
#include "fakelink.h"
#include "fakeplatform.h"

#include "cli/session.h"
#include "run/run.h"
#include "run/windowview.h"

#include <QtTest>

#include <memory>

using namespace modburn;
using namespace modburn::cli;
using namespace modburn::fake;

Q_DECLARE_METATYPE(modburn::cli::Verdict)

namespace {

const QString ImagePath = QStringLiteral("/images/firmware-7.bin");
const Target Device{QStringLiteral("127.0.0.1:4001"), QStringLiteral("127.0.0.1"), 4001};

std::vector<std::uint8_t> Pattern(std::size_t size, int seed)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 13 + i / 256 + static_cast<std::size_t>(seed));
    return bytes;
}

// A device thread's parts, faked, with the simulated device behind the socket.
struct Parts : FakeLinkParts {
    FakeFileSystem disk;
    FakeDevice device;
    std::vector<Event> seen;

    explicit Parts(devsim::Options options) : device(clock, tcp, std::move(options)) {}

    SessionParts For(IFileSystem& files)
    {
        return {link, control, files, [this] { return clock.Now(); }};
    }
    EventSink Sink()
    {
        return [this](const Event& event) { seen.push_back(event); };
    }
    std::vector<Event> Of(EventKind kind) const
    {
        std::vector<Event> out;
        for (const Event& event : seen) {
            if (event.kind == kind)
                out.push_back(event);
        }
        return out;
    }
};

struct Rig : Parts {
    Session session{For(disk), Device, Sink()};

    // Loaded as a window loads its link.
    explicit Rig(devsim::Options options = {}) : Parts(std::move(options)) { LoadLink(link, control); }

    Event Program()
    {
        Job job;
        job.imagePath = ImagePath;
        return session.Perform(job);
    }
};

enum class Scenario { Good, RejectPage5, WrongLocks, NoLocks, Unreachable, Refused, DropAfterPage10, ImageMissing };

}  // namespace

Q_DECLARE_METATYPE(Scenario)

class CliSessionTest : public QObject {
    Q_OBJECT
private slots:
    void programmingRun_data();
    void programmingRun();
    void stopEndsTheRunAtOnce_data();
    void stopEndsTheRunAtOnce();
    void fontOperation_data();
    void fontOperation();
};

void CliSessionTest::programmingRun_data()
{
    QTest::addColumn<Scenario>("scenario");
    QTest::addColumn<Verdict>("verdict");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("locks");  // empty: none
    QTest::addColumn<int>("pages");      // progress events
    QTest::newRow("programmed") << Scenario::Good << Verdict::Programmed << QStringLiteral("lock bytes AF DC CC")
                                << QStringLiteral("AF DC CC") << 128;
    QTest::newRow("failed: page 5 refused")
        << Scenario::RejectPage5 << Verdict::Failed << QStringLiteral("page 5 refused; lock bytes AF DC CC")
        << QStringLiteral("AF DC CC") << 128;
    QTest::newRow("failed: wrong lock bytes")
        << Scenario::WrongLocks << Verdict::Failed << QStringLiteral("lock bytes AF DC 0C, expected AF DC CC")
        << QStringLiteral("AF DC 0C") << 128;
    QTest::newRow("failed: no lock bytes")
        << Scenario::NoLocks << Verdict::Failed << QStringLiteral("no lock bytes after page 127") << QString() << 128;
    QTest::newRow("error: unreachable")
        << Scenario::Unreachable << Verdict::Error
        << QStringLiteral("unreachable: not connected to 127.0.0.1 port 4001: no connection within the connect wait "
                          "(error 40006 at the first send)")
        << QString() << 0;
    // Said as the system said it, though the run still waits out its connect wait.
    QTest::newRow("error: connection refused")
        << Scenario::Refused << Verdict::Error
        << QStringLiteral("unreachable: not connected to 127.0.0.1 port 4001: connection refused (error 40006 at the "
                          "first send)")
        << QString() << 0;
    QTest::newRow("error: link dropped after page 10")
        << Scenario::DropAfterPage10 << Verdict::Error
        << QStringLiteral("link dropped after %1 bytes sent (error 40006)").arg(4 * 5 + 11 * 136) << QString() << 11;
    QTest::newRow("error: image file missing")
        << Scenario::ImageMissing << Verdict::Error << QStringLiteral("file not found (error 53)") << QString() << 0;
}

void CliSessionTest::programmingRun()
{
    QFETCH(Scenario, scenario);
    QFETCH(Verdict, verdict);
    QFETCH(QString, message);
    QFETCH(QString, locks);
    QFETCH(int, pages);
    devsim::Options options;
    if (scenario == Scenario::RejectPage5)
        options.rejectPages = {5};
    if (scenario == Scenario::WrongLocks)
        options.lockBytes = {0xAF, 0xDC, 0x0C};
    if (scenario == Scenario::NoLocks)
        options.withholdLocks = true;
    if (scenario == Scenario::DropAfterPage10)
        options.closeAfterPage = 10;
    Rig rig(options);
    const bool unreachable = scenario == Scenario::Unreachable || scenario == Scenario::Refused;
    rig.tcp.acceptConnect = !unreachable;
    if (scenario == Scenario::Refused)
        rig.tcp.refuseWith.why = ConnectFailure::Why::Refused;
    const std::vector<std::uint8_t> image = Pattern(8192, 5);
    if (scenario != Scenario::ImageMissing)
        rig.disk.files[ImagePath] = image;

    const Event end = rig.Program();

    QCOMPARE(end.kind, EventKind::End);
    QCOMPARE(end.device, Device.label);
    QCOMPARE(end.verdict, verdict);
    QCOMPARE(end.message, message);
    QCOMPARE(end.locks ? LocksText(*end.locks) : QString(), locks);
    QCOMPARE(end.elapsedMs, rig.clock.Now());
    // Reported from start to end, the end once and last.
    QCOMPARE(rig.seen.front().kind, EventKind::Start);
    QCOMPARE(rig.seen.back().kind, EventKind::End);
    QCOMPARE(rig.Of(EventKind::End).size(), std::size_t{1});

    // Pages in order, each after its status text.
    const std::vector<Event> progress = rig.Of(EventKind::Progress);
    QCOMPARE(static_cast<int>(progress.size()), pages);
    for (int page = 0; page < pages; ++page) {
        QCOMPARE(progress[static_cast<std::size_t>(page)].page, std::optional(page));
        QCOMPARE(progress[static_cast<std::size_t>(page)].percent, std::optional(page * 100 / 128));
    }
    for (const Event& status : rig.Of(EventKind::Status)) {
        if (status.phase == run::Step::PageAccepted)
            QCOMPARE(status.message, run::msg::PageAccepted(*status.page));
    }

    const std::vector<std::uint8_t> flash(rig.device.device.Flash().begin(), rig.device.device.Flash().end());
    if (verdict == Verdict::Programmed)
        QCOMPARE(flash, image);  // the image came from the --image file, not the fixed name
    if (unreachable || scenario == Scenario::ImageMissing)
        QVERIFY(rig.tcp.sent.empty());
    if (unreachable)
        QCOMPARE(end.elapsedMs, std::int64_t{5000});  // settling, then the connect wait to Timer4's tick
    if (scenario == Scenario::ImageMissing)
        QCOMPARE(rig.tcp.connectCalls, 0);
    if (scenario == Scenario::DropAfterPage10)
        QVERIFY2(end.elapsedMs < 2000, "a closed link ends the run when it is seen, not after a time-out");
}

void CliSessionTest::stopEndsTheRunAtOnce_data()
{
    QTest::addColumn<int>("stopAtMs");  // -1: before the run starts
    QTest::addColumn<int>("silentSearches");
    QTest::addColumn<QString>("lastStep");
    QTest::newRow("before the run: nothing sent, no connection") << -1 << 0 << QStringLiteral("waiting");
    QTest::newRow("in the settling wait") << 400 << 0 << QStringLiteral("connecting");
    QTest::newRow("in the search loop of a silent device") << 3000 << 1000000 << QStringLiteral("searching");
    QTest::newRow("in a page wait") << 1000 + 40 << 0 << QStringLiteral("programming");
}

void CliSessionTest::stopEndsTheRunAtOnce()
{
    QFETCH(int, stopAtMs);
    QFETCH(int, silentSearches);
    QFETCH(QString, lastStep);
    devsim::Options options;
    options.silentSearches = silentSearches;
    options.pageWriteMs = 5;
    Rig rig(options);
    rig.disk.files[ImagePath] = Pattern(8192, 1);
    if (stopAtMs < 0)
        rig.control.Stop();
    else
        rig.clock.After(stopAtMs, [&] { rig.control.Stop(); });

    const Event end = rig.Program();

    QCOMPARE(end.verdict, Verdict::Stopped);
    QCOMPARE(end.message, QStringLiteral("last step: ") + lastStep);
    QCOMPARE(rig.clock.Now(), std::int64_t{std::max(stopAtMs, 0)});
    if (stopAtMs < 0) {
        QCOMPARE(rig.tcp.connectCalls, 0);
        QVERIFY(rig.tcp.sent.empty());
    }
}

void CliSessionTest::fontOperation_data()
{
    QTest::addColumn<bool>("download");
    QTest::addColumn<int>("checksum");  // for a check
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<int>("faultPage");     // -1: none
    QTest::addColumn<bool>("rejectFault");  // refuse the fault page, else store it altered
    QTest::addColumn<int>("silentChecks");
    QTest::addColumn<Verdict>("verdict");
    QTest::addColumn<QString>("message");
    QTest::newRow("download verified") << true << 0 << true << -1 << false << 0 << Verdict::Verified
                                       << QStringLiteral("the device's sum matches");
    QTest::newRow("download, page refused") << true << 0 << true << 12 << true << 0 << Verdict::Failed
                                            << QStringLiteral("a page was refused (status bar: 通讯错误)");
    QTest::newRow("download, page stored altered")
        << true << 0 << true << 15 << false << 0 << Verdict::Failed << QStringLiteral("the device's sum differs");
    QTest::newRow("download, check unanswered")
        << true << 0 << true << -1 << false << 1 << Verdict::Failed
        << QStringLiteral("the device did not answer in time (status bar: 通讯失败)");
    QTest::newRow("download, unreachable")
        << true << 0 << false << -1 << false << 0 << Verdict::Error
        << QStringLiteral("unreachable: not connected to 127.0.0.1 port 4001: no connection within the connect wait "
                          "(error 40006 at the first send)");
    QTest::newRow("check of empty pages against 0")
        << false << 0 << true << -1 << false << 0 << Verdict::Match << QStringLiteral("the device's sum matches");
    QTest::newRow("check against another sum")
        << false << 5 << true << -1 << false << 0 << Verdict::Mismatch << QStringLiteral("the device's sum differs");
    QTest::newRow("check, unreachable")
        << false << 0 << false << -1 << false << 0 << Verdict::Error
        << QStringLiteral("unreachable: not connected to 127.0.0.1 port 4001: no connection within the connect wait "
                          "(error 40006 at the first send)");
}

void CliSessionTest::fontOperation()
{
    QFETCH(bool, download);
    QFETCH(int, checksum);
    QFETCH(bool, reachable);
    QFETCH(int, faultPage);
    QFETCH(bool, rejectFault);
    QFETCH(int, silentChecks);
    QFETCH(Verdict, verdict);
    QFETCH(QString, message);
    devsim::Options options;
    if (faultPage >= 0 && rejectFault)
        options.rejectFontPages = {faultPage};
    if (faultPage >= 0 && !rejectFault)
        options.corruptFontPages = {faultPage};
    options.silentChecks = silentChecks;
    Rig rig(options);
    rig.tcp.acceptConnect = reachable;
    rig.disk.Put(QStringLiteral("Hzk16s.bin"), Pattern(3000, 9));

    Job job;
    job.kind = download ? Job::Kind::FontDownload : Job::Kind::FontCheck;
    job.fontName = QStringLiteral("Hzk16s");
    job.checksum = checksum;
    job.firstPage = 10;
    job.lastPage = 21;
    const Event end = rig.session.Perform(job);

    QCOMPARE(end.verdict, verdict);
    QCOMPARE(end.message, message);
    QCOMPARE(rig.seen.front().kind, EventKind::Start);
    QCOMPARE(rig.seen.back().kind, EventKind::End);
    QCOMPARE(rig.disk.openFiles, 0);
    if (!reachable)
        QVERIFY(rig.tcp.sent.empty());
    if (download && verdict == Verdict::Verified) {
        // The library's captions as progress, pages 10 to 21, all stored.
        const std::vector<Event> captions = rig.Of(EventKind::Caption);
        QVERIFY(!captions.empty());
        QCOMPARE(captions.back().message, QStringLiteral("HZ16S     下载完成   校验成功"));
        const std::vector<Event> progress = rig.Of(EventKind::Progress);
        QCOMPARE(progress.size(), std::size_t{12});
        QCOMPARE(progress.front().page, std::optional(10));
        QCOMPARE(progress.back().page, std::optional(21));
        QCOMPARE(progress.back().percent, std::optional(100));
        for (int page = 10; page <= 21; ++page)
            QVERIFY(rig.device.device.HasFontPage(page));
    }
    if (!rejectFault && faultPage < 0 && silentChecks == 0 && reachable)
        QVERIFY(rig.Of(EventKind::Panel).empty());  // nothing went wrong, nothing said in the status bar
}

QTEST_GUILESS_MAIN(CliSessionTest)
#include "tst_cli_session.moc"
