// Image files read into flash bytes: the same firmware as raw binary, Intel
// HEX, S-record and ELF, made by the AVR toolchain, gives the same flash and
// digest; and every kind of bad file is refused with a one-line reason.

#include "image/image.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace modburn::image;

namespace {

QByteArray Hex(QByteArray bytes)
{
    return bytes.toHex().toUpper();
}

// One Intel HEX record with its checksum, or with `checksumDelta` added to it.
QByteArray IhexRecord(int address, int type, const QByteArray& data, int checksumDelta = 0)
{
    QByteArray body;
    body.append(char(data.size())).append(char(address >> 8)).append(char(address)).append(char(type)).append(data);
    int sum = 0;
    for (const char c : body)
        sum += static_cast<unsigned char>(c);
    body.append(char(-sum + checksumDelta));
    return ':' + Hex(body) + '\n';
}

QByteArray SrecRecord(char type, int address, const QByteArray& data, int checksumDelta = 0)
{
    QByteArray body;
    body.append(char(data.size() + 3)).append(char(address >> 8)).append(char(address)).append(data);
    int sum = 0;
    for (const char c : body)
        sum += static_cast<unsigned char>(c);
    body.append(char(~sum + checksumDelta));
    return QByteArray("S") + type + Hex(body) + '\n';
}

const QByteArray IhexEnd = ":00000001FF\n";
const QByteArray SrecEnd = "S9030000FC\n";

QByteArray Flash(const Image& image)
{
    return QByteArray(reinterpret_cast<const char*>(image.flash.data()), FlashSize);
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The program's stderr when it fails, empty when it succeeds.
QString Run(const QString& program, const QStringList& arguments, const QString& folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return program + QStringLiteral(" did not finish");
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return program + QStringLiteral(": ") + QString::fromLocal8Bit(process.readAllStandardError());
    return QString();
}

}  // namespace

class ImageTest : public QObject {
    Q_OBJECT
private slots:
    void formatNames();
    void toolchainFilesGiveTheSameFlash();
    void refusals_data();
    void refusals();
    void forcedBinTakesTextAsBytes();
    void sameBytesMayOverlap();
};

void ImageTest::formatNames()
{
    for (const Format f : {Format::Auto, Format::Bin, Format::Ihex, Format::Srec, Format::Elf})
        QCOMPARE(ParseFormat(FormatName(f)), f);
    QCOMPARE(ParseFormat(u"hex"), std::nullopt);
    QCOMPARE(ParseFormat(u"BIN"), std::nullopt);
}

void ImageTest::toolchainFilesGiveTheSameFlash()
{
    const QString gcc = QStandardPaths::findExecutable(QStringLiteral("avr-gcc"));
    const QString objcopy = QStandardPaths::findExecutable(QStringLiteral("avr-objcopy"));
    if (gcc.isEmpty() || objcopy.isEmpty())
        QSKIP("avr-gcc or avr-objcopy missing: install gcc-avr, binutils-avr and avr-libc (scripts/deps.sh --checks)");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Initialised data (RAM contents that the start-up copies from flash) makes .data non-empty.
    QFile source(dir.filePath(QStringLiteral("fw.c")));
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.write("volatile unsigned char counter = 42;\n"
                 "const char greeting[] = \"hello, module\";\n"
                 "int main(void) { for (;;) counter += greeting[counter & 7]; }\n");
    source.close();
    const QString built = Run(gcc, {"-mmcu=atmega8", "-Os", "fw.c", "-o", "fw.elf"}, dir.path());
    if (!built.isEmpty())
        QSKIP(qPrintable(QStringLiteral("avr-gcc cannot build for the atmega8 (avr-libc missing?): ") + built));
    const QStringList sections{"-j", ".text", "-j", ".data"};
    for (const auto& [format, file] : {std::pair{"binary", "fw.bin"}, {"ihex", "fw.hex"}, {"srec", "fw.srec"}})
        QCOMPARE(Run(objcopy, QStringList{"-O", format} + sections + QStringList{"fw.elf", file}, dir.path()),
                 QString());
    QCOMPARE(Run(objcopy, {"--change-section-lma", ".text+0x2000", "fw.elf", "high.elf"}, dir.path()), QString());
    QCOMPARE(Run(objcopy, {"-R", ".text", "-R", ".data", "fw.elf", "bare.elf"}, dir.path()), QString());

    const QByteArray bin = ReadAll(dir.filePath(QStringLiteral("fw.bin")));
    QVERIFY(bin.contains("hello, module"));  // the .data bytes, placed after .text
    QVERIFY(bin.size() > 0 && bin.size() <= FlashSize);
    const QByteArray padded = bin + QByteArray(FlashSize - bin.size(), '\0');
    const QString digest = QString::fromLatin1(QCryptographicHash::hash(bin, QCryptographicHash::Sha256).toHex());

    const QByteArray hex = ReadAll(dir.filePath(QStringLiteral("fw.hex")));
    const QByteArray srec = ReadAll(dir.filePath(QStringLiteral("fw.srec")));
    // As edited on another system: CR LF endings and blank lines around the records.
    const auto edited = [](QByteArray text) { return "\r\n" + text.replace("\n", "\r\n") + "\r\n\r\n"; };
    const struct {
        const char* file;
        QByteArray content;
        Format format;
    } cases[] = {
        {"fw.bin", bin, Format::Bin},
        {"fw.hex", hex, Format::Ihex},
        {"fw.srec", srec, Format::Srec},
        {"fw.elf", ReadAll(dir.filePath(QStringLiteral("fw.elf"))), Format::Elf},
        {"fw.hex with CR LF and blank lines", edited(hex), Format::Ihex},
        {"fw.srec with CR LF and blank lines", edited(srec), Format::Srec},
    };
    for (const auto& c : cases) {
        for (const Format asked : {Format::Auto, c.format}) {
            const LoadResult got = Load(c.content, asked);
            QVERIFY2(got.image, qPrintable(QStringLiteral("%1: %2").arg(c.file, got.error)));
            QCOMPARE(got.image->format, c.format);
            QCOMPARE(got.image->length, bin.size());
            QCOMPARE(Flash(*got.image), padded);
            QCOMPARE(got.image->sha256, digest);
        }
    }

    const LoadResult high = Load(ReadAll(dir.filePath(QStringLiteral("high.elf"))));
    QVERIFY(!high.image);
    QVERIFY2(high.error.startsWith(QStringLiteral("section .text: data at 0x2000..")), qPrintable(high.error));
    const LoadResult bare = Load(ReadAll(dir.filePath(QStringLiteral("bare.elf"))));
    QCOMPARE(bare.error, QStringLiteral("ELF has no .text or .data to load"));
}

void ImageTest::refusals_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<Format>("format");
    QTest::addColumn<QString>("reason");

    const QByteArray four("\x01\x02\x03\x04", 4);
    const QByteArray good = IhexRecord(0, 0, four);
    QTest::newRow("ihex bad checksum names its line")
        << good + IhexRecord(4, 0, four, 1) + IhexEnd << Format::Auto << "line 2: checksum mismatch";
    QTest::newRow("ihex line numbers count CR LF and blank lines")
        << QByteArray("\r\n \r\n") + good.chopped(1) + "\r\n" + IhexRecord(4, 0, four, 1) + IhexEnd << Format::Auto
        << "line 4: checksum mismatch";
    QTest::newRow("ihex data at 0x2000") << good + IhexRecord(0x2000, 0, four) + IhexEnd << Format::Auto
                                         << "line 2: data at 0x2000..0x2003 is beyond the 8192 bytes of flash";
    QTest::newRow("ihex data running past the flash's end")
        << IhexRecord(0x1FFE, 0, four) + IhexEnd << Format::Ihex << "line 1: data at 0x1FFE..0x2001 is beyond";
    QTest::newRow("ihex data above 64 KiB") << IhexRecord(0, 4, QByteArray("\x00\x01", 2)) + good + IhexEnd
                                            << Format::Auto << "line 2: data at 0x10000..0x10003 is beyond";
    QTest::newRow("ihex overlapping different bytes")
        << good + IhexRecord(2, 0, QByteArray("\x03\xFF", 2)) + IhexEnd << Format::Auto
        << "line 2: data at 0x0003 overlaps earlier data with a different byte";
    QTest::newRow("ihex garbage line") << good + "hello\n" + IhexEnd << Format::Auto << "line 2: not a record";
    QTest::newRow("ihex without its end record") << good << Format::Auto << "end of file: no end-of-file record";
    QTest::newRow("ihex of the end record only") << IhexEnd << Format::Auto << "line 1: file contains no data";
    QTest::newRow("srec bad checksum names its line")
        << "S00600004844521B\n" + SrecRecord('1', 0, four, 1) + SrecEnd << Format::Auto << "line 2: checksum mismatch";
    QTest::newRow("srec data at 0x2000") << SrecRecord('1', 0x2000, four) + SrecEnd << Format::Auto
                                         << "line 1: data at 0x2000..0x2003 is beyond";
    QTest::newRow("srec overlapping different bytes")
        << SrecRecord('1', 0, four) + SrecRecord('1', 3, QByteArray("\x05", 1)) + SrecEnd << Format::Srec
        << "line 2: data at 0x0003 overlaps";
    QTest::newRow("srec without data") << "S00600004844521B\n" + SrecEnd << Format::Auto
                                       << "end of file: file contains no data";
    QTest::newRow("srec without its end record")
        << SrecRecord('1', 0, four) << Format::Auto << "end of file: no execution start address record";
    QTest::newRow("ELF for another machine (this x86-64 test)")
        << ReadAll(QCoreApplication::applicationFilePath()) << Format::Auto << "ELF for machine 62, not AVR (83)";
    QTest::newRow("elf forced on a hex file") << good + IhexEnd << Format::Elf << "not an ELF file";
    QTest::newRow("text that is no format")
        << QByteArray("hello, world\nnot firmware\n") << Format::Auto << "text that is neither Intel HEX nor S-record";
    QTest::newRow("text forced to ihex") << QByteArray("hello, world\n") << Format::Ihex << "line 1: not a record";
    QTest::newRow("empty file") << QByteArray() << Format::Auto << "the file is empty";
    QTest::newRow("raw binary larger than the flash")
        << QByteArray(FlashSize + 1, '\0') << Format::Auto << "raw image of 8193 bytes is larger than";
}

void ImageTest::refusals()
{
    QFETCH(QByteArray, content);
    QFETCH(Format, format);
    QFETCH(QString, reason);
    const LoadResult got = Load(content, format);
    QVERIFY(!got.image);
    QVERIFY2(got.error.startsWith(reason), qPrintable(got.error));
    QVERIFY(!got.error.contains(QLatin1Char('\n')));
}

void ImageTest::forcedBinTakesTextAsBytes()
{
    const QByteArray text("hello, world\n");
    const LoadResult got = Load(text, Format::Bin);
    QVERIFY2(got.image, qPrintable(got.error));
    QCOMPARE(got.image->format, Format::Bin);
    QCOMPARE(got.image->length, text.size());
    QCOMPARE(Flash(*got.image), text + QByteArray(FlashSize - text.size(), '\0'));
    QCOMPARE(got.image->sha256,
             QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex()));
}

void ImageTest::sameBytesMayOverlap()
{
    const QByteArray content = IhexRecord(0x10, 0, "abcd") + IhexRecord(0x12, 0, "cdef") + IhexEnd;
    const LoadResult got = Load(content);
    QVERIFY2(got.image, qPrintable(got.error));
    QCOMPARE(got.image->length, 0x16);
    QCOMPARE(Flash(*got.image).mid(0x10, 6), QByteArray("abcdef"));
    QCOMPARE(Flash(*got.image).left(0x10), QByteArray(0x10, '\0'));
}

QTEST_GUILESS_MAIN(ImageTest)
#include "tst_image.moc"
