// Fuzzes the frame builders and the reply rules against the simulated device:
// every frame built from fuzzed fields is fed, whole or in pieces, to a fresh
// device, which must store exactly what was built and answer so that the
// matching reply rule passes. The harness keeps its own record of the flash
// and the font pages, and its own font sums.

#include "fuzzinput.h"

#include "device.h"
#include "frame/frame.h"
#include "wire.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

using namespace modburn;
namespace fr = modburn::frame;
using modburn::fuzz::Filler;
using modburn::fuzz::Input;

namespace {

using Bytes = std::vector<std::uint8_t>;
using FontPage = std::array<std::uint8_t, fr::FontPageSize>;

constexpr int MaxFrames = 12;

// What the harness expects the device to hold, built from what it sent.
struct Record {
    std::array<std::uint8_t, devsim::ModuleFlashSize> flash;
    std::map<int, FontPage> fontPages;

    Record() { flash.fill(0xFF); }

    std::uint32_t FontSum(std::uint16_t first, std::uint16_t last) const
    {
        std::uint32_t sum = 0;
        for (const auto& [page, data] : fontPages) {
            if (page < first || page > last)
                continue;
            for (std::uint8_t b : data)
                sum += b;
        }
        return sum;
    }
};

// Feeds a frame whole or in pieces; only the piece that completes it may
// bring answers.
std::vector<devsim::Action> Feed(devsim::Session& session, const Bytes& wire, Input& in)
{
    std::vector<devsim::Action> actions;
    const std::uint8_t pieces = in.Byte();
    Filler sizes(pieces);
    std::size_t pos = 0;
    while (pos < wire.size()) {
        std::size_t n = wire.size() - pos;
        if (pieces != 0)
            n = std::min<std::size_t>(n, 1 + sizes.Next() % (pieces & 0x80 ? 8 : 200));
        const std::span<const std::uint8_t> piece(wire.data() + pos, n);
        pos += n;
        std::vector<devsim::Action> got = session.Feed(piece);
        FUZZ_CHECK(got.empty() || pos == wire.size(), "no answer before the frame is complete");
        actions.insert(actions.end(), got.begin(), got.end());
    }
    return actions;
}

// What a wait would have in RecBuf after these answers arrived.
fr::RecBuffer Received(const std::vector<devsim::Action>& actions)
{
    fr::RecBuffer buf{};
    std::size_t count = 0;
    for (const devsim::Action& a : actions) {
        for (std::uint8_t b : a.bytes) {
            if (count < buf.size())
                buf[count++] = b;
        }
    }
    return buf;
}

void ExpectLocks(const std::vector<devsim::Action>& actions)
{
    FUZZ_CHECK(actions.size() == 2, "the lock bytes follow in a write of their own");
    FUZZ_CHECK(actions[1].bytes == Bytes(fr::ExpectedLocks.begin(), fr::ExpectedLocks.end()),
               "the lock bytes are AF DC CC");
    FUZZ_CHECK(fr::LocksExpected(actions[1].bytes[0], actions[1].bytes[1], actions[1].bytes[2]),
               "the lock rule accepts the device's lock bytes");
}

// Returns false when the sequence cannot go on.
bool ShortFrame(devsim::Device& device, devsim::Session& session, Record& record, Input& in)
{
    static constexpr std::array<char, 3> known{fr::CmdBurnEnable, fr::CmdSearch, fr::CmdErase};
    const std::uint8_t pick = in.Byte();
    const char command = pick < 0xC0 ? known[pick % known.size()] : static_cast<char>(in.Byte());

    fr::SendBuffer buf{};
    const Bytes wire = WireBytes(buf, fr::BuildShortFrame(buf, command));
    FUZZ_CHECK(wire.size() == fr::ShortFrameLen, "a short frame has five bytes");
    const devsim::Counters before = device.Stats();
    const std::vector<devsim::Action> actions = Feed(session, wire, in);

    if (command == fr::CmdWrite) {
        // 'W','Q' heads a module page frame: the device waits for the rest.
        FUZZ_CHECK(actions.empty() && session.Pending() == wire.size(), "a page header is held for its page");
        return false;
    }
    FUZZ_CHECK(session.Pending() == 0, "a short frame is taken whole");
    if (command != fr::CmdBurnEnable && command != fr::CmdSearch && command != fr::CmdErase) {
        FUZZ_CHECK(actions.empty(), "an unknown command gets no answer");
        FUZZ_CHECK(device.Stats().unknownCommands == before.unknownCommands + 1, "the device saw an unknown command");
        return true;
    }
    FUZZ_CHECK(actions.size() == 1 && actions[0].bytes == Bytes{devsim::AckByte}, "a short command is acknowledged");
    FUZZ_CHECK(static_cast<int>(actions[0].bytes.size()) >= fr::ShortReply.length, "the reply fills the short rule");
    if (command == fr::CmdErase)
        record.flash.fill(0xFF);
    return true;
}

void PageFrame(devsim::Device& device, devsim::Session& session, Record& record, Input& in)
{
    const bool inRange = in.Byte() < 0xE0;
    const int page = inRange ? in.Range(0, fr::ModulePages - 1) : in.Range(fr::ModulePages, 255);
    std::array<std::uint8_t, fr::ModulePageSize> data{};
    if (in.Bit()) {
        const Bytes raw = in.Bytes(data.size());
        std::copy(raw.begin(), raw.end(), data.begin());
    } else {
        const Bytes made = Filler(in.U32()).Bytes(data.size());
        std::copy(made.begin(), made.end(), data.begin());
    }

    fr::SendBuffer buf{};
    std::uint8_t x = 0x5A;  // whatever it held before: the builder starts it afresh
    const Bytes wire = WireBytes(buf, fr::BuildPageFrame(buf, x, page, data));
    FUZZ_CHECK(wire.size() == fr::PageFrameLen, "a page frame has 136 bytes");
    const std::vector<devsim::Action> actions = Feed(session, wire, in);
    FUZZ_CHECK(session.Pending() == 0, "a page frame is taken whole");
    FUZZ_CHECK(!actions.empty() && actions[0].bytes.size() == 1, "a page is answered with one byte");
    const fr::RecBuffer reply = Received(actions);

    if (inRange) {
        std::copy(data.begin(), data.end(), record.flash.begin() + page * fr::ModulePageSize);
        FUZZ_CHECK(fr::PageAccepted(reply[0]), "the page rule accepts the device's answer");
        if (page == devsim::LastModulePage)
            ExpectLocks(actions);
        else
            FUZZ_CHECK(actions.size() == 1, "only the last page brings lock bytes");
    } else {
        FUZZ_CHECK(!fr::PageAccepted(reply[0]), "a page past the flash is refused");
        ExpectLocks(actions);
    }
    FUZZ_CHECK(device.Flash() == record.flash, "the flash holds exactly the pages sent");
}

void FontPageFrame(devsim::Device& device, devsim::Session& session, Record& record, Input& in)
{
    const auto page = static_cast<std::int16_t>(in.U16());
    FontPage data{};
    if (in.Bit()) {
        const Bytes raw = in.Bytes(data.size());
        std::copy(raw.begin(), raw.end(), data.begin());
    } else {
        const Bytes made = Filler(in.U32()).Bytes(data.size());
        std::copy(made.begin(), made.end(), data.begin());
    }

    fr::SendBuffer buf{};
    std::uint8_t x = 0xA5;
    const Bytes wire = WireBytes(buf, fr::BuildFontPageFrame(buf, x, page, data));
    FUZZ_CHECK(wire.size() == fr::FontPageFrameLen, "a font page frame has 523 bytes");
    const std::vector<devsim::Action> actions = Feed(session, wire, in);
    FUZZ_CHECK(session.Pending() == 0, "a font page frame is taken whole");
    FUZZ_CHECK(actions.size() == 1 && static_cast<int>(actions[0].bytes.size()) == fr::FontPageReply.length,
               "a font page is answered with eight bytes");
    const fr::RecBuffer reply = Received(actions);

    // Four digits carry the low 16 bits; the device keeps pages up to 7FFF.
    const auto number = static_cast<std::uint16_t>(page);
    if (number <= devsim::MaxFontPage) {
        record.fontPages[number] = data;
        FUZZ_CHECK(fr::FontPageAccepted(reply), "the font page rule accepts the device's answer");
    } else {
        FUZZ_CHECK(!fr::FontPageAccepted(reply), "a font page past 7FFF is refused");
    }
    FUZZ_CHECK(device.FontPageCount() == record.fontPages.size(), "the device holds the font pages sent");
    if (number <= devsim::MaxFontPage)
        FUZZ_CHECK(device.FontPage(number) == data, "the font page holds exactly the bytes sent");
}

void CheckFrame(devsim::Session& session, const Record& record, Input& in)
{
    const char qualifier = in.Bit() ? fr::QualChecksum : fr::QualFont;
    // Near pages already sent, or anywhere.
    const bool near = in.Bit() && !record.fontPages.empty();
    const int base = near ? record.fontPages.begin()->first : 0;
    const auto sPage = static_cast<std::int16_t>(near ? base - in.Range(0, 3) : in.U16());
    const auto ePage = static_cast<std::int16_t>(near ? base + in.Range(-1, 40) : in.U16());
    const std::uint32_t sum = record.FontSum(static_cast<std::uint16_t>(sPage), static_cast<std::uint16_t>(ePage));
    const bool right = in.Byte() < 0xC0;
    const std::uint32_t checksum = right ? sum : in.U32();

    fr::SendBuffer buf{};
    std::uint8_t x = 0;
    const Bytes wire = WireBytes(buf, fr::BuildCheckFrame(buf, x, qualifier, sPage, ePage, checksum));
    FUZZ_CHECK(wire.size() == fr::CheckFrameLen, "a check frame has 23 bytes");
    const std::vector<devsim::Action> actions = Feed(session, wire, in);
    FUZZ_CHECK(session.Pending() == 0, "a check frame is taken whole");
    FUZZ_CHECK(actions.size() == 1 && static_cast<int>(actions[0].bytes.size()) == fr::CheckReply.length,
               "a check is answered with 22 bytes");
    FUZZ_CHECK(fr::CheckReplyMatches(Received(actions), buf) == (checksum == sum),
               "the check rule passes exactly when the sum sent is the harness's own");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    devsim::Device device;
    devsim::Session session(device);
    Record record;
    for (int i = 0; i < MaxFrames && !in.Empty(); ++i) {
        switch (in.Byte() % 4) {
        case 0:
            if (!ShortFrame(device, session, record, in))
                return 0;
            break;
        case 1:
            PageFrame(device, session, record, in);
            break;
        case 2:
            FontPageFrame(device, session, record, in);
            break;
        default:
            CheckFrame(session, record, in);
            break;
        }
        FUZZ_CHECK(session.Discarded() == 0, "no byte of a built frame is thrown away");
        FUZZ_CHECK(!session.Closed(), "the device keeps the connection");
    }
    return 0;
}
