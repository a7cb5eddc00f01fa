// The programming run on fake platform parts and the simulated device, on a
// virtual clock: every time-out costs no real time.

#include "fakedevice.h"
#include "fakelink.h"
#include "fakeplatform.h"
#include "faultyline.h"
#include "fontrig.h"
#include "runrig.h"

#include "fontlib/fontlib.h"
#include "frame/frame.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "run/run.h"
#include "ui/windowrules.h"

#include <QtTest>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>

using namespace modburn;
using namespace modburn::fake;
namespace fr = modburn::frame;

namespace {

using Locks = std::array<std::uint8_t, 3>;
const QString Started = QStringLiteral(" ");
const QString Searching = QStringLiteral("        系统查找设备!");
const QString Found = QStringLiteral("        设备已连上!");
const QString EraseEnabled = QStringLiteral("        擦除使能!");
const QString Erased = QStringLiteral("        擦除成功!");
const QString CommError = QStringLiteral("        通讯出错!");
const QString Good = QStringLiteral("       模块编程完毕!\r\n  Lock1:AF  Lock2:DC  Lock3:CC");
const QString BadGoodLocks =
    QStringLiteral("       模块编程出错!\r\n        Lock1:AF\r\n        Lock2:DC\r\n        Lock3:CC");
const QString ReadBack = QStringLiteral("       模块编程出错!\r\n Lock1:AF\r\n  Lock2:DC\r\n Lock3:CC");

std::vector<std::uint8_t> Pattern(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256 + 3);
    return bytes;
}

// A loaded window's parts with the simulated device behind the socket and an
// image in the working folder, the progress bar as the window loads it.
template <typename Peer>
struct BasicRig : RunRig<Peer> {
    explicit BasicRig(devsim::Options options = {}, std::optional<std::vector<std::uint8_t>> image = Pattern(8192))
        : RunRig<Peer>(std::move(options))
    {
        this->PriProgressBar.SetValue(5);
        this->PriProgressBar.history.clear();
        if (image)
            this->files.Put(run::ImageFileName, *image);
    }

    // What the window's Exit does: the flag, the port, then the window closes.
    void Exit()
    {
        this->rules.Exit();
        this->rules.Unload();
    }

    // Runs `action` once, the first time the status text becomes `text`.
    void OnStatus(const QString& text, std::function<void()> action)
    {
        this->window.onStatus = [text, action, done = false](const QString& t) mutable {
            if (!done && t == text) {
                done = true;
                action();
            }
        };
    }

    const devsim::Device& device() const { return this->peer.device; }
    const devsim::Counters& stats() const { return device().Stats(); }
    bool FlashHoldsTheImage() const
    {
        const auto& flash = device().Flash();
        const std::vector<std::uint8_t> image = Pattern(8192);
        return std::equal(image.begin(), image.end(), flash.begin());
    }
};

using Rig = BasicRig<FakeDevice>;

// Frames on a scripted line are numbered from 1 in the order sent. With a
// clean run, 1 to 4 are burn-enable, search, enable and erase; page p is
// 5 + p until a page goes twice.
struct LineRig : BasicRig<FaultyLine> {
    using BasicRig::BasicRig;
    static constexpr int PageFrame(int page) { return 5 + page; }
    FaultyLine& line() { return peer; }
};

std::vector<std::uint8_t> Frames(const std::vector<std::uint8_t>& image)
{
    std::vector<std::uint8_t> wire;
    fr::SendBuffer buf{};
    std::uint8_t x = 0;
    const auto add = [&](int n) {
        for (int i = 0; i < n; ++i)
            wire.push_back(static_cast<std::uint8_t>(buf[static_cast<std::size_t>(i)]));
    };
    for (char c : {fr::CmdBurnEnable, fr::CmdSearch, fr::CmdBurnEnable, fr::CmdErase})
        add(fr::BuildShortFrame(buf, c));
    std::vector<std::uint8_t> padded = image;
    padded.resize(8192);
    for (int p = 0; p < fr::ModulePages; ++p)
        add(fr::BuildPageFrame(buf, x, p, std::span<const std::uint8_t, 64>(padded.data() + p * 64, 64)));
    return wire;
}

}  // namespace

class RunTest : public QObject {
    Q_OBJECT
private slots:
    void messages_data();
    void messages();
    void happyPathSendsEveryFrameAndReportsSuccess();
    void silentDeviceIsAskedAgainUntilItAnswers_data();
    void silentDeviceIsAskedAgainUntilItAnswers();
    void rejectedPageIsNotResentAndSpoilsTheVerdict();
    void timedOutPageIsSentAgain();
    void lockBytes_data();
    void lockBytes();
    void exitFlagEndsTheRunWhereItIsTested_data();
    void exitFlagEndsTheRunWhereItIsTested();
    void closingTheWindowEndsEveryWaitAtOnce_data();
    void closingTheWindowEndsEveryWaitAtOnce();
    void imageSizes_data();
    void imageSizes();
    void imageFileProblemsEndSilentlyBeforeTheLink_data();
    void imageFileProblemsEndSilentlyBeforeTheLink();
    void badPortTextEndsBeforeConnecting_data();
    void badPortTextEndsBeforeConnecting();
    void serialPortErrorsGoToThePanel_data();
    void serialPortErrorsGoToThePanel();
    void secondClickDuringARunIsIgnored();
    void unreachableDeviceEndsAtTheFirstSend();
    void verdictSurvivesLostAndLateReplies_data();
    void verdictSurvivesLostAndLateReplies();
    void fontOperationDuringARunFailsAtOnce();
    void runDuringAFontOperationIsIgnored();
};

void RunTest::messages_data()
{
    // QTest rows read best as written, one to a line.
    // clang-format off
    QTest::addColumn<QString>("actual");
    QTest::addColumn<QString>("expected");
    const Locks good{0xAF, 0xDC, 0xCC};
    QTest::newRow("page 0 is 0%") << run::msg::PageAccepted(0) << QStringLiteral("        烧录成功!\r\n           0%");
    QTest::newRow("page 2 is 1%") << run::msg::PageAccepted(2) << QStringLiteral("        烧录成功!\r\n           1%");
    QTest::newRow("page 64 is 50%") << run::msg::PageAccepted(64) << QStringLiteral("        烧录成功!\r\n           50%");
    QTest::newRow("page 127 is 99%") << run::msg::PageAccepted(127)
                                     << QStringLiteral("        烧录成功!\r\n           99%");
    QTest::newRow("rejected page 5") << run::msg::PageRejected(5)
                                     << QStringLiteral("  \r\n  \r\n        烧录出错!\r\n         5");
    QTest::newRow("lock time-out") << run::msg::LockTimedOut() << QStringLiteral("        烧录出错!\r\n         127");
    QTest::newRow("locks good") << run::msg::LocksGood(good) << Good;
    QTest::newRow("locks bad, no leading zeros")
        << run::msg::LocksBad({0x00, 0xDC, 0x0C})
        << QStringLiteral("       模块编程出错!\r\n        Lock1:0\r\n        Lock2:DC\r\n        Lock3:C");
    QTest::newRow("read-back after a rejection") << run::msg::LocksAfterRejection(good) << ReadBack;
    // clang-format on
}

void RunTest::messages()
{
    QFETCH(QString, actual);
    QFETCH(QString, expected);
    QCOMPARE(actual, expected);
}

void RunTest::happyPathSendsEveryFrameAndReportsSuccess()
{
    Rig rig;
    rig.StatusBar1.SetPanelText(1, QStringLiteral("Comm3:9600,N,8,1"));
    const run::Outcome outcome = rig.Press();

    QCOMPARE(rig.window.text, Good);
    QCOMPARE(outcome.ending, run::Ending::Programmed);
    QCOMPARE(outcome.locks, std::optional(Locks{0xAF, 0xDC, 0xCC}));
    QCOMPARE(rig.tcp.sent, Frames(Pattern(8192)));
    QCOMPARE(rig.tcp.connectHost, QStringLiteral("127.0.0.1"));
    QCOMPARE(rig.tcp.connectPort, 4001);

    const std::vector<std::uint8_t> flash(rig.device().Flash().begin(), rig.device().Flash().end());
    QCOMPARE(flash, Pattern(8192));

    // The steps as the operator saw them, in order.
    QCOMPARE(rig.window.texts.mid(0, 7),
             (QStringList{Started, Started + QStringLiteral("  \r\n        烧录使能!"), Searching, Found,
                          Found + QStringLiteral("  \r\n") + EraseEnabled, Erased, run::msg::PageAccepted(0)}));
    QCOMPARE(rig.window.texts.at(6 + 64), run::msg::PageAccepted(64));
    QCOMPARE(rig.window.printDevCheck, 1);

    // Burn-enable, programming enable, erase and every page clear the serial
    // input first; the search does not. The run ends by closing the port.
    QCOMPARE(rig.MSComm1.clearCalls, 3 + 128);
    QCOMPARE(rig.MSComm1.closeCalls, 1);
    QCOMPARE(rig.StatusBar1.PanelText(1), QStringLiteral("Comm3:9600,N,8,1"));

    QCOMPARE(rig.PriProgressBar.history.size(), std::size_t{128});
    QCOMPARE(rig.PriProgressBar.history[64], 50.0f);
    QCOMPARE(rig.PriProgressBar.Value(), 99.21875f);
    QCOMPARE(rig.window.runButton, (std::vector<bool>{false, true}));
    QVERIFY(!rig.run.Active());
    // The link stays up for the next run to close.
    QVERIFY(rig.tcp.Connected());
    QCOMPARE(rig.files.openFiles, 0);
}

void RunTest::silentDeviceIsAskedAgainUntilItAnswers_data()
{
    QTest::addColumn<int>("silentBurnEnables");
    QTest::addColumn<int>("silentSearches");
    QTest::newRow("burn-enable silent 4 times") << 4 << 0;
    QTest::newRow("search silent 6 times") << 0 << 6;
}

void RunTest::silentDeviceIsAskedAgainUntilItAnswers()
{
    QFETCH(int, silentBurnEnables);
    QFETCH(int, silentSearches);
    devsim::Options options;
    options.silentBurnEnables = silentBurnEnables;
    options.silentSearches = silentSearches;
    Rig rig(options);

    std::int64_t searchShownAt = -1;
    rig.OnStatus(Searching, [&] { searchShownAt = rig.clock.Now(); });
    rig.Press();

    QCOMPARE(rig.window.text, Good);
    QCOMPARE(rig.stats().burnEnables, silentBurnEnables + 2);
    QCOMPARE(rig.stats().searches, silentSearches + 1);
    // One 500 ms time-out per silent frame, and no message while it lasts.
    QVERIFY(searchShownAt >= 1000 + 500 * silentBurnEnables);
    QVERIFY(!rig.window.texts.contains(CommError));
    QCOMPARE(rig.MSComm1.clearCalls, silentBurnEnables + 3 + 128);
}

void RunTest::rejectedPageIsNotResentAndSpoilsTheVerdict()
{
    devsim::Options options;
    options.rejectPages = {5};
    Rig rig(options);
    const run::Outcome outcome = rig.Press();

    QCOMPARE(rig.stats().pagesRejected, 1);
    QCOMPARE(rig.stats().pageWrites.count(5), std::size_t{0});
    QCOMPARE(rig.stats().pageWrites.at(6), 1);
    const int rejected = static_cast<int>(rig.window.texts.indexOf(run::msg::PageRejected(5)));
    QVERIFY(rejected > 0);
    QCOMPARE(rig.window.texts.at(rejected + 1), ReadBack);
    QCOMPARE(rig.window.texts.at(rejected + 2), run::msg::PageAccepted(6));
    // The lock bytes match, yet the module is not programmed.
    QCOMPARE(rig.window.text, BadGoodLocks);
    QCOMPARE(outcome.ending, run::Ending::PagesRefused);
    QCOMPARE(rig.PriProgressBar.history[5], 100.0f * 5 / 128);
}

void RunTest::timedOutPageIsSentAgain()
{
    devsim::Options options;
    options.dropPageReplies = {{7, 2}};
    Rig rig(options);
    std::int64_t firstErrorAt = -1;
    rig.OnStatus(CommError, [&] { firstErrorAt = rig.clock.Now(); });
    rig.Press();

    QCOMPARE(rig.stats().pageRepliesDropped, 2);
    QCOMPARE(rig.stats().pageWrites.at(7), 3);
    QCOMPARE(rig.window.texts.count(CommError), 2);
    const int firstError = static_cast<int>(rig.window.texts.indexOf(CommError));
    QCOMPARE(rig.window.texts.at(firstError - 1), run::msg::PageAccepted(6));
    QCOMPARE(rig.window.texts.at(firstError + 2), run::msg::PageAccepted(7));
    QCOMPARE(rig.PriProgressBar.history.size(), std::size_t{128});
    QCOMPARE(rig.window.text, Good);
    QVERIFY(firstErrorAt > 5000);
}

void RunTest::lockBytes_data()
{
    // QTest rows read best as written, one to a line.
    // clang-format off
    QTest::addColumn<Locks>("locks");
    QTest::addColumn<bool>("withhold");
    QTest::addColumn<bool>("coalesce");
    QTest::addColumn<int>("rejectPage");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<run::Ending>("ending");
    using E = run::Ending;
    const Locks good{0xAF, 0xDC, 0xCC};
    QTest::newRow("Lock3 0x0C is shown as C") << Locks{0xAF, 0xDC, 0x0C} << false << false << -1
                                              << QStringLiteral("       模块编程出错!\r\n        Lock1:AF\r\n"
                                                                "        Lock2:DC\r\n        Lock3:C") << E::LocksWrong;
    QTest::newRow("no lock bytes at the final check")
        << good << true << false << -1 << QStringLiteral("        烧录出错!\r\n         127") << E::LocksMissing;
    QTest::newRow("lock bytes in the same delivery as page 127's reply")
        << good << false << true << -1 << Good << E::Programmed;
    QTest::newRow("rejected page 127 gets only the read-back")
        << good << false << false << 127 << ReadBack << E::PagesRefused;
    QTest::newRow("coalesced read-back after rejected page 127")
        << good << false << true << 127 << ReadBack << E::PagesRefused;
    QTest::newRow("rejected page 127, no lock bytes")
        << good << true << false << 127 << run::msg::PageRejected(127) << E::PagesRefused;
    // clang-format on
}

void RunTest::lockBytes()
{
    QFETCH(Locks, locks);
    QFETCH(bool, withhold);
    QFETCH(bool, coalesce);
    QFETCH(int, rejectPage);
    QFETCH(QString, expected);
    QFETCH(run::Ending, ending);
    devsim::Options options;
    options.lockBytes = locks;
    options.withholdLocks = withhold;
    options.coalesceLock = coalesce;
    if (rejectPage >= 0)
        options.rejectPages = {rejectPage};
    Rig rig(options);
    const run::Outcome outcome = rig.Press();

    QCOMPARE(rig.window.text, expected);
    QCOMPARE(outcome.ending, ending);
    QCOMPARE(rig.PriProgressBar.Value(), 99.21875f);
    QCOMPARE(rig.MSComm1.closeCalls, 1);
}

void RunTest::exitFlagEndsTheRunWhereItIsTested_data()
{
    // Exit's flag alone, the window left open: the run must see it where it looks.
    QTest::addColumn<int>("silentBurnEnables");
    QTest::addColumn<int>("droppedPage");
    QTest::addColumn<QString>("clearWhenShown");
    QTest::addColumn<int>("clearAfterMs");
    QTest::addColumn<int>("framesSent");
    QTest::addColumn<int>("unloads");
    // Frames: burn-enable (5 bytes) ... search 5, enable 5, erase 5, pages 136 each.
    QTest::newRow("before the first burn-enable") << 0 << -1 << Started << 0 << 0 << 0;
    QTest::newRow("burn-enable wait times out") << 1000 << -1 << Started << 1200 << 5 << 0;
    QTest::newRow("top of programming enable") << 0 << -1 << Found << 0 << 10 << 1;
    QTest::newRow("top of erase") << 0 << -1 << Found + QStringLiteral("  \r\n") + EraseEnabled << 0 << 15 << 1;
    QTest::newRow("page wait times out") << 0 << 3 << run::msg::PageAccepted(2) << 0 << 20 + 4 * 136 << 0;
}

void RunTest::exitFlagEndsTheRunWhereItIsTested()
{
    QFETCH(int, silentBurnEnables);
    QFETCH(int, droppedPage);
    QFETCH(QString, clearWhenShown);
    QFETCH(int, clearAfterMs);
    QFETCH(int, framesSent);
    QFETCH(int, unloads);
    devsim::Options options;
    options.silentBurnEnables = silentBurnEnables;
    if (droppedPage >= 0)
        options.dropPageReplies = {{droppedPage, 1}};
    Rig rig(options);
    rig.OnStatus(clearWhenShown, [&] { rig.clock.After(clearAfterMs, [&] { rig.control.SetRunEnable(false); }); });
    const run::Outcome outcome = rig.Press();

    QCOMPARE(static_cast<int>(rig.tcp.sent.size()), framesSent);
    QCOMPARE(rig.window.unloads, unloads);
    QCOMPARE(rig.window.text, clearWhenShown);
    QCOMPARE(outcome.ending, run::Ending::StoppedByExit);
    QCOMPARE(rig.MSComm1.closeCalls, 0);
    QCOMPARE(rig.window.runButton, (std::vector<bool>{false, true}));
}

void RunTest::closingTheWindowEndsEveryWaitAtOnce_data()
{
    QTest::addColumn<QString>("whenShown");
    QTest::addColumn<int>("afterMs");
    QTest::addColumn<int>("silentSearches");
    QTest::newRow("settling wait") << Started << 300 << 0;
    QTest::newRow("connect wait") << Started << 2000 << 0;
    QTest::newRow("search loop of a silent device") << Searching << 2600 << 1000000;
    QTest::newRow("page wait") << run::msg::PageAccepted(40) << 0 << 0;
}

void RunTest::closingTheWindowEndsEveryWaitAtOnce()
{
    QFETCH(QString, whenShown);
    QFETCH(int, afterMs);
    QFETCH(int, silentSearches);
    devsim::Options options;
    options.silentSearches = silentSearches;
    options.replyDelayMs = 2;
    Rig rig(options);
    rig.tcp.connectDelayMs = 3000;  // still connecting when the settling wait ends
    std::int64_t exitAt = -1;
    std::size_t sentAtExit = 0;
    QString textAtExit;
    rig.OnStatus(whenShown, [&] {
        rig.clock.After(afterMs, [&] {
            exitAt = rig.clock.Now();
            sentAtExit = rig.tcp.sent.size();
            textAtExit = rig.window.text;
            rig.Exit();
        });
    });
    const run::Outcome outcome = rig.Press();

    QVERIFY(exitAt >= 0);
    QCOMPARE(outcome.ending, run::Ending::StoppedByOwner);
    QCOMPARE(rig.clock.Now(), exitAt);
    QCOMPARE(rig.tcp.sent.size(), sentAtExit);
    QCOMPARE(rig.window.text, textAtExit);
    QCOMPARE(rig.window.runButton, std::vector<bool>{false});  // the closed window is not touched
    QVERIFY(!rig.run.Active());
}

void RunTest::imageSizes_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty file") << 0;
    QTest::newRow("100 bytes") << 100;
}

void RunTest::imageSizes()
{
    QFETCH(int, size);
    Rig rig({}, Pattern(static_cast<std::size_t>(size)));
    rig.Press();

    std::vector<std::uint8_t> expected = Pattern(static_cast<std::size_t>(size));
    expected.resize(8192, 0);
    const std::vector<std::uint8_t> flash(rig.device().Flash().begin(), rig.device().Flash().end());
    QCOMPARE(flash, expected);
    QCOMPARE(rig.tcp.sent, Frames(expected));
    QCOMPARE(rig.window.text, Good);
    QCOMPARE(rig.files.bytesRead, size);
}

void RunTest::imageFileProblemsEndSilentlyBeforeTheLink_data()
{
    QTest::addColumn<int>("size");  // -1: no such file
    QTest::addColumn<bool>("refused");
    QTest::addColumn<err::Number>("error");
    QTest::addColumn<run::Ending>("ending");
    QTest::addColumn<int>("bytesRead");
    QTest::newRow("8193 bytes") << 8193 << false << err::SubscriptOutOfRange << run::Ending::ImageTooLarge << 8193;
    // Read no further than the first byte too many, however long the file.
    QTest::newRow("1 MB") << (1 << 20) << false << err::SubscriptOutOfRange << run::Ending::ImageTooLarge << 8193;
    QTest::newRow("missing") << -1 << false << err::FileNotFound << run::Ending::ImageMissing << 0;
    QTest::newRow("there, but cannot be opened")
        << 8192 << true << err::FileAccess << run::Ending::ImageUnreadable << 0;
}

void RunTest::imageFileProblemsEndSilentlyBeforeTheLink()
{
    QFETCH(int, size);
    QFETCH(bool, refused);
    QFETCH(err::Number, error);
    QFETCH(run::Ending, ending);
    QFETCH(int, bytesRead);
    Rig rig({}, size >= 0 ? std::optional(Pattern(static_cast<std::size_t>(size))) : std::nullopt);
    if (refused)
        rig.files.refused << rig.files.InCurrentDir(run::ImageFileName);
    rig.StatusBar1.SetPanelText(1, QStringLiteral("Comm1:9600,N,8,1"));
    const run::Outcome outcome = rig.Press();

    QCOMPARE(rig.window.text, Started);
    QCOMPARE(outcome.ending, ending);
    QCOMPARE(outcome.error, error);
    QCOMPARE(rig.window.printDevCheck, 1);
    QVERIFY(rig.tcp.sent.empty());
    QCOMPARE(rig.tcp.closeCalls, 0);
    QCOMPARE(rig.tcp.connectCalls, 0);
    QCOMPARE(rig.files.openFiles, 0);
    QCOMPARE(rig.files.bytesRead, bytesRead);
    QCOMPARE(rig.StatusBar1.PanelText(1), QStringLiteral("Comm1:9600,N,8,1"));
    QCOMPARE(rig.window.runButton, (std::vector<bool>{false, true}));
}

void RunTest::badPortTextEndsBeforeConnecting_data()
{
    // One text for each of the two errors; the link's tests pin which texts raise which.
    QTest::addColumn<QString>("port");
    for (const char* text : {"abc", "70000"})
        QTest::newRow(qPrintable(QStringLiteral("\"%1\"").arg(QString::fromLatin1(text)))) << QString::fromLatin1(text);
}

void RunTest::badPortTextEndsBeforeConnecting()
{
    QFETCH(QString, port);
    Rig rig;
    rig.window.port = port;
    const run::Outcome outcome = rig.Press();

    QCOMPARE(rig.window.text, Started);
    QCOMPARE(outcome.ending, run::Ending::BadPort);
    QCOMPARE(rig.tcp.connectCalls, 0);
    QVERIFY(rig.tcp.sent.empty());
    QCOMPARE(rig.window.runButton, (std::vector<bool>{false, true}));
}

void RunTest::serialPortErrorsGoToThePanel_data()
{
    QTest::addColumn<QString>("panel");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::addColumn<QString>("expected");
    const QString comm2 = QStringLiteral("Comm2:9600,N,8,1");
    QTest::newRow("8005 twice: one suffix") << comm2 << 8005 << 8005 << comm2 + QStringLiteral(" 串口占用");
    QTest::newRow("8005 then 8002: suffix replaced") << comm2 << 8005 << 8002 << comm2 + QStringLiteral(" 串口无效");
    QTest::newRow("short text is trimmed and kept")
        << QStringLiteral("  abc  ") << 8002 << 0 << QStringLiteral("abc 串口无效");
    QTest::newRow("other errors leave no trace") << comm2 << 53 << 0 << comm2;
}

void RunTest::serialPortErrorsGoToThePanel()
{
    QFETCH(QString, panel);
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(QString, expected);
    Rig rig;
    rig.StatusBar1.SetPanelText(1, panel);
    for (int number : {first, second}) {
        if (number == 0)
            continue;
        rig.MSComm1.failClearWith = static_cast<err::Number>(number);
        rig.Press();
        QCOMPARE(rig.window.text, Started);
        QVERIFY(rig.tcp.sent.empty());  // raised by the clear before the first send
    }
    QCOMPARE(rig.StatusBar1.PanelText(1), expected);

    // Raised by the close at the normal end, after the whole image went out.
    Rig ending;
    ending.StatusBar1.SetPanelText(1, panel);
    ending.MSComm1.failOpenWith = err::CommInvalidPort;
    ending.Press();
    QCOMPARE(ending.window.text, Good);
    QCOMPARE(ending.StatusBar1.PanelText(1), TrimBlanks(panel).left(16) + QStringLiteral(" 串口无效"));
}

void RunTest::secondClickDuringARunIsIgnored()
{
    Rig rig;
    std::vector<bool> buttonAtClick;
    rig.OnStatus(Searching, [&] {
        buttonAtClick = rig.window.runButton;
        rig.Press();  // as if RUN were clicked inside the search wait
    });
    rig.Press();

    QCOMPARE(buttonAtClick, std::vector<bool>{false});
    QCOMPARE(rig.tcp.sent, Frames(Pattern(8192)));
    QCOMPARE(rig.tcp.connectCalls, 1);
    QCOMPARE(rig.window.texts.count(Started), 1);
    QCOMPARE(rig.window.text, Good);
    QCOMPARE(rig.window.runButton, (std::vector<bool>{false, true}));
}

void RunTest::unreachableDeviceEndsAtTheFirstSend()
{
    Rig rig;
    rig.tcp.acceptConnect = false;
    const run::Outcome outcome = rig.Press();

    QCOMPARE(rig.window.text, Started);
    QCOMPARE(outcome.ending, run::Ending::Unreachable);
    QVERIFY(rig.tcp.sent.empty());
    // One Timer1 interval of settling, then the connect wait until Timer4's tick.
    QCOMPARE(rig.clock.Now(), std::int64_t{5000});
    QCOMPARE(rig.window.runButton, (std::vector<bool>{false, true}));
}

namespace {

// A fault or two on the way, what the run must conclude from them, and what
// it may cost: the virtual time beyond a clean run that the reply rules force
// (a reply comes within two time-outs of its send, or never, and replies come
// in order), or -1 where the cost is not the point.
struct Recovery {
    const char* name;
    std::function<void(devsim::Options&, std::map<int, FrameScript>&)> faults;
    run::Ending ending;
    std::vector<int> refused;  // pages shown as refused
    std::int64_t extraMs;
};

constexpr int Page7 = LineRig::PageFrame(7);

// The device takes 3 ms a page, as real ones do. Frame numbers are the line's.
const std::vector<Recovery>& Recoveries()
{
    using E = run::Ending;
    using Script = std::map<int, FrameScript>;
    static const std::vector<Recovery> cases{
        {"page 127's reply and lock bytes lost: the resend's may be the late first",
         [](devsim::Options& o, Script&) { o.dropPageReplies[127] = 1; },
         E::Programmed,
         {},
         15000},
        {"page 127 answered late, then its resend",
         [](devsim::Options& o, Script&) { o.latePageReplies[127] = 6000; },
         E::Programmed,
         {},
         6000},
        {"page 5 refused late, then refused again; page 6 accepted",
         [](devsim::Options& o, Script&) {
             o.rejectPages.insert(5);
             o.latePageReplies[5] = 6000;
         },
         E::PagesRefused,
         {5},
         -1},
        {"page 5's frame lost on the way",
         [](devsim::Options& o, Script&) { o.loseFrames.insert(10); },
         E::Programmed,
         {},
         15000},
        {"the erase's reply lost", [](devsim::Options&, Script& s) { s[4].replyLost = true; }, E::Programmed, {}, 1500},
        {"the erase answered late, not taken for page 0's",
         [](devsim::Options&, Script& s) { s[4].extraDelayMs = 700; },
         E::Programmed,
         {},
         -1},
        {"page 7 answered just after its time-out",
         [](devsim::Options&, Script& s) { s[Page7].extraDelayMs = 5003; },
         E::Programmed,
         {},
         5003},
        {"page 7 late, then page 20's frame lost: no success from a reply one behind",
         [](devsim::Options&, Script& s) {
             s[Page7].extraDelayMs = 5003;
             s[LineRig::PageFrame(20) + 1].lost = true;
         },
         E::Programmed,
         {},
         -1},
        {"page 5 late twice over, then page 6's frame lost: the late resend's reply is not page 6's",
         [](devsim::Options&, Script& s) {
             s[LineRig::PageFrame(5)].extraDelayMs = 6000;
             s[LineRig::PageFrame(5) + 1].extraDelayMs = 9900;
             s[LineRig::PageFrame(6) + 1].lost = true;
         },
         E::Programmed,
         {},
         -1},
        {"page 7 acknowledged late, its resend refused in the same delivery",
         [](devsim::Options&, Script& s) {
             s[Page7].extraDelayMs = 5003;
             s[Page7 + 1].reply = {0x15};
         },
         E::PagesRefused,
         {7},
         -1},
        {"page 7 refused in the pass of its time-out",
         [](devsim::Options&, Script& s) {
             s[Page7].extraDelayMs = 5000;
             s[Page7].reply = {0x15};
         },
         E::PagesRefused,
         {7},
         -1},
        {"hang-up after page 40", [](devsim::Options& o, Script&) { o.closeAfterPage = 40; }, E::LinkDropped, {}, -1},
    };
    return cases;
}

}  // namespace

void RunTest::verdictSurvivesLostAndLateReplies_data()
{
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < Recoveries().size(); ++i)
        QTest::newRow(Recoveries()[i].name) << static_cast<int>(i);
}

void RunTest::verdictSurvivesLostAndLateReplies()
{
    QFETCH(int, index);
    const Recovery& c = Recoveries()[static_cast<std::size_t>(index)];
    devsim::Options options;
    options.pageWriteMs = 3;
    std::map<int, FrameScript> script;
    c.faults(options, script);

    devsim::Options cleanOptions;
    cleanOptions.pageWriteMs = 3;
    LineRig clean(cleanOptions);
    clean.Press();
    QCOMPARE(clean.window.text, Good);

    LineRig rig(options);
    rig.line().script = script;
    const std::int64_t start = rig.clock.Now();
    const run::Outcome outcome = rig.Press();

    QCOMPARE(outcome.ending, c.ending);
    QCOMPARE(rig.window.text == Good, outcome.Programmed());
    if (outcome.Programmed())
        QVERIFY(rig.FlashHoldsTheImage());
    for (int page = 0; page < fr::ModulePages; ++page) {
        const bool refused = std::find(c.refused.begin(), c.refused.end(), page) != c.refused.end();
        QVERIFY2(rig.window.texts.contains(run::msg::PageRejected(page)) == refused, qPrintable(QString::number(page)));
    }
    if (c.extraMs >= 0) {
        const std::int64_t extra = (rig.clock.Now() - start) - clean.clock.Now();
        QVERIFY2(std::abs(extra - c.extraMs) <= 100,
                 qPrintable(QStringLiteral("%1 ms more than a clean run").arg(extra)));
    }
}

void RunTest::fontOperationDuringARunFailsAtOnce()
{
    Rig rig;
    // A font operation on the run's own link and control, as the window has it.
    fontlib::FontTransfer transfer{{rig.link, rig.control, rig.MSComm1, rig.files}};
    FontParts shown;
    fontlib::WindowView view{shown.window, shown.StatusBar1, shown.HZProgressBar};

    rig.files.Put(QStringLiteral("Hzk12.bin"), Pattern(300));
    std::optional<fontlib::FontEnding> down;
    std::optional<fontlib::FontEnding> check;
    rig.OnStatus(Searching, [&] {
        down = transfer.DownChar(QStringLiteral("Hzk12"), 0, 1, view).ending;
        check = transfer.CheckChar(1.0, 0, 1, view).ending;
    });
    rig.Press();

    QCOMPARE(down, std::optional(fontlib::FontEnding::Busy));
    QCOMPARE(check, std::optional(fontlib::FontEnding::Busy));
    // Nothing of theirs went out, and the run went on as if they had not been asked for.
    QCOMPARE(rig.tcp.sent, Frames(Pattern(8192)));
    QCOMPARE(rig.window.text, Good);
}

void RunTest::runDuringAFontOperationIsIgnored()
{
    Rig rig;
    // A font operation on the run's own link and control, as the window has it.
    fontlib::FontTransfer transfer{{rig.link, rig.control, rig.MSComm1, rig.files}};
    FontParts shown;
    fontlib::WindowView view{shown.window, shown.StatusBar1, shown.HZProgressBar};

    rig.files.Put(QStringLiteral("Hzk12.bin"), Pattern(600));
    rig.link.Open(QStringLiteral("127.0.0.1"), QStringLiteral("4001"));
    const std::size_t before = rig.tcp.sent.size();
    bool clicked = false;
    // RUN clicked while the font download waits for page 1's reply.
    rig.tcp.onByteSent = [&, forward = rig.tcp.onByteSent](std::uint8_t byte) {
        forward(byte);
        if (!clicked && rig.tcp.sent.size() == before + 2 * fr::FontPageFrameLen) {
            clicked = true;
            rig.clock.After(1, [&] { rig.Press(); });
        }
    };
    QVERIFY(transfer.DownChar(QStringLiteral("Hzk12"), 0, 2, view).Verified());

    QVERIFY(clicked);
    QVERIFY(rig.window.texts.isEmpty());  // the run never started
    QCOMPARE(rig.tcp.connectCalls, 1);
    QCOMPARE(rig.tcp.sent.size(), before + 3 * fr::FontPageFrameLen + fr::CheckFrameLen);
}

QTEST_GUILESS_MAIN(RunTest)
#include "tst_run.moc"
