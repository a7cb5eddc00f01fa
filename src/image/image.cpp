// Telling the format, placing what the reader found, and the digest.

#include "image/image.h"

#include "image/flash.h"

#include <QCryptographicHash>

#include <algorithm>
#include <new>

namespace modburn::image {

namespace {

QString Hex(std::uint64_t value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Text a user might mistake for an image: UTF-8 without control characters
// other than white space. AVR code always has zeros or jump opcodes in it.
bool LooksLikeText(QByteArrayView content)
{
    const bool controls = std::any_of(content.begin(), content.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && !IsBlank(c)) || u == 0x7F;
    });
    return !controls && content.isValidUtf8();
}

Format Detect(QByteArrayView content)
{
    if (content.startsWith(QByteArrayView("\x7F"
                                          "ELF")))
        return Format::Elf;
    const auto first = std::find_if_not(content.begin(), content.end(), IsBlank);
    const auto left = content.end() - first;
    if (left >= 2 && first[0] == ':' && IsHexDigit(first[1]))
        return Format::Ihex;
    if (left >= 2 && first[0] == 'S' && first[1] >= '0' && first[1] <= '9')
        return Format::Srec;
    return Format::Bin;
}

LoadResult Refused(QString why)
{
    return LoadResult{std::nullopt, std::move(why)};
}

LoadResult LoadUnguarded(QByteArrayView content, Format format)
{
    if (content.isEmpty())
        return Refused(QStringLiteral("the file is empty"));
    if (content.size() > MaxFileBytes)
        return Refused(QStringLiteral("file of %1 bytes is too large for a firmware image").arg(content.size()));

    if (format == Format::Auto) {
        format = Detect(content);
        if (format == Format::Bin && LooksLikeText(content))
            return Refused(QStringLiteral("text that is neither Intel HEX nor S-record; "
                                          "force the format bin to send it as raw bytes"));
    }

    FlashImage flash;
    std::optional<QString> why;
    switch (format) {
    case Format::Bin:
        if (content.size() > FlashSize)
            return Refused(QStringLiteral("raw image of %1 bytes is larger than the %2 bytes of flash")
                               .arg(content.size())
                               .arg(FlashSize));
        why = flash.Put(0, std::span(reinterpret_cast<const std::uint8_t*>(content.data()),
                                     static_cast<std::size_t>(content.size())));
        break;
    case Format::Ihex:
    case Format::Srec:
        why = ReadRecords(content, format, flash);
        break;
    case Format::Elf:
        why = ReadElf(content, flash);
        break;
    case Format::Auto:
        break;
    }
    if (why)
        return Refused(*why);
    if (flash.Empty())
        return Refused(QStringLiteral("%1 file holds no data").arg(FormatName(format)));

    Image image;
    image.flash = flash.Bytes();
    image.format = format;
    image.length = flash.End();
    const QByteArrayView held(reinterpret_cast<const char*>(image.flash.data()), image.length);
    image.sha256 = QString::fromLatin1(QCryptographicHash::hash(held, QCryptographicHash::Sha256).toHex());
    return LoadResult{std::move(image), QString()};
}

}  // namespace

std::optional<QString> FlashImage::Put(std::uint64_t address, std::span<const std::uint8_t> bytes)
{
    if (bytes.empty())
        return std::nullopt;
    const std::uint64_t size = bytes.size();
    if (address >= FlashSize || size > FlashSize - address) {
        return QStringLiteral("data at %1..%2 is beyond the %3 bytes of flash")
            .arg(Hex(address), Hex(address + (size - 1)))
            .arg(FlashSize);
    }
    const auto at = static_cast<std::size_t>(address);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (held_[at + i] && bytes_[at + i] != bytes[i])
            return QStringLiteral("data at %1 overlaps earlier data with a different byte").arg(Hex(at + i));
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes_[at + i] = bytes[i];
        held_[at + i] = true;
    }
    end_ = std::max(end_, static_cast<int>(at + bytes.size()));
    return std::nullopt;
}

std::optional<Format> ParseFormat(QStringView name)
{
    for (const Format f : {Format::Auto, Format::Bin, Format::Ihex, Format::Srec, Format::Elf}) {
        if (name == FormatName(f))
            return f;
    }
    return std::nullopt;
}

QString FormatName(Format format)
{
    switch (format) {
    case Format::Auto:
        return QStringLiteral("auto");
    case Format::Bin:
        return QStringLiteral("bin");
    case Format::Ihex:
        return QStringLiteral("ihex");
    case Format::Srec:
        return QStringLiteral("srec");
    case Format::Elf:
        return QStringLiteral("elf");
    }
    return QString();
}

LoadResult Load(QByteArrayView content, Format format)
{
    // The readers contain their libraries' errors; this is for memory running out.
    try {
        return LoadUnguarded(content, format);
    } catch (const std::bad_alloc&) {
        return Refused(QStringLiteral("out of memory while reading the image"));
    } catch (...) {
        return Refused(QStringLiteral("unexpected error while reading the image"));
    }
}

}  // namespace modburn::image
