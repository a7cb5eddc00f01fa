#pragma once

// A firmware image file as users have it (raw binary, Intel HEX, Motorola
// S-record or an AVR ELF) turned into the module's flash bytes, with the
// digest that is the same whichever of the four carried the firmware.

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>

namespace modburn::image {

inline constexpr int FlashSize = 8192;
// Far above any file that can fill 8192 bytes, even an ELF with debug data.
inline constexpr qint64 MaxFileBytes = qint64{16} * 1024 * 1024;

enum class Format { Auto, Bin, Ihex, Srec, Elf };

// "auto", "bin", "ihex", "srec" or "elf"; nothing for any other name.
std::optional<Format> ParseFormat(QStringView name);
QString FormatName(Format format);

struct Image {
    // Every byte at its own address; an address the file does not cover is 0.
    std::array<std::uint8_t, FlashSize> flash{};
    Format format = Format::Bin;  // the format found or forced, never Auto
    // Up to and including the last byte the file holds (a raw file: its size), 1..FlashSize.
    int length = 0;
    QString sha256;  // of flash[0, length), lower-case hex
};

// Exactly one of the two is set.
struct LoadResult {
    std::optional<Image> image;
    QString error;  // one line, naming the line or section when there is one
};

// The flash bytes `content` holds, read as `format`. Auto tells the format by
// the content and refuses text that is no known format rather than taking it
// as raw bytes; only a forced Bin takes any bytes as they are. Never throws.
LoadResult Load(QByteArrayView content, Format format = Format::Auto);

}  // namespace modburn::image
