// The simulated device driven directly: frames in, actions out, no clock.

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cctype>
#include <numeric>
#include <random>

#include "device.h"
#include "frame/frame.h"
#include "wire.h"

using namespace modburn::devsim;
using modburn::WireBytes;
namespace fr = modburn::frame;

namespace {

using Bytes = std::vector<std::uint8_t>;
using ModuleData = std::array<std::uint8_t, fr::ModulePageSize>;
using FontData = std::array<std::uint8_t, fr::FontPageSize>;

// What goes wrong in a font download; from Page8000 on, the write of page 11 is refused.
enum Fault { NoFault, CorruptPage, MalformedCheck, SumOneHigh, Page8000, BadChecksumDigit, LowerCaseDigit };

// Frames exactly as the tool builds them; a check request stays in `buf` to judge the reply by.
std::uint8_t FrameXor = 0;
fr::SendBuffer Scratch{};
Bytes ShortFrame(char command)
{
    return WireBytes(Scratch, fr::BuildShortFrame(Scratch, command));
}
Bytes PageFrame(int page, const ModuleData& d)
{
    return WireBytes(Scratch, fr::BuildPageFrame(Scratch, FrameXor, page, d));
}
Bytes FontFrame(int page, const FontData& data)
{
    return WireBytes(Scratch, fr::BuildFontPageFrame(Scratch, FrameXor, static_cast<std::int16_t>(page), data));
}
Bytes CheckFrame(fr::SendBuffer& buf, char qualifier, int first, int last, std::uint32_t sum)
{
    const auto page = [](int p) { return static_cast<std::int16_t>(p); };
    return WireBytes(buf, fr::BuildCheckFrame(buf, FrameXor, qualifier, page(first), page(last), sum));
}

ModuleData Pattern(int seed)
{
    ModuleData d{};
    std::iota(d.begin(), d.end(), static_cast<std::uint8_t>(seed * 7 + 1));
    return d;
}

template <typename... Rest>
Bytes Cat(Bytes out, const Rest&... rest)
{
    (out.insert(out.end(), rest.begin(), rest.end()), ...);
    return out;
}

// Each write in hex, marked when it closes the connection.
QStringList Writes(const std::vector<Action>& actions)
{
    QStringList out;
    for (const Action& a : actions) {
        const QByteArray bytes(reinterpret_cast<const char*>(a.bytes.data()), qsizetype(a.bytes.size()));
        out << bytes.toHex(' ').toUpper() + (a.close ? " +close" : "");
    }
    return out;
}

// One device with one connection, options set by `setup`.
struct Rig {
    explicit Rig(const std::function<void(Options&)>& setup = {})
        : device([&] {
              Options o;
              if (setup)
                  setup(o);
              return o;
          }())
    {
    }
    std::vector<Action> Feed(const Bytes& bytes, std::size_t chunk = SIZE_MAX)
    {
        std::vector<Action> out;
        for (std::size_t pos = 0; pos < bytes.size(); pos += chunk) {
            for (Action& a : session.Feed(std::span(bytes.data() + pos, std::min(chunk, bytes.size() - pos))))
                out.push_back(std::move(a));
        }
        return out;
    }
    QStringList Writes(const Bytes& bytes) { return ::Writes(Feed(bytes)); }
    Bytes Reply(const Bytes& bytes) { return Feed(bytes).at(0).bytes; }
    bool Stored(int page, const ModuleData& data) const
    {
        return std::equal(data.begin(), data.end(), device.Flash().begin() + page * fr::ModulePageSize);
    }
    bool Erased(int pages = fr::ModulePages) const
    {
        const auto& flash = device.Flash();
        return std::all_of(flash.begin(), flash.begin() + pages * fr::ModulePageSize, [](auto b) { return b == 0xFF; });
    }
    Device device;
    Session session{device};
};

// One valid frame of each kind the device knows.
enum Kind { BurnEnable, Search, Erase, ModulePage, FontPage, DownloadCheck, ChecksumCheck, KindCount };
const char* const KindNames[KindCount] = {"burn-enable",     "search",         "erase",         "page frame",
                                          "font page frame", "download check", "checksum check"};

Bytes FrameOf(int kind)
{
    fr::SendBuffer request{};
    FontData font{};
    font.fill(0x3C);
    switch (kind) {
    case BurnEnable:
        return ShortFrame(fr::CmdBurnEnable);
    case Search:
        return ShortFrame(fr::CmdSearch);
    case Erase:
        return ShortFrame(fr::CmdErase);
    case ModulePage:
        return PageFrame(3, Pattern(3));
    case FontPage:
        return FontFrame(9, font);
    case DownloadCheck:
        return CheckFrame(request, fr::QualFont, 0, 9, 0);
    default:
        return CheckFrame(request, fr::QualChecksum, 0, 9, 0);
    }
}

// What the frame left behind, beyond its reply.
bool FrameTookEffect(int kind, const Rig& rig)
{
    if (kind == ModulePage)
        return rig.Stored(3, Pattern(3));
    if (kind == FontPage)
        return rig.device.HasFontPage(9);
    return true;
}

Bytes Text(const QByteArray& bytes)
{
    return Bytes(bytes.begin(), bytes.end());
}

}  // namespace

class TestDevice : public QObject {
    Q_OBJECT

private slots:
    void shortCommands_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("silent");  // burn-enables left unanswered first
        QTest::addColumn<QStringList>("writes");
        QTest::newRow("burn-enable answered 06") << QByteArray("\002aPQ\003") << 0 << QStringList{"06"};
        QTest::newRow("burn-enable answered after 3 silent") << QByteArray("\002aPQ\003") << 3 << QStringList{"06"};
        QTest::newRow("search answered 06") << QByteArray("\002aCQ\003") << 0 << QStringList{"06"};
        QTest::newRow("erase answered 06") << QByteArray("\002aEQ\003") << 0 << QStringList{"06"};
        QTest::newRow("unknown command, no reply") << QByteArray("\002aXQ\003") << 0 << QStringList{};
        QTest::newRow("missing ETX, no reply") << QByteArray("\002aPQ\004") << 0 << QStringList{};
        QTest::newRow("missing ETX, STX in its place starts a search")
            << QByteArray("\002aPQ\002aCQ\003") << 0 << QStringList{"06"};
    }
    void shortCommands()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, silent);
        QFETCH(QStringList, writes);
        Rig rig([&](Options& o) { o.silentBurnEnables = silent; });
        for (int i = 0; i < silent; ++i) {
            QCOMPARE(rig.Writes(Bytes(frame.begin(), frame.end())), QStringList{});
            QCOMPARE(rig.Writes(ShortFrame(fr::CmdSearch)), QStringList{"06"});  // others still answered
        }
        QCOMPARE(rig.Writes(Bytes(frame.begin(), frame.end())), writes);
    }

    void wholeRunIndependentOfChunking_data()
    {
        QTest::addColumn<std::size_t>("chunk");
        QTest::newRow("one chunk") << std::size_t{SIZE_MAX};
        QTest::newRow("byte by byte") << std::size_t{1};
        QTest::newRow("chunks of 137") << std::size_t{137};
    }
    void wholeRunIndependentOfChunking()
    {
        QFETCH(std::size_t, chunk);
        Bytes run = ShortFrame(fr::CmdErase);
        for (int page = 0; page < fr::ModulePages; ++page)
            run = Cat(run, PageFrame(page, Pattern(page)));
        Rig rig;
        const auto actions = rig.Feed(run, chunk);
        QCOMPARE(Writes(actions), QStringList{"06"} + QStringList(128, "05") + QStringList{"AF DC CC"});
        for (int page = 0; page < fr::ModulePages; ++page)
            QVERIFY2(rig.Stored(page, Pattern(page)), qPrintable(QString::number(page)));
    }

    void pageFrames_data()
    {
        // STX 'a' 'W' 'Q', page digits at 4..5, data digits 6..133, ETX at 134, raw checksum at 135.
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("position");  // byte to spoil, or -1 for none
        QTest::addColumn<int>("value");
        QTest::newRow("valid page stored, answered 05") << 5 << -1 << 0;
        QTest::newRow("checksum byte forced to 02 (STX)") << 5 << 135 << int{fr::STX};
        QTest::newRow("checksum byte forced to 03 (ETX)") << 5 << 135 << int{fr::ETX};
        QTest::newRow("lower-case digit") << 5 << 6 << int{'a'};
        QTest::newRow("bad ETX") << 5 << 134 << int{'0'};
        QTest::newRow("page 128") << 128 << -1 << 0;
    }
    void pageFrames()
    {
        QFETCH(int, page);
        QFETCH(int, position);
        QFETCH(int, value);
        ModuleData data = Pattern(5);
        data[0] = 0xAB;  // a letter digit to lower-case
        Bytes f = PageFrame(page, data);
        if (position >= 0)
            f[static_cast<std::size_t>(position)] = static_cast<std::uint8_t>(value);
        if (position < 134)  // keep the checksum right over a spoiled digit
            f[135] = std::accumulate(f.begin() + 1, f.begin() + 134, std::uint8_t{0}, std::bit_xor<>());
        const bool valid = position < 0 && page < fr::ModulePages;

        // A splitter resyncing inside the page frame would read STX "aCQ" ETX as a search.
        Rig rig;
        const auto actions = rig.Feed(Cat(f, Bytes{'a', 'C', 'Q', fr::ETX}, PageFrame(10, Pattern(10))), 1);
        QCOMPARE(Writes(actions), (valid ? QStringList{"05", "05"} : QStringList{"15", "AF DC CC", "05"}));
        QCOMPARE(rig.Stored(5, data), valid);
        QVERIFY(valid || rig.Erased(10));
        QVERIFY(rig.Stored(10, Pattern(10)));
    }

    void repeatedPageFaults_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("reject");
        QTest::addColumn<int>("drops");
        QTest::newRow("page 5 rejected every time") << 5 << true << 0;
        QTest::newRow("page 5 reply dropped twice, data stored") << 5 << false << 2;
        QTest::newRow("page 127 reply and lock bytes dropped once") << 127 << false << 1;
    }
    void repeatedPageFaults()
    {
        QFETCH(int, page);
        QFETCH(bool, reject);
        QFETCH(int, drops);
        Rig rig([&](Options& o) {
            o.rejectPages = reject ? std::set{page} : std::set<int>{};
            o.dropPageReplies[page] = drops;
        });
        const QStringList answered = page == 127 ? QStringList{"05", "AF DC CC"} : QStringList{"05"};
        for (int attempt = 0; attempt < 3; ++attempt) {
            QCOMPARE(rig.Writes(PageFrame(page, Pattern(attempt))), (reject            ? QStringList{"15", "AF DC CC"}
                                                                     : attempt < drops ? QStringList{}
                                                                                       : answered));
            QCOMPARE(rig.Stored(page, Pattern(attempt)), !reject);
        }
        QCOMPARE(rig.Writes(PageFrame(6, Pattern(6))), QStringList{"05"});  // other pages unaffected
    }

    void closeAfterPageOnlyOnce()
    {
        Rig rig([](Options& o) { o.closeAfterPage = 5; });
        // Nothing after the page is looked at, then or later.
        QCOMPARE(rig.Writes(Cat(PageFrame(5, Pattern(5)), ShortFrame(fr::CmdSearch))), QStringList{"05 +close"});
        QCOMPARE(rig.Writes(ShortFrame(fr::CmdSearch)), QStringList{});
        Session reconnect(rig.device);
        QCOMPARE(Writes(reconnect.Feed(PageFrame(5, Pattern(6)))), QStringList{"05"});
        QVERIFY(rig.Stored(5, Pattern(6)));
    }

    void replyTiming_data()
    {
        QTest::addColumn<bool>("coalesce");
        QTest::newRow("lock bytes as a separate delayed write") << false;
        QTest::newRow("lock bytes coalesced in the same write") << true;
    }
    void replyTiming()
    {
        QFETCH(bool, coalesce);
        Rig rig([&](Options& o) {
            o.replyDelayMs = 2;
            o.pageWriteMs = 5;
            o.eraseMs = 10;
            o.fontPageWriteMs = 3;
            o.lockBytes = {0x12, 0x02, 0x03};
            o.lockDelayMs = 35;
            o.coalesceLock = coalesce;
        });
        QCOMPARE(rig.Feed(ShortFrame(fr::CmdSearch)).at(0).delayMs, 2);
        QCOMPARE(rig.Feed(ShortFrame(fr::CmdErase)).at(0).delayMs, 12);
        QCOMPARE(rig.Feed(FontFrame(0, FontData{})).at(0).delayMs, 5);
        const auto actions = rig.Feed(PageFrame(127, Pattern(127)));
        QCOMPARE(Writes(actions), (coalesce ? QStringList{"05 12 02 03"} : QStringList{"05", "12 02 03"}));
        QCOMPARE(actions.front().delayMs, 7);
        QCOMPARE(actions.back().delayMs, coalesce ? 7 : 35);
    }

    void eraseAndFlashOut()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile file(dir.filePath(QStringLiteral("flash.bin")));
        Rig rig([&](Options& o) { o.flashOut = file.fileName().toStdString(); });
        for (int page = 0; page < 127; ++page)
            rig.Feed(PageFrame(page, Pattern(page)));
        QVERIFY(!file.exists());
        rig.Feed(PageFrame(127, Pattern(127)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray(reinterpret_cast<const char*>(rig.device.Flash().data()), ModuleFlashSize));
        QCOMPARE(rig.Writes(ShortFrame(fr::CmdErase)), QStringList{"06"});
        QVERIFY(rig.Erased());
    }

    void fontPagesAndCheck_data()
    {
        QTest::addColumn<char>("qualifier");
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("fault");
        QTest::newRow("download check over pages 10..11") << fr::QualFont << 11 << int{NoFault};
        QTest::newRow("checksum check over pages 10..11") << fr::QualChecksum << 11 << int{NoFault};
        QTest::newRow("check over 10..7FFF, unwritten pages count 0") << fr::QualFont << 0x7FFF << int{NoFault};
        QTest::newRow("corrupted font page fails") << fr::QualFont << 11 << int{CorruptPage};
        QTest::newRow("malformed check never matches") << fr::QualChecksum << 11 << int{MalformedCheck};
        QTest::newRow("sum one too high fails") << fr::QualChecksum << 11 << int{SumOneHigh};
        QTest::newRow("font page 0x8000 refused") << fr::QualFont << 11 << int{Page8000};
        QTest::newRow("font page with bad checksum refused") << fr::QualFont << 11 << int{BadChecksumDigit};
        QTest::newRow("font page with lower-case digit refused") << fr::QualFont << 11 << int{LowerCaseDigit};
    }
    void fontPagesAndCheck()
    {
        QFETCH(char, qualifier);
        QFETCH(int, last);
        QFETCH(int, fault);
        // 300 bytes of font data, padded with zeros into pages 10 and 11.
        std::array<FontData, 2> pages{};
        std::uint32_t sum = 0;
        for (std::size_t i = 0; i < 300; ++i)
            sum += pages[i / 256][i % 256] = static_cast<std::uint8_t>(i * 37 + 11);
        const bool refused = fault >= Page8000;
        Rig rig([&](Options& o) { o.corruptFontPages = fault == CorruptPage ? std::set{11} : std::set<int>{}; });
        for (int i = 0; i < 2; ++i) {
            const bool spoil = i == 1 && refused;
            Bytes f = FontFrame(spoil && fault == Page8000 ? 0x8000 : 10 + i, pages[static_cast<std::size_t>(i)]);
            if (spoil && fault == BadChecksumDigit)
                f[521] = f[521] == '0' ? '1' : '0';
            if (spoil && fault == LowerCaseDigit)
                f[9] = static_cast<std::uint8_t>(std::tolower(f[9]));  // page 11 starts with byte 0B
            const Bytes reply = rig.Reply(f);
            QCOMPARE(reply.size(), std::size_t{FontReplyLen});
            QCOMPARE(std::string(reply.begin() + 3, reply.begin() + 5), spoil ? "ER" : "OK");
        }
        QCOMPARE(rig.device.HasFontPage(11), !refused);
        fr::SendBuffer request{};
        Bytes f = CheckFrame(request, qualifier, 10, last, sum + (fault == SumOneHigh ? 1 : 0));
        if (fault == MalformedCheck)
            f[21] = f[21] == '0' ? '1' : '0';  // the frame's own checksum
        const Bytes reply = rig.Reply(f);      // still parsed after a refused page
        QCOMPARE(reply.size(), std::size_t{CheckReplyLen});
        fr::RecBuffer rec{};
        std::copy(reply.begin(), reply.end(), rec.begin());
        QCOMPARE(fr::CheckReplyMatches(rec, request), fault == NoFault);
        QVERIFY(fault != NoFault || std::string(reply.begin() + 11, reply.begin() + 19) == fr::Hex(sum, 8));
    }

    void fontPageFaults_data()
    {
        QTest::addColumn<bool>("reject");  // otherwise the reply is dropped
        QTest::newRow("font page 7 rejected on request, nothing stored") << true;
        QTest::newRow("font page 7 stored, reply dropped") << false;
    }
    void fontPageFaults()
    {
        QFETCH(bool, reject);
        const QStringList ok{"02 61 57 4F 4B 33 32 03"}, er{"02 61 57 45 52 32 31 03"};
        Rig rig([&](Options& o) { (reject ? o.rejectFontPages : o.dropFontPageReplies) = {7}; });
        FontData data{};
        data.fill(0x5A);
        for (int attempt = 0; attempt < 2; ++attempt)  // every time, not just the first
            QCOMPARE(rig.Writes(FontFrame(7, data)), reject ? er : QStringList{});
        QCOMPARE(rig.device.HasFontPage(7), !reject);
        QVERIFY(reject || rig.device.FontPage(7) == data);
        QCOMPARE(rig.Writes(FontFrame(8, data)), ok);  // other pages unaffected
        const Counters& stats = rig.device.Stats();
        QCOMPARE(stats.fontPagesRejected, reject ? 2 : 0);
        QCOMPARE(stats.fontRepliesDropped, reject ? 0 : 2);
        QCOMPARE(stats.fontPagesAccepted, reject ? 1 : 3);
    }

    void silentChecksRunOut()
    {
        Rig rig([](Options& o) { o.silentChecks = 3; });
        fr::SendBuffer request{};
        // Both kinds of check count towards the same three.
        const char kinds[] = {fr::QualFont, fr::QualChecksum, fr::QualFont, fr::QualChecksum, fr::QualFont};
        for (int i = 0; i < 5; ++i) {
            const Bytes f = CheckFrame(request, kinds[i], 10, 11, 0);
            QCOMPARE(rig.Writes(f), i < 3 ? QStringList{} : Rig().Writes(f));
            QCOMPARE(rig.Writes(ShortFrame(fr::CmdSearch)), QStringList{"06"});
        }
        const Counters& stats = rig.device.Stats();
        QCOMPARE(stats.silentChecks, 3);
        QCOMPARE(stats.downloadChecks, 3);
        QCOMPARE(stats.checksumChecks, 2);
    }

    void lowerCaseCheckDigits_data()
    {
        QTest::addColumn<char>("qualifier");
        QTest::newRow("download check") << fr::QualFont;
        QTest::newRow("checksum check") << fr::QualChecksum;
    }
    void lowerCaseCheckDigits()
    {
        QFETCH(char, qualifier);
        // Sum 00000ABC: an odd number of letters, so the reply's own XOR changes too.
        FontData data{};
        std::fill_n(data.begin(), 10, 0xFF);
        data[10] = 0xC6;
        Rig upper;
        Rig lower([](Options& o) { o.lowerCaseCheckDigits = true; });
        upper.Feed(FontFrame(10, data));
        lower.Feed(FontFrame(10, data));
        fr::SendBuffer request{};
        const Bytes f = CheckFrame(request, qualifier, 10, 10, 0xABC);
        const Bytes u = upper.Reply(f), l = lower.Reply(f);
        QCOMPARE(l.size(), u.size());
        QVERIFY(std::equal(u.begin(), u.begin() + 11, l.begin()));  // header and echoed pages
        QCOMPARE(std::string(u.begin() + 11, u.begin() + 19), "00000ABC");
        QCOMPARE(std::string(l.begin() + 11, l.begin() + 19), "00000abc");
        const auto xorText = [](const Bytes& r) {
            return fr::Hex(std::accumulate(r.begin() + 1, r.begin() + 19, std::uint8_t{0}, std::bit_xor<>()), 2);
        };
        QCOMPARE(std::string(l.begin() + 19, l.begin() + 21), xorText(l));
        QVERIFY(xorText(l) != xorText(u));
        QCOMPARE(l.back(), std::uint8_t{fr::ETX});
        fr::RecBuffer rec{};
        std::copy(u.begin(), u.end(), rec.begin());
        QVERIFY(fr::CheckReplyMatches(rec, request));
        std::copy(l.begin(), l.end(), rec.begin());
        QVERIFY(!fr::CheckReplyMatches(rec, request));  // the tool compares the digits as text
    }

    // Whatever a stretch of garbage ends in, the frame behind it is answered as if alone.
    void frameAfterGarbage_data()
    {
        QTest::addColumn<QByteArray>("garbage");
        QTest::addColumn<int>("kind");
        QTest::addColumn<std::size_t>("chunk");
        const std::pair<const char*, QByteArray> garbage[] = {
            {"noise without an STX", QByteArray("\x11\x7F") + "0123abcW\003"},
            {"a lone STX", QByteArray("\x02")},
            {"STX and lead letter", QByteArray("\002a")},
            {"a page header", QByteArray("\x13\002aWQ")},
            {"a page header and digits", QByteArray("\002aWQ05ABCD")},
            // The frame's STX falls where the page frame's raw checksum would be.
            {"a page header and 131 digits", QByteArray("\002aWQ") + QByteArray(131, '0')},
            {"a font page header", QByteArray("\002aWP0001")},
            {"a download check header", QByteArray("\002aCP")},
            {"a checksum check header and digits", QByteArray("\002aCZ00000009")},
            {"a burn-enable without its ETX", QByteArray("\002aPQ")},
        };
        for (const auto& [name, bytes] : garbage) {
            for (int kind = 0; kind < KindCount; ++kind) {
                for (const std::size_t chunk : {std::size_t{1}, std::size_t{SIZE_MAX}}) {
                    QTest::addRow("%s, then a %s, %s", name, KindNames[kind],
                                  chunk == 1 ? "byte by byte" : "in one piece")
                        << bytes << kind << chunk;
                }
            }
        }
    }
    void frameAfterGarbage()
    {
        QFETCH(QByteArray, garbage);
        QFETCH(int, kind);
        QFETCH(std::size_t, chunk);
        const Bytes frame = FrameOf(kind);
        Rig rig;
        QCOMPARE(Writes(rig.Feed(Cat(Text(garbage), frame), chunk)), Rig().Writes(frame));
        QVERIFY(FrameTookEffect(kind, rig));
        QCOMPARE(rig.session.Pending(), std::size_t{0});
        QCOMPARE(rig.device.Stats().pagesRejected + rig.device.Stats().fontPagesRejected, 0);
    }

    void pageHeaderNoiseThenShortAndPageFrames()
    {
        Rig rig;
        const Bytes noise{0x55, fr::STX, 'a', 'W', 'Q', '0', '7'};
        // Answered at once: no filler bytes are needed to flush the false header.
        QCOMPARE(rig.Writes(Cat(noise, ShortFrame(fr::CmdBurnEnable))), QStringList{"06"});
        QCOMPARE(rig.session.Pending(), std::size_t{0});
        QCOMPARE(rig.Writes(Cat(noise, PageFrame(7, Pattern(7)))), QStringList{"05"});
        QVERIFY(rig.Stored(7, Pattern(7)));
        QCOMPARE(rig.Writes(Cat(noise, ShortFrame(fr::CmdSearch), PageFrame(8, Pattern(8)))),
                 (QStringList{"06", "05"}));
        QVERIFY(rig.Stored(8, Pattern(8)));
        QCOMPARE(rig.device.Stats().pagesRejected, 0);
        QCOMPARE(rig.device.Stats().pagesAccepted, 2);
    }

    void randomGarbageBeforeFrame_data()
    {
        QTest::addColumn<unsigned>("seed");
        QTest::newRow("seed 3") << 3u;
        QTest::newRow("seed 99") << 99u;
        QTest::newRow("seed 2024") << 2024u;
    }
    void randomGarbageBeforeFrame()
    {
        QFETCH(unsigned, seed);
        std::mt19937 rng(seed);
        const std::uint8_t favoured[] = {fr::STX, fr::ETX, 'a', 'W', 'Q', 'P', 'C', 'Z', 'E', '0', 'F'};
        const Bytes headers[] = {{fr::STX, 'a', 'W', 'Q'},
                                 {fr::STX, 'a', 'W', 'P'},
                                 {fr::STX, 'a', 'C', 'P'},
                                 {fr::STX, 'a', 'C', 'Z'},
                                 {fr::STX, 'a', 'P', 'Q'}};
        std::uniform_int_distribution<int> any(0, 255), kindOf(0, KindCount - 1);
        std::uniform_int_distribution<std::size_t> pick(0, std::size(favoured) - 1), header(0, std::size(headers) - 1),
            size(0, 400), chunk(1, 200);
        for (int round = 0; round < 300; ++round) {
            Bytes garbage;
            const std::size_t wanted = size(rng);
            while (garbage.size() < wanted) {
                const int r = any(rng);
                if (r < 8)
                    garbage = Cat(garbage, headers[header(rng)]);
                else
                    garbage.push_back(r < 128 ? favoured[pick(rng)] : static_cast<std::uint8_t>(any(rng)));
            }
            if (any(rng) < 128)  // often ending in a header, perhaps with a few digits
                garbage = Cat(garbage, headers[header(rng)], Bytes(static_cast<std::size_t>(any(rng) % 8), '0'));
            const int kind = kindOf(rng);
            const Bytes frame = FrameOf(kind);
            Rig rig;
            rig.Feed(garbage, chunk(rng));  // whatever the garbage itself gets
            const QStringList writes = Writes(rig.Feed(frame, chunk(rng)));
            QVERIFY2(writes == Rig().Writes(frame) && FrameTookEffect(kind, rig),
                     qPrintable(QStringLiteral("round %1, %2: %3").arg(round).arg(KindNames[kind], writes.join('|'))));
            QCOMPARE(rig.session.Pending(), std::size_t{0});
        }
    }

    // No real frame has an STX before its end, so one that does is noise and gets no answer.
    void stxInsideAFrameIsNoise_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("position");
        QTest::newRow("page frame, first data digit") << int{ModulePage} << 6;
        QTest::newRow("page frame, in place of its ETX") << int{ModulePage} << 134;
        QTest::newRow("font page frame, a page digit") << int{FontPage} << 5;
        QTest::newRow("font page frame, in place of its ETX") << int{FontPage} << 522;
        QTest::newRow("download check, a sum digit") << int{DownloadCheck} << 15;
        QTest::newRow("checksum check, in place of its ETX") << int{ChecksumCheck} << 22;
    }
    void stxInsideAFrameIsNoise()
    {
        QFETCH(int, kind);
        QFETCH(int, position);
        Bytes damaged = FrameOf(kind);
        damaged[static_cast<std::size_t>(position)] = fr::STX;
        Rig rig;
        QCOMPARE(rig.Writes(Cat(damaged, ShortFrame(fr::CmdSearch))), QStringList{"06"});
        QCOMPARE(rig.device.Stats().pagesRejected + rig.device.Stats().fontPagesRejected +
                     rig.device.Stats().malformedChecks,
                 0);
        QVERIFY(!FrameTookEffect(kind, rig) || kind > FontPage);
    }

    void latePageReply_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("reject");
        QTest::addColumn<bool>("coalesce");
        QTest::addColumn<int>("drops");
        QTest::newRow("page 5 answered 300 ms late the first time only") << 5 << false << false << 0;
        QTest::newRow("page 127: reply late, lock bytes their usual gap after it") << 127 << false << false << 0;
        QTest::newRow("page 127 coalesced: reply and lock bytes late together") << 127 << false << true << 0;
        QTest::newRow("refused page 5: its 0x15 comes late") << 5 << true << false << 0;
        QTest::newRow("page 5 with its first reply dropped: the lateness goes with it") << 5 << false << false << 1;
    }
    void latePageReply()
    {
        QFETCH(int, page);
        QFETCH(bool, reject);
        QFETCH(bool, coalesce);
        QFETCH(int, drops);
        const auto setup = [&](Options& o) {
            o.replyDelayMs = 2;
            o.pageWriteMs = 5;
            o.coalesceLock = coalesce;
            o.rejectPages = reject ? std::set{page} : std::set<int>{};
            o.dropPageReplies[page] = drops;
        };
        Rig late([&](Options& o) {
            setup(o);
            o.latePageReplies = {{page, 300}};
        });
        Rig usual(setup);
        for (int attempt = 0; attempt < 3; ++attempt) {
            const auto l = late.Feed(PageFrame(page, Pattern(attempt)));
            const auto u = usual.Feed(PageFrame(page, Pattern(attempt)));
            QCOMPARE(Writes(l), Writes(u));
            for (std::size_t i = 0; i < l.size(); ++i)
                QCOMPARE(l[i].delayMs, u[i].delayMs + (attempt == 0 && i == 0 ? 300 : 0));
            QCOMPARE(late.Stored(page, Pattern(attempt)), !reject);  // stored on the late frame too
        }
        const auto other = late.Feed(PageFrame(6, Pattern(6)));
        QCOMPARE(other.at(0).delayMs, usual.Feed(PageFrame(6, Pattern(6))).at(0).delayMs);
        Counters expected = usual.device.Stats();
        expected.pageRepliesLate = drops == 0 ? 1 : 0;
        QVERIFY(late.device.Stats() == expected);
        QVERIFY(late.device.Faults().lateLeft.empty());
    }

    void lostFrames_data()
    {
        QTest::addColumn<QList<int>>("lost");
        QTest::newRow("none lost") << QList<int>{};
        QTest::newRow("the first frame lost") << QList<int>{1};
        QTest::newRow("a page frame lost: not stored, not counted") << QList<int>{4};
        QTest::newRow("a font page and a check lost") << QList<int>{6, 7};
        QTest::newRow("the last frame lost") << QList<int>{9};
        QTest::newRow("a number past the last frame") << QList<int>{10};
    }
    void lostFrames()
    {
        QFETCH(QList<int>, lost);
        // Every kind of frame once, then an erase and a second page.
        const std::vector<Bytes> frames{
            FrameOf(BurnEnable),          FrameOf(Search),   FrameOf(Erase),         FrameOf(ModulePage),
            PageFrame(127, Pattern(127)), FrameOf(FontPage), FrameOf(DownloadCheck), FrameOf(ChecksumCheck),
            PageFrame(4, Pattern(4))};
        Rig rig([&](Options& o) { o.loseFrames = std::set<int>(lost.begin(), lost.end()); });
        Rig untouched;  // fed only the frames that get through
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const bool isLost = lost.contains(static_cast<int>(i + 1));
            const QStringList expected = isLost ? QStringList{} : untouched.Writes(frames[i]);
            QCOMPARE(rig.Writes(frames[i]), expected);
        }
        Counters expected = untouched.device.Stats();
        expected.framesLost = static_cast<int>(std::count_if(lost.begin(), lost.end(), [](int n) { return n <= 9; }));
        QVERIFY(rig.device.Stats() == expected);
        QVERIFY(rig.device.Flash() == untouched.device.Flash());
        QCOMPARE(rig.device.FontPageCount(), untouched.device.FontPageCount());
        QCOMPARE(rig.device.Faults().framesReceived, 9);
    }

    void lostFramesCountedOverConnectionsAndKinds()
    {
        Rig rig([](Options& o) {
            o.loseFrames = {2, 4};
            o.silentBurnEnables = 1;
        });
        Session second(rig.device);
        // 1: a burn-enable, silent; 2: lost, on the second connection, and no silence used up.
        QCOMPARE(rig.Writes(ShortFrame(fr::CmdBurnEnable)), QStringList{});
        QCOMPARE(Writes(second.Feed(ShortFrame(fr::CmdBurnEnable))), QStringList{});
        // 3: a short frame without its ETX counts too; 4: the search behind it, lost.
        QCOMPARE(rig.Writes(Cat(Text("\002aPQ"), ShortFrame(fr::CmdSearch))), QStringList{});
        QCOMPARE(rig.Writes(ShortFrame(fr::CmdBurnEnable)), QStringList{"06"});
        const Counters& stats = rig.device.Stats();
        QCOMPARE(stats.framesLost, 2);
        QCOMPARE(stats.burnEnables, 2);
        QCOMPARE(stats.silentBurnEnables, 1);
        QCOMPARE(stats.searches, 0);
        QCOMPARE(stats.malformedShortFrames, 1);
        QCOMPARE(rig.device.Faults().framesReceived, 5);
        QCOMPARE(rig.device.Faults().silentBurnEnablesLeft, 0);
    }

    void garbageNeverCrashes_data()
    {
        QTest::addColumn<unsigned>("seed");
        QTest::newRow("seed 1") << 1u;
        QTest::newRow("seed 42") << 42u;
    }
    void garbageNeverCrashes()
    {
        QFETCH(unsigned, seed);
        std::mt19937 rng(seed);
        // Favour the bytes that start and steer frames, so the splitter is exercised.
        const std::uint8_t favoured[] = {fr::STX, fr::ETX, 'a', 'W', 'Q', 'P', 'C', 'Z', 'E', '0', 'F'};
        std::uniform_int_distribution<int> any(0, 255);
        std::uniform_int_distribution<std::size_t> pick(0, std::size(favoured) - 1), chunk(1, 700);
        const auto garbage = [&](std::size_t size) {
            Bytes out(size);
            for (auto& b : out)
                b = any(rng) < 128 ? favoured[pick(rng)] : static_cast<std::uint8_t>(any(rng));
            return out;
        };
        for (int connection = 0; connection < 10; ++connection) {
            Rig rig;
            rig.Feed(garbage(5000), chunk(rng));
            rig.Feed(Bytes(600, 0x00));  // completes any frame in progress, then is dropped
            QCOMPARE(rig.Writes(ShortFrame(fr::CmdSearch)), QStringList{"06"});
        }
        // Frames of any size handed straight to the device are safe too.
        Device device;
        for (std::size_t size = 0; size < 600; size += 7) {
            for (const Action& a : device.Handle(Cat({fr::STX, 'a'}, garbage(size))))
                QVERIFY(a.bytes.size() <= std::size_t{CheckReplyLen});
        }
    }
};

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
