// Frame building, hex digits, checksums and the reply rules.

#include "frame/frame.h"

namespace modburn::frame {

namespace {

// Places frame bytes from position 0 on, folding the ones that the checksum
// covers into FrameXor as they are placed.
class Writer {
public:
    Writer(SendBuffer& buf, std::uint8_t* xorSum) : buf_(buf), xor_(xorSum) {}

    void Put(std::uint8_t byte, bool checksummed = true)
    {
        buf_[static_cast<std::size_t>(pos_)] = byte;
        if (checksummed && xor_ != nullptr)
            *xor_ ^= byte;
        ++pos_;
    }
    void PutRaw(std::uint8_t byte) { Put(byte, false); }
    void PutHex(std::uint32_t value, int width)
    {
        for (int shift = (width - 1) * 4; shift >= 0; shift -= 4)
            Put(static_cast<std::uint8_t>(HexDigit((value >> shift) & 0xFu)));
    }
    void PutHeader(char command, char qualifier)
    {
        PutRaw(STX);
        Put(static_cast<std::uint8_t>(Lead));
        Put(static_cast<std::uint8_t>(command));
        Put(static_cast<std::uint8_t>(qualifier));
    }
    // Two checksum digits then the ETX, neither of them checksummed.
    void PutHexChecksumAndEtx(std::uint8_t sum)
    {
        PutRaw(static_cast<std::uint8_t>(HexDigit(sum >> 4)));
        PutRaw(static_cast<std::uint8_t>(HexDigit(sum & 0xFu)));
        PutRaw(ETX);
    }
    int Length() const { return pos_; }

private:
    SendBuffer& buf_;
    std::uint8_t* xor_;
    int pos_ = 0;
};

std::uint16_t Low16(std::int16_t value)
{
    return static_cast<std::uint16_t>(value);
}

}  // namespace

char HexDigit(unsigned nibble)
{
    return "0123456789ABCDEF"[nibble & 0xFu];
}

std::string Hex(std::uint32_t value, int width)
{
    std::string digits(static_cast<std::size_t>(width), '0');
    for (int i = width - 1; i >= 0 && value != 0; --i, value >>= 4)
        digits[static_cast<std::size_t>(i)] = HexDigit(value & 0xFu);
    return digits;
}

int BuildShortFrame(SendBuffer& SendBuf, char command)
{
    Writer w(SendBuf, nullptr);
    w.PutHeader(command, QualModule);
    w.PutRaw(ETX);
    return w.Length();
}

int BuildPageFrame(SendBuffer& SendBuf, std::uint8_t& FrameXor, int page,
                   std::span<const std::uint8_t, ModulePageSize> data)
{
    FrameXor = 0;
    Writer w(SendBuf, &FrameXor);
    w.PutHeader(CmdWrite, QualModule);
    w.PutHex(static_cast<std::uint32_t>(page) & 0xFFu, 2);
    for (std::uint8_t byte : data)
        w.PutHex(byte, 2);
    w.PutRaw(ETX);
    w.PutRaw(FrameXor);  // raw byte, may well equal STX or ETX
    return w.Length();
}

int BuildFontPageFrame(SendBuffer& SendBuf, std::uint8_t& FrameXor, std::int16_t page,
                       std::span<const std::uint8_t, FontPageSize> data)
{
    FrameXor = 0;
    Writer w(SendBuf, &FrameXor);
    w.PutHeader(CmdWrite, QualFont);
    w.PutHex(Low16(page), 4);
    for (std::uint8_t byte : data)
        w.PutHex(byte, 2);
    w.PutHexChecksumAndEtx(FrameXor);
    return w.Length();
}

int BuildCheckFrame(SendBuffer& SendBuf, std::uint8_t& FrameXor, char qualifier, std::int16_t sPage, std::int16_t ePage,
                    std::uint32_t checksum)
{
    FrameXor = 0;
    Writer w(SendBuf, &FrameXor);
    w.PutHeader(CmdCheck, qualifier);
    w.PutHex(Low16(sPage), 4);
    w.PutHex(Low16(ePage), 4);
    w.PutHex(checksum, 8);
    w.PutHexChecksumAndEtx(FrameXor);
    return w.Length();
}

bool PageAccepted(std::uint8_t reply)
{
    return reply == PageAcceptedByte;
}

bool FontPageAccepted(std::span<const std::uint8_t> reply)
{
    return reply.size() >= static_cast<std::size_t>(FontPageReply.length) && reply[3] == 'O' && reply[4] == 'K';
}

bool CheckReplyMatches(std::span<const std::uint8_t> reply, const SendBuffer& SendBuf)
{
    constexpr auto length = static_cast<std::size_t>(CheckReply.length);
    if (reply.size() < length)
        return false;
    const auto sameAsSent = [&](std::size_t at, std::size_t from) { return reply[at] == SendBuf[from]; };
    bool echoed = true;
    for (std::size_t i = 0; i < length && echoed; ++i)
        echoed = sameAsSent(i, i);
    if (echoed)
        return false;
    for (std::size_t i = 0; i < 8; ++i) {
        if (!sameAsSent(11 + i, 12 + i))
            return false;
    }
    return true;
}

std::string LockText(std::uint8_t value)
{
    return value < 0x10 ? std::string(1, HexDigit(value)) : Hex(value, 2);
}

bool LocksExpected(std::uint8_t lock1, std::uint8_t lock2, std::uint8_t lock3)
{
    // The texts are compared, which for bytes is the same as comparing values.
    return lock1 == ExpectedLocks[0] && lock2 == ExpectedLocks[1] && lock3 == ExpectedLocks[2];
}

}  // namespace modburn::frame
