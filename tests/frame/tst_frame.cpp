// Frame builders, hex digits, checksums and reply rules against hand-made frames.

#include "frame/frame.h"

#include <QtTest>

#include <vector>

using namespace modburn::frame;

namespace {

QByteArray Sent(const SendBuffer& buf, int length)
{
    QByteArray out;
    for (int i = 0; i < length; ++i) {
        const auto v = buf[static_cast<std::size_t>(i)];
        if (v < 0 || v > 255)
            return QByteArray("<element out of byte range>");
        out.append(static_cast<char>(v));
    }
    return out;
}

std::vector<std::uint8_t> Filled(std::size_t size, std::uint8_t value)
{
    return std::vector<std::uint8_t>(size, value);
}

}  // namespace

class FrameTest : public QObject {
    Q_OBJECT
private slots:
    void hexEncoding_data();
    void hexEncoding();
    void shortFrames_data();
    void shortFrames();
    void pageFrameChecksum_data();
    void pageFrameChecksum();
    void pageFrameLayout();
    void fontPageFrame_data();
    void fontPageFrame();
    void checkFrame_data();
    void checkFrame();
    void builderTouchesOnlyItsFrame();
    void replyRules();
    void lockText_data();
    void lockText();
};

void FrameTest::hexEncoding_data()
{
    QTest::addColumn<quint32>("value");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("digits");
    QTest::newRow("byte 0x0A keeps its leading zero") << 0x0Au << 2 << "0A";
    QTest::newRow("byte 0x05 is two digits") << 0x05u << 2 << "05";
    QTest::newRow("byte 0xFF upper case") << 0xFFu << 2 << "FF";
    QTest::newRow("page 0 as four digits") << 0u << 4 << "0000";
    QTest::newRow("page 300 as 012C") << 300u << 4 << "012C";
    QTest::newRow("page 511 as 01FF") << 511u << 4 << "01FF";
    QTest::newRow("sum zero as eight digits") << 0u << 8 << "00000000";
    QTest::newRow("largest font sum") << 2139095040u << 8 << "7F800000";
    QTest::newRow("all bits") << 0xFFFFFFFFu << 8 << "FFFFFFFF";
}

void FrameTest::hexEncoding()
{
    QFETCH(quint32, value);
    QFETCH(int, width);
    QFETCH(QString, digits);
    QCOMPARE(QString::fromStdString(Hex(value, width)), digits);
}

void FrameTest::shortFrames_data()
{
    QTest::addColumn<char>("command");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("burn-enable") << CmdBurnEnable << QByteArray("\x02\x61\x50\x51\x03", 5);
    QTest::newRow("device search") << CmdSearch << QByteArray("\x02\x61\x43\x51\x03", 5);
    QTest::newRow("erase") << CmdErase << QByteArray("\x02\x61\x45\x51\x03", 5);
}

void FrameTest::shortFrames()
{
    QFETCH(char, command);
    QFETCH(QByteArray, wire);
    SendBuffer buf{};
    const int length = BuildShortFrame(buf, command);
    QCOMPARE(length, ShortFrameLen);
    QCOMPARE(Sent(buf, length), wire);
}

void FrameTest::pageFrameChecksum_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("firstByte");
    QTest::addColumn<int>("otherBytes");
    QTest::addColumn<int>("checksum");
    QTest::newRow("page 0, zeros") << 0 << 0x00 << 0x00 << 0x67;
    QTest::newRow("page 1, first byte 0x0A") << 1 << 0x0A << 0x00 << 0x17;
    QTest::newRow("page 127, all 0xFF") << 127 << 0xFF << 0xFF << 0x16;
    QTest::newRow("page 0, all 0xFF") << 0 << 0xFF << 0xFF << 0x67;
    QTest::newRow("page 1, zeros") << 1 << 0x00 << 0x00 << 0x66;
}

void FrameTest::pageFrameChecksum()
{
    QFETCH(int, page);
    QFETCH(int, firstByte);
    QFETCH(int, otherBytes);
    QFETCH(int, checksum);
    std::array<std::uint8_t, ModulePageSize> data{};
    data.fill(static_cast<std::uint8_t>(otherBytes));
    data[0] = static_cast<std::uint8_t>(firstByte);
    SendBuffer buf{};
    std::uint8_t xorSum = 0xAA;  // must start afresh
    QCOMPARE(BuildPageFrame(buf, xorSum, page, data), PageFrameLen);
    QCOMPARE(int(buf[134]), int(ETX));
    QCOMPARE(int(buf[135]), checksum);
    QCOMPARE(int(xorSum), checksum);
}

void FrameTest::pageFrameLayout()
{
    std::array<std::uint8_t, ModulePageSize> data{};
    for (std::size_t j = 0; j < data.size(); ++j)
        data[j] = static_cast<std::uint8_t>(j * 5);
    SendBuffer buf{};
    std::uint8_t xorSum = 0;
    BuildPageFrame(buf, xorSum, 127, data);
    const QByteArray wire = Sent(buf, PageFrameLen);
    QVERIFY(wire.startsWith(QByteArray("\x02\x61\x57\x51\x37\x46", 6)));
    // Image byte j lies at positions 6+2j and 7+2j, high digit first.
    QCOMPARE(wire.mid(6, 8), QByteArray("00050A0F"));
    QCOMPARE(wire.mid(6 + 2 * 51, 2), QByteArray("FF"));
    QCOMPARE(wire.mid(132, 2), QByteArray("3B"));
    std::uint8_t expected = 0;
    for (int i = 1; i <= 133; ++i)
        expected ^= static_cast<std::uint8_t>(wire[i]);
    QCOMPARE(int(buf[135]), int(expected));
}

void FrameTest::fontPageFrame_data()
{
    // QTest rows read best as written, one to a line.
    // clang-format off
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("pattern");  // -1: bytes 0..255; otherwise first byte, rest 0 or all the same
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("tail");
    QTest::newRow("page 0, zeros") << 0 << 0x00 << QByteArray("\x02" "aWP0000" "0000") << QByteArray("0066\x03");
    QTest::newRow("page 300, first byte 0x0A") << 300 << 0x0A << QByteArray("\x02" "aWP012C" "0A00") << QByteArray("0067\x03");
    QTest::newRow("page -1 as FFFF, all 0xFF") << -1 << 0xFF << QByteArray("\x02" "aWPFFFF" "FFFF") << QByteArray("FF66\x03");
    QTest::newRow("page 32767, bytes 0..255") << 32767 << -1 << QByteArray("\x02" "aWP7FFF" "0001") << QByteArray("FF17\x03");
    // clang-format on
}

void FrameTest::fontPageFrame()
{
    QFETCH(int, page);
    QFETCH(int, pattern);
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, tail);
    std::array<std::uint8_t, FontPageSize> data{};
    for (std::size_t j = 0; j < data.size(); ++j) {
        if (pattern < 0)
            data[j] = static_cast<std::uint8_t>(j);
        else if (pattern == 0xFF)
            data[j] = 0xFF;
        else
            data[j] = j == 0 ? static_cast<std::uint8_t>(pattern) : 0;
    }
    SendBuffer buf{};
    std::uint8_t xorSum = 0x55;
    QCOMPARE(BuildFontPageFrame(buf, xorSum, static_cast<std::int16_t>(page), data), FontPageFrameLen);
    const QByteArray wire = Sent(buf, FontPageFrameLen);
    QVERIFY2(wire.startsWith(head), wire.left(12).constData());
    QVERIFY2(wire.endsWith(tail), wire.right(5).constData());
}

void FrameTest::checkFrame_data()
{
    // QTest rows read best as written, one to a line.
    // clang-format off
    QTest::addColumn<char>("qualifier");
    QTest::addColumn<int>("sPage");
    QTest::addColumn<int>("ePage");
    QTest::addColumn<quint32>("sum");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("download check, checksum 0x03 keeps its zero")
        << QualFont << 0 << 0 << 10u << QByteArray("\x02" "aCP000000000000000A03\x03");
    QTest::newRow("checksum check, checksum 0x02 keeps its zero")
        << QualChecksum << 0 << 8 << 11u << QByteArray("\x02" "aCZ000000080000000B02\x03");
    QTest::newRow("checksum check 0..511, largest sum")
        << QualChecksum << 0 << 511 << 2139095040u << QByteArray("\x02" "aCZ000001FF7F80000000\x03");
    QTest::newRow("download check 10..11")
        << QualFont << 10 << 11 << 0xA2F0u << QByteArray("\x02" "aCP000A000B0000A2F074\x03");
    QTest::newRow("negative first page as FFFF")
        << QualFont << -1 << 32767 << 0xFFFFFFFFu << QByteArray("\x02" "aCPFFFF7FFFFFFFFFFF03\x03");
    // clang-format on
}

void FrameTest::checkFrame()
{
    QFETCH(char, qualifier);
    QFETCH(int, sPage);
    QFETCH(int, ePage);
    QFETCH(quint32, sum);
    QFETCH(QByteArray, wire);
    SendBuffer buf{};
    std::uint8_t xorSum = 0x77;
    const int length = BuildCheckFrame(buf, xorSum, qualifier, static_cast<std::int16_t>(sPage),
                                       static_cast<std::int16_t>(ePage), sum);
    QCOMPARE(length, CheckFrameLen);
    QCOMPARE(Sent(buf, length), wire);
}

void FrameTest::builderTouchesOnlyItsFrame()
{
    SendBuffer buf{};
    buf.fill(0x1234);
    BuildShortFrame(buf, CmdErase);
    QCOMPARE(int(buf[5]), 0x1234);
    std::uint8_t xorSum = 0;
    const auto data = Filled(FontPageSize, 0x11);
    BuildFontPageFrame(buf, xorSum, 1, std::span<const std::uint8_t, FontPageSize>(data.data(), FontPageSize));
    QCOMPARE(int(buf[523]), 0x1234);
    QCOMPARE(int(buf[548]), 0x1234);
}

void FrameTest::replyRules()
{
    QVERIFY(PageAccepted(0x05));
    QVERIFY(!PageAccepted(0x00));
    QVERIFY(!PageAccepted(0x15));

    RecBuffer rec{};
    rec[3] = 'O';
    rec[4] = 'K';
    QVERIFY(FontPageAccepted(rec));
    rec[4] = 'k';
    QVERIFY(!FontPageAccepted(rec));
    rec[3] = 'K';
    rec[4] = 'O';
    QVERIFY(!FontPageAccepted(rec));

    SendBuffer sent{};
    std::uint8_t xorSum = 0;
    BuildCheckFrame(sent, xorSum, QualFont, 10, 11, 0xA2F0);
    RecBuffer reply{};
    const QByteArray digits("0000A2F0");
    for (int i = 0; i < 8; ++i)
        reply[static_cast<std::size_t>(11 + i)] = static_cast<std::uint8_t>(digits[i]);
    QVERIFY(CheckReplyMatches(reply, sent));
    reply[15] = 'a';  // lower-case "0000a2F0" is not the same characters
    QVERIFY(!CheckReplyMatches(reply, sent));
    reply[15] = 'A';
    reply[19] = 'X';  // bytes past the digits are not looked at
    QVERIFY(CheckReplyMatches(reply, sent));
    reply[10] = 'X';
    QVERIFY(CheckReplyMatches(reply, sent));
    reply[18] = '1';
    QVERIFY(!CheckReplyMatches(reply, sent));

    // A port that echoes the request: with a last page ending in 0 and a sum
    // of 0, the echo's bytes 11..18 equal the request's 12..19 character for
    // character, yet nothing has checked the pages.
    BuildCheckFrame(sent, xorSum, QualFont, 0, 0, 0);
    RecBuffer echo{};
    std::copy_n(sent.begin(), CheckReply.length, echo.begin());
    QVERIFY(!CheckReplyMatches(echo, sent));
    echo[0] = 0x06;  // one byte otherwise, and the digits are the device's own
    QVERIFY(CheckReplyMatches(echo, sent));
    QVERIFY(!CheckReplyMatches(std::span(echo).first(CheckReply.length - 1), sent));  // a reply cut short

    QVERIFY(LocksExpected(0xAF, 0xDC, 0xCC));
    QVERIFY(!LocksExpected(0xAF, 0xDC, 0x0C));
    QVERIFY(!LocksExpected(0xDC, 0xAF, 0xCC));
}

void FrameTest::lockText_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("AF") << 0xAF << "AF";
    QTest::newRow("0x0C without leading zero") << 0x0C << "C";
    QTest::newRow("zero") << 0x00 << "0";
    QTest::newRow("0x10") << 0x10 << "10";
}

void FrameTest::lockText()
{
    QFETCH(int, value);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(LockText(static_cast<std::uint8_t>(value))), text);
}

QTEST_APPLESS_MAIN(FrameTest)
#include "tst_frame.moc"
