// Fuzzes the image reader on any bytes, under every forced format and Auto:
// it must not crash, and it either refuses in one line or gives a flash image
// that holds its length, its digest and, for raw bytes, the bytes themselves.
// What Auto finds must read the same when that format is forced.

#include "fuzzinput.h"

#include "image/image.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cstdint>

using namespace modburn::image;

namespace {

void CheckResult(const LoadResult& got, QByteArrayView input, Format asked)
{
    FUZZ_CHECK(got.image.has_value() != !got.error.isEmpty(), "an image or a reason, never both or neither");
    if (!got.image) {
        FUZZ_CHECK(!got.error.contains(QLatin1Char('\n')), "the reason is one line");
        return;
    }
    const Image& image = *got.image;
    FUZZ_CHECK(image.format != Format::Auto, "the format found is named");
    FUZZ_CHECK(asked == Format::Auto || image.format == asked, "a forced format is the one read");
    FUZZ_CHECK(image.length >= 1 && image.length <= FlashSize, "the length lies within the flash");
    FUZZ_CHECK(
        std::all_of(image.flash.begin() + image.length, image.flash.end(), [](std::uint8_t b) { return b == 0; }),
        "nothing past the length");
    const QByteArrayView held(reinterpret_cast<const char*>(image.flash.data()), image.length);
    FUZZ_CHECK(image.sha256 == QString::fromLatin1(QCryptographicHash::hash(held, QCryptographicHash::Sha256).toHex()),
               "the digest is of the flash up to the length");
    if (image.format == Format::Bin) {
        FUZZ_CHECK(held == input, "raw bytes are the flash as they are");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const Format forced : {Format::Bin, Format::Ihex, Format::Srec, Format::Elf})
        CheckResult(Load(input, forced), input, forced);

    const LoadResult found = Load(input, Format::Auto);
    CheckResult(found, input, Format::Auto);
    if (found.image) {
        const LoadResult again = Load(input, found.image->format);
        FUZZ_CHECK(again.image && again.image->flash == found.image->flash &&
                       again.image->length == found.image->length && again.image->sha256 == found.image->sha256,
                   "what Auto finds reads the same when forced");
    }
    return 0;
}
