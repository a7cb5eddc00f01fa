// An AVR ELF's flash bytes through libelf: .text and .data at their load
// addresses, as `avr-objcopy -O binary -j .text -j .data` takes them.

#include "image/flash.h"

#include <gelf.h>
#include <libelf.h>

#include <memory>
#include <vector>

namespace modburn::image {

namespace {

constexpr int AvrMachine = 83;  // EM_AVR

QString ElfError()
{
    return QString::fromUtf8(elf_errmsg(-1));
}

// The section's load address: in a loadable segment, where the segment puts
// its file bytes (.data sits in RAM but is loaded after .text in flash);
// outside of one, its own address.
std::uint64_t LoadAddress(Elf* elf, const GElf_Shdr& section)
{
    std::size_t count = 0;
    if (elf_getphdrnum(elf, &count) != 0)
        return section.sh_addr;
    for (std::size_t i = 0; i < count; ++i) {
        GElf_Phdr segment;
        if (gelf_getphdr(elf, static_cast<int>(i), &segment) == nullptr || segment.p_type != PT_LOAD)
            continue;
        const bool inFile = section.sh_offset >= segment.p_offset && section.sh_size <= segment.p_filesz &&
                            section.sh_offset - segment.p_offset <= segment.p_filesz - section.sh_size;
        const bool inMemory = section.sh_addr >= segment.p_vaddr && section.sh_size <= segment.p_memsz &&
                              section.sh_addr - segment.p_vaddr <= segment.p_memsz - section.sh_size;
        if (inFile && inMemory)
            return segment.p_paddr + (section.sh_offset - segment.p_offset);
    }
    return section.sh_addr;
}

struct ElfEnd {
    void operator()(Elf* elf) const { elf_end(elf); }
};

}  // namespace

std::optional<QString> ReadElf(QByteArrayView content, FlashImage& flash)
{
    static const bool ready = elf_version(EV_CURRENT) != EV_NONE;
    if (!ready)
        return QStringLiteral("ELF: libelf is unusable: %1").arg(ElfError());

    // libelf takes a writable buffer, and reads from it until elf_end.
    std::vector<char> bytes(content.begin(), content.end());
    const std::unique_ptr<Elf, ElfEnd> elf(elf_memory(bytes.data(), bytes.size()));
    if (!elf || elf_kind(elf.get()) != ELF_K_ELF)
        return QStringLiteral("not an ELF file");

    GElf_Ehdr header;
    if (gelf_getehdr(elf.get(), &header) == nullptr)
        return QStringLiteral("ELF: bad header: %1").arg(ElfError());
    if (header.e_machine != AvrMachine)
        return QStringLiteral("ELF for machine %1, not AVR (%2)").arg(header.e_machine).arg(AvrMachine);
    if (header.e_type == ET_REL)
        return QStringLiteral("ELF object file, not a linked program");

    std::size_t names = 0;
    if (elf_getshdrstrndx(elf.get(), &names) != 0)
        return QStringLiteral("ELF: no section names: %1").arg(ElfError());

    for (Elf_Scn* scn = elf_nextscn(elf.get(), nullptr); scn != nullptr; scn = elf_nextscn(elf.get(), scn)) {
        GElf_Shdr section;
        if (gelf_getshdr(scn, &section) == nullptr)
            return QStringLiteral("ELF: bad section header: %1").arg(ElfError());
        const char* name = elf_strptr(elf.get(), names, section.sh_name);
        if (name == nullptr || (qstrcmp(name, ".text") != 0 && qstrcmp(name, ".data") != 0))
            continue;
        if (section.sh_type == SHT_NOBITS || (section.sh_flags & SHF_ALLOC) == 0 || section.sh_size == 0)
            continue;
        const QString where = QStringLiteral("section %1").arg(QLatin1String(name));
        if ((section.sh_flags & SHF_COMPRESSED) != 0)
            return where + QStringLiteral(": compressed");

        const std::uint64_t address = LoadAddress(elf.get(), section);
        std::uint64_t placed = 0;
        for (Elf_Data* data = elf_rawdata(scn, nullptr); data != nullptr; data = elf_rawdata(scn, data)) {
            if (data->d_buf == nullptr || data->d_size == 0)
                continue;
            const auto* from = static_cast<const std::uint8_t*>(data->d_buf);
            // Only the first piece can be out of range, so the sum cannot wrap.
            if (const auto why = flash.Put(address + placed, std::span(from, data->d_size)))
                return where + QStringLiteral(": ") + *why;
            placed += data->d_size;
        }
        if (placed != section.sh_size)
            return where + QStringLiteral(": cannot read its bytes: %1").arg(ElfError());
    }
    if (flash.Empty())
        return QStringLiteral("ELF has no .text or .data to load");
    return std::nullopt;
}

}  // namespace modburn::image
