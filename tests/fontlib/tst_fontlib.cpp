// Font library download and verification on fake platform parts and the
// simulated device, on a virtual clock.

#include "fakedevice.h"
#include "fakelink.h"
#include "fakeplatform.h"
#include "fontrig.h"
#include "wire.h"

#include "fontlib/fontlib.h"
#include "frame/frame.h"
#include "platform/errors.h"

#include <QtTest>

#include <limits>
#include <numeric>

using namespace modburn;
using namespace modburn::fake;
namespace fr = modburn::frame;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Captions = std::vector<std::pair<QString, QString>>;
using Page = std::array<std::uint8_t, fr::FontPageSize>;

const QString Setting = QStringLiteral("Comm1:9600,N,8,1");

Bytes Pattern(std::size_t size)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 13 + i / 256 + 0x5A);
    return bytes;
}

std::uint32_t Sum(const Bytes& bytes)
{
    return std::accumulate(bytes.begin(), bytes.end(), std::uint32_t{0});
}

Page PageOf(const Bytes& file, std::size_t index)
{
    Page page{};
    for (std::size_t j = 0; j < page.size(); ++j) {
        const std::size_t at = index * page.size() + j;
        page[j] = at < file.size() ? file[at] : 0;
    }
    return page;
}

std::string Text(const Bytes& wire, std::size_t from, std::size_t count)
{
    return std::string(wire.begin() + static_cast<std::ptrdiff_t>(from),
                       wire.begin() + static_cast<std::ptrdiff_t>(from + count));
}

// The window's parts with the simulated device behind a connected link.
struct Rig : FontRig<FakeDevice> {
    FakeDevice& device = peer;
    std::size_t sentAtStart = 0;

    explicit Rig(devsim::Options options = {}) : FontRig(std::move(options))
    {
        MSComm1.open_ = true;
        StatusBar1.SetPanelText(IStatusBar::FirstPanel, Setting);
        sentAtStart = tcp.sent.size();
    }

    Bytes Sent() const { return Bytes(tcp.sent.begin() + static_cast<std::ptrdiff_t>(sentAtStart), tcp.sent.end()); }
    // The device hears nothing more.
    void Deafen() { tcp.onByteSent = nullptr; }
    QString Panel() const { return StatusBar1.PanelText(IStatusBar::FirstPanel); }
    const devsim::Counters& stats() const { return device.device.Stats(); }
};

// What a download of `file` into sPage..ePage puts on the wire.
Bytes ExpectedWire(const Bytes& file, std::int16_t sPage, std::int16_t ePage)
{
    Bytes wire;
    fr::SendBuffer buf{};
    std::uint8_t x = 0;
    const auto add = [&](int n) {
        const Bytes frame = WireBytes(buf, n);
        wire.insert(wire.end(), frame.begin(), frame.end());
    };
    std::uint32_t sum = 0;
    for (int i = 0; i <= ePage - sPage; ++i) {
        const Page page = PageOf(file, static_cast<std::size_t>(i));
        sum += std::accumulate(page.begin(), page.end(), std::uint32_t{0});
        add(fr::BuildFontPageFrame(buf, x, static_cast<std::int16_t>(sPage + i), page));
    }
    add(fr::BuildCheckFrame(buf, x, fr::QualFont, sPage, ePage, sum));
    return wire;
}

const fontlib::Library& Lib(const char* name)
{
    return *fontlib::FindLibrary(QString::fromLatin1(name));
}

}  // namespace

class FontLibTest : public QObject {
    Q_OBJECT

private slots:
    void shortFileIsPaddedAndSummed();
    void emptyFileSendsZeros();
    void rangeBelowItsStartSendsOnlyTheCheck();
    void onlyTheRangeIsRead();
    void captionsFollowTheLibrary_data();
    void captionsFollowTheLibrary();
    void dotsCycleWithoutTheSeventh();
    void otherNamesChangeNoCaption_data();
    void otherNamesChangeNoCaption();
    void onePageFillsTheBar();
    void failedCheckKeepsThePortOpen_data();
    void failedCheckKeepsThePortOpen();
    void rejectedPageEndsTheDownload_data();
    void rejectedPageEndsTheDownload();
    void silentPageIsNotTakenFromAnEarlierReply();
    void silentDownloadCheckFails();
    void errorsEndTheOperationWithTheFileClosed();

    void checkCharDigits_data();
    void checkCharDigits();
    void checkCharOutOfRangeSendsNothing_data();
    void checkCharOutOfRangeSendsNothing();
    void checkCharAgainstTheDevice();
    void checkCharLowerCaseReplyFails();
    void silentCheckIsNotTakenFromAnEarlierReply();
    void lateCheckReplyDoesNotAnswerTheNextCheck();
};

void FontLibTest::shortFileIsPaddedAndSummed()
{
    Rig rig;
    const Bytes file = Pattern(300);
    rig.files.Put(QStringLiteral("Hzk12.bin"), file);

    QVERIFY(rig.DownChar(QStringLiteral("Hzk12"), 10, 11).Verified());

    const Bytes wire = rig.Sent();
    QCOMPARE(wire, ExpectedWire(file, 10, 11));
    QCOMPARE(Text(wire, 4, 4), std::string("000A"));
    QCOMPARE(Text(wire, 523 + 4, 4), std::string("000B"));
    // The check frame: pages 10..11 and the sum of the 300 bytes, padding adding nothing.
    const std::size_t check = 2 * 523;
    QCOMPARE(Text(wire, check + 4, 16), "000A000B" + fr::Hex(Sum(file), 8));

    QCOMPARE(rig.device.device.FontPage(10), PageOf(file, 0));
    Page last = PageOf(file, 1);
    QVERIFY(std::all_of(last.begin() + 44, last.end(), [](std::uint8_t b) { return b == 0; }));
    QCOMPARE(rig.device.device.FontPage(11), last);
    QCOMPARE(rig.MSComm1.clearCalls, 3);
    QCOMPARE(rig.MSComm1.closeCalls, 0);
    QCOMPARE(rig.files.openFiles, 0);
    QCOMPARE(rig.Panel(), Setting);
}

void FontLibTest::emptyFileSendsZeros()
{
    Rig rig;
    rig.files.Put(QStringLiteral("Hzk16s.bin"), {});

    QVERIFY(rig.DownChar(QStringLiteral("Hzk16s"), 0, 2).Verified());

    const Bytes wire = rig.Sent();
    QCOMPARE(wire, ExpectedWire({}, 0, 2));
    QCOMPARE(Text(wire, 3 * 523 + 4, 16), std::string("0000000200000000"));
    QCOMPARE(rig.device.device.FontPageCount(), std::size_t{3});
    QCOMPARE(rig.device.device.FontPage(2), Page{});
}

void FontLibTest::rangeBelowItsStartSendsOnlyTheCheck()
{
    Rig rig;
    rig.files.Put(QStringLiteral("Hzk24s.bin"), Pattern(1000));

    QVERIFY(rig.DownChar(QStringLiteral("Hzk24s"), 5, 4).Verified());

    const Bytes wire = rig.Sent();
    QCOMPARE(wire.size(), std::size_t{fr::CheckFrameLen});
    QCOMPARE(Text(wire, 1, 19), std::string("aCP0005000400000000"));
    QCOMPARE(rig.files.opened.size(), 1);
    QCOMPARE(rig.files.openFiles, 0);
    QCOMPARE(rig.files.bytesRead, 0);
    const Captions expected{{"HZ24S", "HZ24S     下载完成"}, {"HZ24S", "HZ24S     下载完成   校验成功"}};
    QCOMPARE(rig.window.captions, expected);
    QVERIFY(rig.HZProgressBar.history.empty());
}

void FontLibTest::onlyTheRangeIsRead()
{
    Rig rig;
    const Bytes file = Pattern(2000);
    rig.files.Put(QStringLiteral("Hzk12.bin"), file);

    QVERIFY(rig.DownChar(QStringLiteral("Hzk12"), 0, 1).Verified());
    QCOMPARE(rig.files.bytesRead, 512);
    const Bytes sent(file.begin(), file.begin() + 512);
    QCOMPARE(rig.device.device.FontSum(0, 1), Sum(sent));
}

void FontLibTest::captionsFollowTheLibrary_data()
{
    // QTest rows read best as written, one to a line.
    // clang-format off
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("loading");
    QTest::addColumn<QString>("done");

    QTest::newRow("Hzk12") << "Hzk12" << "HZ12" << "HZ12S   下载中 " << "HZ12S     下载完成";
    QTest::newRow("Hzk16s") << "Hzk16s" << "HZ16" << "HZ16S     下载中 " << "HZ16S     下载完成";
    QTest::newRow("Hzk24s") << "Hzk24s" << "HZ24S" << "HZ24S     下载中 " << "HZ24S     下载完成";
    QTest::newRow("Hzk24st") << "Hzk24st" << "HZ24ST" << "HZ24ST    下载中 " << "HZ24ST    下载完成";
    // clang-format on
}

void FontLibTest::captionsFollowTheLibrary()
{
    QFETCH(QString, name);
    QFETCH(QString, option);
    QFETCH(QString, loading);
    QFETCH(QString, done);

    Rig rig;
    rig.files.Put(name + QStringLiteral(".bin"), Pattern(4 * 256));
    QVERIFY(rig.DownChar(name, 20, 23).Verified());

    const Captions expected{{option, loading + "."},  {option, loading + "."}, {option, loading + ".."},
                            {option, loading + ".."}, {option, done},          {option, done + "   校验成功"}};
    QCOMPARE(rig.window.captions, expected);
    QCOMPARE(rig.HZProgressBar.history, (std::vector<float>{0.0f, 100.0f / 3, 200.0f / 3, 100.0f}));
}

void FontLibTest::dotsCycleWithoutTheSeventh()
{
    const fontlib::Library& lib = Lib("Hzk12");
    const int dots[] = {1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 6, 6, 6, 1, 1, 1, 2};
    for (int i = 0; i < static_cast<int>(std::size(dots)); ++i)
        QCOMPARE(fontlib::LoadingCaption(lib, i), lib.loading + QString(dots[i], u'.'));
    QCOMPARE(fontlib::LoadingCaption(lib, 32767), lib.loading + QString(32768 / 3 % 6 + 1, u'.'));
}

void FontLibTest::otherNamesChangeNoCaption_data()
{
    // QTest rows read best as written, one to a line.
    // clang-format off
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("file");

    QTest::newRow("blanks around Hzk12") << " Hzk12 " << "Hzk12.bin";
    QTest::newRow("lower case") << "hzk12" << "hzk12.bin";
    QTest::newRow("own library") << "MyFont" << "MyFont.bin";
    // clang-format on
}

void FontLibTest::otherNamesChangeNoCaption()
{
    QFETCH(QString, name);
    QFETCH(QString, file);

    Rig rig;
    rig.files.Put(file, Pattern(600));
    QVERIFY(rig.DownChar(name, 0, 2).Verified());
    QCOMPARE(rig.files.opened, QStringList{rig.files.InCurrentDir(file)});
    QVERIFY(rig.window.captions.empty());
    QCOMPARE(rig.HZProgressBar.history.size(), std::size_t{3});
}

void FontLibTest::onePageFillsTheBar()
{
    Rig rig;
    rig.HZProgressBar.SetMin(10);
    rig.HZProgressBar.history.clear();
    rig.files.Put(QStringLiteral("Hzk12.bin"), Pattern(256));

    QVERIFY(rig.DownChar(QStringLiteral("Hzk12"), 7, 7).Verified());
    QCOMPARE(rig.HZProgressBar.history, std::vector<float>{100.0f});
}

void FontLibTest::failedCheckKeepsThePortOpen_data()
{
    // QTest rows read best as written, one to a line.
    // clang-format off
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("lowerCase");

    QTest::newRow("Hzk16s, corrupted page") << "Hzk16s" << "HZ16S    下载完成   校验失败" << false;
    QTest::newRow("Hzk24s, corrupted page") << "Hzk24s" << "HZ24S     下载完成   校验失败" << false;
    QTest::newRow("Hzk12, lower-case digits") << "Hzk12" << "HZ12S     下载完成   校验失败" << true;
    // clang-format on
}

void FontLibTest::failedCheckKeepsThePortOpen()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(bool, lowerCase);

    devsim::Options options;
    if (lowerCase)
        options.lowerCaseCheckDigits = true;
    else
        options.corruptFontPages = {2};
    Rig rig(options);
    const Bytes file = Pattern(1024);
    QVERIFY(fr::Hex(Sum(file), 8).find_first_of("ABCDEF") != std::string::npos);
    rig.files.Put(name + QStringLiteral(".bin"), file);

    QCOMPARE(rig.DownChar(name, 0, 3).ending, fontlib::FontEnding::SumDiffers);
    QCOMPARE(rig.window.captions.back().second, caption);
    QCOMPARE(rig.MSComm1.closeCalls, 0);
    QCOMPARE(rig.Panel(), Setting);
    QCOMPARE(rig.stats().downloadChecks, 1);
}

void FontLibTest::rejectedPageEndsTheDownload_data()
{
    QTest::addColumn<int>("sPage");
    QTest::addColumn<int>("ePage");
    QTest::addColumn<int>("rejected");  // -1: none refused on request
    QTest::addColumn<QString>("firstPage");
    QTest::addColumn<int>("stored");  // pages stored before the refusal
    QTest::newRow("page 11 refused on request") << 10 << 13 << 11 << "000A" << 1;
    // Page -3 goes out as FFFD, beyond the device's pages.
    QTest::newRow("negative pages, refused by the device") << -3 << -1 << -1 << "FFFD" << 0;
}

void FontLibTest::rejectedPageEndsTheDownload()
{
    QFETCH(int, sPage);
    QFETCH(int, ePage);
    QFETCH(int, rejected);
    QFETCH(QString, firstPage);
    QFETCH(int, stored);
    devsim::Options options;
    if (rejected >= 0)
        options.rejectFontPages = {rejected};
    Rig rig(options);
    // An earlier report's suffix is dropped with the blanks.
    rig.StatusBar1.SetPanelText(IStatusBar::FirstPanel, "  " + Setting + " 通讯失败");
    rig.files.Put(QStringLiteral("Hzk24st.bin"), Pattern(4 * 256));

    const fontlib::FontOutcome outcome =
        rig.DownChar(QStringLiteral("Hzk24st"), static_cast<std::int16_t>(sPage), static_cast<std::int16_t>(ePage));
    QCOMPARE(outcome.ending, fontlib::FontEnding::PageRefused);

    QCOMPARE(rig.Panel(), Setting + " 通讯错误");
    QCOMPARE(rig.MSComm1.closeCalls, 1);
    QCOMPARE(rig.files.openFiles, 0);
    const Bytes wire = rig.Sent();
    QCOMPARE(wire.size(), std::size_t(stored + 1) * fr::FontPageFrameLen);
    QCOMPARE(QString::fromStdString(Text(wire, 4, 4)), firstPage);
    QCOMPARE(rig.stats().fontPagesRejected, 1);
    QCOMPARE(rig.stats().downloadChecks, 0);
    // Only a stored page shows: the refused one moves neither caption nor bar.
    Captions expected{{"HZ24ST", "HZ24ST    下载中 ."}};
    expected.resize(static_cast<std::size_t>(stored));
    QCOMPARE(rig.window.captions, expected);
    QCOMPARE(rig.HZProgressBar.history, std::vector<float>(static_cast<std::size_t>(stored), 0.0f));
}

void FontLibTest::silentPageIsNotTakenFromAnEarlierReply()
{
    devsim::Options options;
    options.dropFontPageReplies = {11};
    Rig rig(options);
    rig.files.Put(QStringLiteral("Hzk12.bin"), Pattern(4 * 256));

    const std::int64_t start = rig.clock.Now();
    QCOMPARE(rig.DownChar(QStringLiteral("Hzk12"), 10, 13).ending, fontlib::FontEnding::NoAnswer);

    // Its time-out, then as long again for a late reply, which must not answer
    // the next operation's frame.
    QCOMPARE(rig.clock.Now() - start, std::int64_t{4000});
    QCOMPARE(rig.Panel(), Setting + " 通讯失败");
    QCOMPARE(rig.MSComm1.closeCalls, 1);
    QCOMPARE(rig.files.openFiles, 0);
    QCOMPARE(rig.Sent().size(), std::size_t{2 * 523});
    QCOMPARE(rig.window.captions.size(), std::size_t{1});
}

void FontLibTest::silentDownloadCheckFails()
{
    devsim::Options options;
    options.silentChecks = 1;
    Rig rig(options);
    rig.files.Put(QStringLiteral("Hzk24s.bin"), Pattern(512));

    QCOMPARE(rig.DownChar(QStringLiteral("Hzk24s"), 0, 1).ending, fontlib::FontEnding::NoAnswer);

    QCOMPARE(rig.Panel(), Setting + " 通讯失败");
    QCOMPARE(rig.MSComm1.closeCalls, 1);
    QCOMPARE(rig.files.openFiles, 0);
    QCOMPARE(rig.window.captions.back().second, QStringLiteral("HZ24S     下载完成"));
}

void FontLibTest::errorsEndTheOperationWithTheFileClosed()
{
    {
        Rig rig;
        const fontlib::FontOutcome outcome = rig.DownChar(QStringLiteral("Hzk12"), 0, 1);
        QCOMPARE(outcome.ending, fontlib::FontEnding::FileMissing);
        QCOMPARE(outcome.error, err::FileNotFound);
        QVERIFY(rig.Sent().empty());
    }
    {
        Rig rig;  // a span of 32768 pages after the first does not fit
        rig.files.Put(QStringLiteral("Hzk12.bin"), Pattern(10));
        QCOMPARE(rig.DownChar(QStringLiteral("Hzk12"), -1, 32767).ending, fontlib::FontEnding::OutOfRange);
        QVERIFY(rig.Sent().empty());
        QCOMPARE(rig.files.openFiles, 0);
        QCOMPARE(rig.Panel(), Setting);
    }
    {
        devsim::Options options;
        options.fontPageWriteMs = 50;
        Rig rig(options);
        rig.files.Put(QStringLiteral("Hzk12.bin"), Pattern(4 * 256));
        rig.clock.After(75, [&] { rig.control.Stop(); });  // the window closes during page 2
        QCOMPARE(rig.DownChar(QStringLiteral("Hzk12"), 0, 3).ending, fontlib::FontEnding::StoppedByOwner);
        QCOMPARE(rig.Sent().size(), std::size_t{2 * 523});
        QCOMPARE(rig.files.openFiles, 0);
        QCOMPARE(rig.Panel(), Setting);
    }
}

void FontLibTest::checkCharDigits_data()
{
    QTest::addColumn<double>("checksum");
    QTest::addColumn<QString>("digits");

    QTest::newRow("0") << 0.0 << "00000000";
    QTest::newRow("-1") << -1.0 << "FFFFFFFF";
    QTest::newRow("10.5 to even") << 10.5 << "0000000A";
    QTest::newRow("11.5 to even") << 11.5 << "0000000C";
    QTest::newRow("10.4999") << 10.4999 << "0000000A";
    QTest::newRow("-2.5 to even") << -2.5 << "FFFFFFFE";
    QTest::newRow("largest download sum") << 2139095040.0 << "7F800000";
    QTest::newRow("int32 max") << 2147483647.0 << "7FFFFFFF";
    QTest::newRow("int32 min") << -2147483648.0 << "80000000";
}

void FontLibTest::checkCharDigits()
{
    QFETCH(double, checksum);
    QFETCH(QString, digits);

    Rig rig;
    rig.CheckChar(checksum, 0, 511);

    const Bytes wire = rig.Sent();
    fr::SendBuffer buf{};
    std::uint8_t x = 0;
    fr::BuildCheckFrame(buf, x, fr::QualChecksum, 0, 511, fontlib::CheckSumValue(checksum));
    QCOMPARE(wire.size(), std::size_t{fr::CheckFrameLen});
    QCOMPARE(Text(wire, 0, 23), Text(WireBytes(buf, 23), 0, 23));
    QCOMPARE(QString::fromStdString(Text(wire, 1, 19)), "aCZ000001FF" + digits);
    QCOMPARE(rig.MSComm1.clearCalls, 1);
}

void FontLibTest::checkCharOutOfRangeSendsNothing_data()
{
    QTest::addColumn<double>("checksum");

    QTest::newRow("2147483648") << 2147483648.0;
    QTest::newRow("2147483647.5 rounds up") << 2147483647.5;
    QTest::newRow("-2147483649") << -2147483649.0;
    QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity();
    QTest::newRow("minus infinity") << -std::numeric_limits<double>::infinity();
}

void FontLibTest::checkCharOutOfRangeSendsNothing()
{
    QFETCH(double, checksum);

    Rig rig;
    const fontlib::FontOutcome outcome = rig.CheckChar(checksum, 0, 1);
    QCOMPARE(outcome.ending, fontlib::FontEnding::OutOfRange);
    QCOMPARE(outcome.error, err::Overflow);
    QVERIFY(rig.Sent().empty());
    QCOMPARE(rig.MSComm1.clearCalls, 0);
}

void FontLibTest::checkCharAgainstTheDevice()
{
    Rig rig;
    const Bytes file = Pattern(3 * 256);
    rig.files.Put(QStringLiteral("Hzk16s.bin"), file);
    QVERIFY(rig.DownChar(QStringLiteral("Hzk16s"), 40, 42).Verified());
    const Captions afterDownload = rig.window.captions;

    QVERIFY(rig.CheckChar(Sum(file), 40, 42).Verified());
    QCOMPARE(rig.MSComm1.closeCalls, 0);

    QCOMPARE(rig.CheckChar(Sum(file) + 1.0, 40, 42).ending, fontlib::FontEnding::SumDiffers);
    QCOMPARE(rig.MSComm1.closeCalls, 1);
    QCOMPARE(rig.CheckChar(Sum(file), 40, 41).ending, fontlib::FontEnding::SumDiffers);
    // Nothing shows in the window.
    QCOMPARE(rig.Panel(), Setting);
    QCOMPARE(rig.window.captions, afterDownload);
    QCOMPARE(rig.stats().checksumChecks, 3);
}

void FontLibTest::checkCharLowerCaseReplyFails()
{
    devsim::Options options;
    options.lowerCaseCheckDigits = true;
    Rig rig(options);
    rig.files.Put(QStringLiteral("Hzk12.bin"), Pattern(256));
    QCOMPARE(rig.DownChar(QStringLiteral("Hzk12"), 0, 0).ending, fontlib::FontEnding::SumDiffers);
    const std::uint32_t sum = rig.device.device.FontSum(0, 0);
    QVERIFY(fr::Hex(sum, 8).find_first_of("ABCDEF") != std::string::npos);
    rig.MSComm1.closeCalls = 0;

    QCOMPARE(rig.CheckChar(sum, 0, 0).ending, fontlib::FontEnding::SumDiffers);
    QCOMPARE(rig.MSComm1.closeCalls, 1);
}

void FontLibTest::silentCheckIsNotTakenFromAnEarlierReply()
{
    Rig rig;
    rig.files.Put(QStringLiteral("Hzk12.bin"), Pattern(256));
    QVERIFY(rig.DownChar(QStringLiteral("Hzk12"), 0, 0).Verified());
    const std::uint32_t sum = rig.device.device.FontSum(0, 0);
    QVERIFY(rig.CheckChar(sum, 0, 0).Verified());

    // The matching digits of that reply are still in RecBuf.
    rig.Deafen();
    const std::int64_t start = rig.clock.Now();
    QCOMPARE(rig.CheckChar(sum, 0, 0).ending, fontlib::FontEnding::NoAnswer);
    QCOMPARE(rig.clock.Now() - start, std::int64_t{2 * 5000});
    QCOMPARE(rig.Panel(), Setting + " 通讯失败");
    QCOMPARE(rig.MSComm1.closeCalls, 1);
}

void FontLibTest::lateCheckReplyDoesNotAnswerTheNextCheck()
{
    devsim::Options options;
    options.replyDelayMs = 6000;  // after the time-out, within twice it
    Rig rig(options);
    // Nothing stored: the device's own sum of page 0 is 0, which matches.
    QCOMPARE(rig.CheckChar(0, 0, 0).ending, fontlib::FontEnding::NoAnswer);
    QCOMPARE(rig.Panel(), Setting + " 通讯失败");
    rig.Deafen();
    QCOMPARE(rig.CheckChar(0, 0, 0).ending, fontlib::FontEnding::NoAnswer);
}

QTEST_GUILESS_MAIN(FontLibTest)
#include "tst_fontlib.moc"
